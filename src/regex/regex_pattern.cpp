#include "regex/regex_pattern.h"

#include <locale.h>
#include <wctype.h>

#include <limits>
#include <unordered_map>

#include "regex/regex_rewrite.h"
#include "support/characters.h"
#include "support/codepage.h"

namespace qp {
namespace {

// Simple Unicode lower-case mapping of every UTF-16 unit, taken once from the
// C library's C.UTF-8 character tables (independent of the process locale).
const std::vector<char16_t>& LowerTable() {
  static const std::vector<char16_t> table = [] {
    std::vector<char16_t> t(65536);
    locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    for (uint32_t c = 0; c < 65536; ++c) {
      uint32_t lower = c;
      if (c >= 'A' && c <= 'Z') lower = c + 32;
      else if (utf8 && c >= 0x80 && (c < 0xD800 || c > 0xDFFF))
        lower = static_cast<uint32_t>(towlower_l(static_cast<wint_t>(c), utf8));
      t[c] = static_cast<char16_t>(lower <= 0xFFFF ? lower : c);
    }
    if (utf8) freelocale(utf8);
    return t;
  }();
  return table;
}

}  // namespace

void RegexLowerCase(std::u16string& text) {
  const char16_t* table = LowerTable().data();
  char16_t* p = text.data();
  const size_t n = text.size();
  size_t i = 0;
  // Blocks of ASCII take a branch-free path the compiler vectorises.
  constexpr size_t kBlock = 16;
  for (; i + kBlock <= n; i += kBlock) {
    char16_t any = 0;
    for (size_t k = 0; k < kBlock; ++k) any |= p[i + k];
    if (any < 0x80) {
      for (size_t k = 0; k < kBlock; ++k) {
        char16_t c = p[i + k];
        p[i + k] = static_cast<char16_t>(c + (static_cast<char16_t>(c - u'A') < 26 ? 32 : 0));
      }
    } else {
      for (size_t k = 0; k < kBlock; ++k) p[i + k] = table[p[i + k]];
    }
  }
  for (; i < n; ++i) p[i] = table[p[i]];
}

RegexPattern::RegexPattern() = default;

RegexPattern::RegexPattern(std::string_view pattern) {
  std::u16string wide = ToWide(pattern);
  RegexLowerCase(wide);
  error_ = CompileRegex(wide, program_);
  valid_ = error_ == kRegexOk;
  groupCount_ = program_.groupCount;
  slotCount_ = program_.slotCount;
}

void RegexPattern::BeginCall(size_t units) {
  state_.stepsLeft = RegexStepBudget(limits_, units);
  state_.limitReached = false;
}

void RegexPattern::EndCall() { RegexTrimMemo(state_); }

bool RegexPattern::Search(std::u16string_view lowered, int32_t start, int32_t& next) {
  if (!valid_ || start < 0 || static_cast<size_t>(start) >= lowered.size() ||
      lowered.size() >= static_cast<size_t>(std::numeric_limits<int32_t>::max()))
    return false;
  return RegexSearch(program_, lowered, start, state_, limits_, next);
}

bool RegexPattern::Match(std::u16string_view lowered, int32_t start, int32_t& next) {
  BeginCall(lowered.size());
  const bool matched = Search(lowered, start, next);
  EndCall();
  return matched;
}

bool RegexPattern::Prepare(std::string_view text) {
  ToWide(text, subject_.wide, subject_.offsets);
  RegexLowerCase(subject_.wide);
  return !subject_.wide.empty() &&
         subject_.wide.size() < static_cast<size_t>(std::numeric_limits<int32_t>::max());
}

std::string RegexPattern::SpanText(std::string_view text, const Subject& subject,
                                   std::pair<int32_t, int32_t> span) {
  auto [from, to] = span;
  if (from < 0 || to < from) return {};
  uint32_t begin = subject.offsets[from];
  return std::string(text.substr(begin, subject.offsets[to] - begin));
}

int32_t RegexPattern::NextStart(int32_t next) const {
  return state_.matchEnd == state_.matchStart ? next + 1 : next;
}

void RegexPattern::CollectSpans() {
  const int32_t n = static_cast<int32_t>(subject_.wide.size());
  spans_.clear();
  BeginCall(subject_.wide.size());
  int32_t next = 0;
  bool matched = Search(subject_.wide, 0, next);
  while (matched) {
    spans_.insert(spans_.end(), state_.groups.begin(), state_.groups.end());
    next = NextStart(next);
    if (next >= n) break;
    matched = Search(subject_.wide, next, next);
  }
  EndCall();
}

int32_t RegexPattern::MatchAll(std::string_view text) {
  results_.clear();
  lastGroupCount_ = 0;
  if (!valid_ || text.empty() || !Prepare(text)) return 0;
  lastGroupCount_ = groupCount_;
  if (groupCount_ == 0) return 0;
  // Ranges first, texts afterwards: the offset lookups then no longer wait
  // on each other between searches.
  CollectSpans();
  results_.reserve(spans_.size());
  for (const auto& span : spans_) results_.push_back(SpanText(text, subject_, span));
  return static_cast<int32_t>(results_.size());
}

std::string RegexPattern::Replacement(std::string_view text, std::string_view replacement,
                                      size_t first) const {
  std::string copy(replacement);
  for (int32_t g = 1; g < groupCount_; ++g)
    copy = ReplaceOnBoundaries(copy, "$" + std::to_string(g),
                               SpanText(text, subject_, spans_[first + g]));
  return copy;
}

std::string RegexPattern::ReplaceAll(std::string_view text, std::string_view replacement) {
  if (!valid_ || text.empty() || groupCount_ == 0 || !Prepare(text)) return std::string(text);
  CollectSpans();
  if (spans_.empty()) return std::string(text);
  // A match whose group-0 text was replaced everywhere before can only find
  // occurrences that removals have joined since; for each text, the number
  // of the first join its last search did not see.
  std::unordered_map<std::string_view, uint64_t> searched;
  RewrittenText result(text);
  std::vector<RewrittenText::Hit> hits;
  const size_t groups = static_cast<size_t>(groupCount_);
  for (size_t first = 0; first < spans_.size(); first += groups) {
    auto [from, to] = spans_[first];
    if (from < 0 || to < from) continue;
    const uint32_t begin = subject_.offsets[from];
    const std::string_view marked = text.substr(begin, subject_.offsets[to] - begin);
    if (marked.empty()) continue;
    auto [entry, fresh] = searched.try_emplace(marked, 0);
    if (!fresh && entry->second == result.joinCount()) continue;
    hits.clear();
    if (fresh)
      result.FindEverywhere(marked, hits);
    else
      result.FindAtJoins(marked, entry->second, hits);
    entry->second = result.joinCount();
    if (!hits.empty()) result.Replace(hits, Replacement(text, replacement, first));
  }
  return result.Result();
}

std::string RegexPattern::Listing() const {
  std::string out;
  const auto& code = program_.instructions;
  for (size_t i = 0; i < code.size(); ++i) {
    out += std::to_string(i) + '\t' + RegexOpcodeName(code[i].opcode) + '\t' +
           std::to_string(code[i].operand) + '\n';
  }
  return out;
}

}  // namespace qp
