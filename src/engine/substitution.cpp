// Bracket references: "[" sigil inner "]", innermost first, pass after pass.
//
// The scanner is equivalent to matching "\[{[#$@%~!]}{[^\[\]]*?}\]" over the
// text's characters (a trail byte that happens to be "[" or "]" is no
// bracket), without compiling a pattern or converting the text.
//
// Text that a pass inserts is never read again as a reference: every "[" and
// "]" byte of an inserted value is marked, and a marked bracket is an
// ordinary character. So a variable holding "[@writefile<<<...]" stays text,
// while "[#x[#i]]" still resolves in two passes because the outer brackets
// are the script's own.
#include <cstring>
#include <mutex>
#include <vector>

#include "engine/script_runner.h"
#include "native/native_calls.h"
#include "regex/regex_pattern.h"
#include "support/codepage.h"
#include "support/messages.h"
#include "support/text.h"

namespace qp {
namespace {

constexpr int kMaxPasses = 100;

// Valid two-byte GBK characters, as the code-page conversion decodes them.
class GbkPairs {
 public:
  static bool Valid(unsigned char lead, unsigned char trail) {
    static const GbkPairs table;
    return table.valid_[(lead << 8) | trail];
  }

 private:
  GbkPairs() : valid_(1 << 16, false) {
    for (int lead = 0x81; lead <= 0xFE; ++lead) {
      for (int trail = 0x40; trail <= 0xFE; ++trail) {
        const char pair[2] = {static_cast<char>(lead), static_cast<char>(trail)};
        std::string utf8 = ConvertCodePage(std::string_view(pair, 2), kCodePageGbk, kCodePageUtf8);
        valid_[(lead << 8) | trail] = !utf8.empty() && utf8[0] != '?';
      }
    }
  }
  std::vector<bool> valid_;
};

// Length of the character at text[i], with the boundaries the code-page
// conversion gives (an invalid pair is two characters, not one).
size_t MultibyteLength(std::string_view text, size_t i) {
  unsigned char c = static_cast<unsigned char>(text[i]);
  if (ActiveCodePage() == kCodePageUtf8) return CharLengthAt(text, i);
  if (c == 0x80 || c == 0xFF || i + 1 >= text.size()) return 1;
  return GbkPairs::Valid(c, static_cast<unsigned char>(text[i + 1])) ? 2 : 1;
}

inline size_t CharLength(std::string_view text, size_t i) {
  return static_cast<unsigned char>(text[i]) < 0x80 ? 1 : MultibyteLength(text, i);
}

bool IsSigil(char c) {
  return c == '#' || c == '$' || c == '@' || c == '%' || c == '~' || c == '!';
}

// The text of an operand during substitution, with the marks of inserted
// brackets. `marks` stays empty until a value with a bracket is inserted.
struct MarkedText {
  std::string text;
  std::vector<bool> marks;

  bool Bracket(size_t i, char which) const {
    return text[i] == which && (marks.empty() || !marks[i]);
  }
};

struct Reference {
  size_t start;  // the "["
  size_t end;    // one past the "]"
};

// Every innermost reference, left to right.
void FindReferences(const MarkedText& m, std::vector<Reference>& found) {
  found.clear();
  const std::string& t = m.text;
  size_t i = 0;
  while (i < t.size()) {
    if (!m.Bracket(i, '[') || i + 1 >= t.size() || !IsSigil(t[i + 1])) {
      i += CharLength(t, i);
      continue;
    }
    size_t j = i + 2;
    while (j < t.size() && !m.Bracket(j, '[') && !m.Bracket(j, ']')) j += CharLength(t, j);
    if (j >= t.size()) return;  // no closing bracket anywhere after i
    if (m.Bracket(j, ']')) {
      found.push_back({i, j + 1});
      i = j + 1;
    } else {
      i = j;  // an opening bracket inside: the innermost pair starts later
    }
  }
}

bool SameOccurrence(const MarkedText& m, size_t at, const std::string& ref,
                    const std::vector<bool>& refMarks) {
  if (m.text.compare(at, ref.size(), ref) != 0) return false;
  for (size_t k = 0; k < ref.size(); ++k) {
    if (ref[k] != '[' && ref[k] != ']') continue;
    bool marked = !m.marks.empty() && m.marks[at + k];
    bool refMarked = !refMarks.empty() && refMarks[k];
    if (marked != refMarked) return false;
  }
  return true;
}

// Replaces every occurrence of the reference `ref` (an unmarked "[" at a
// character boundary, the same bytes, brackets marked alike) by `value`.
// The new text is built in `out`, which then trades places with m.
void ReplaceOccurrences(MarkedText& m, const std::string& ref, const std::vector<bool>& refMarks,
                        const std::string& value, MarkedText& out) {
  const bool valueHasBracket = value.find_first_of("[]") != std::string::npos;
  const bool keepMarks = valueHasBracket || !m.marks.empty();
  out.text.clear();
  out.marks.clear();
  // Copies the unchanged bytes [from, to) in one piece.
  auto copyRun = [&](size_t from, size_t to) {
    out.text.append(m.text, from, to - from);
    if (!keepMarks) return;
    for (size_t k = from; k < to; ++k) out.marks.push_back(!m.marks.empty() && m.marks[k]);
  };
  size_t run = 0;
  size_t i = 0;
  while (i < m.text.size()) {
    if (m.text[i] == '[' && SameOccurrence(m, i, ref, refMarks)) {
      copyRun(run, i);
      out.text += value;
      if (keepMarks) out.marks.insert(out.marks.end(), value.size(), true);
      i += ref.size();
      run = i;
      continue;
    }
    i += CharLength(m.text, i);
  }
  copyRun(run, m.text.size());
  std::swap(m, out);
}

std::string RegexResult(ScriptRunner& runner, const std::string& inner) {
  SplitResult parts = Split(inner, ".");
  if (!parts.found || parts.first.empty()) {
    ReportError(runner, Msg(MessageId::kFormatError), inner);
    return std::string();
  }
  std::string field = AsciiLower(Trim(parts.rest));
  auto it = runner.regexes.find(parts.first);
  if (it == runner.regexes.end()) {
    ReportError(runner, parts.first + Msg(MessageId::kRegexMissing), inner);
    return inner;
  }
  const RegexPattern& pattern = *it->second;
  if (field == "count") return ToDecimal(static_cast<int64_t>(pattern.results().size()));
  if (field == "group") return ToDecimal(pattern.groupCount());
  int32_t n = LeadingInt(field);
  if (n < 0 || static_cast<size_t>(n) >= pattern.results().size()) {
    ReportError(runner, Msg(MessageId::kIndexOutOfRange), inner);
    return std::string();
  }
  return pattern.results()[static_cast<size_t>(n)];
}

std::string QueryResult(ScriptRunner& runner, const std::string& inner) {
  SplitResult parts = Split(inner, ".");
  if (!parts.found || parts.first.empty()) {
    ReportError(runner, Msg(MessageId::kFormatError), inner);
    return std::string();
  }
  std::string field = AsciiLower(Trim(parts.rest));
  const QueryTable& table = runner.queryResults[parts.first];
  if (field == "count") return ToDecimal(static_cast<int64_t>(table.size()));
  SplitResult cell = Split(field, ".");
  if (!cell.found) {
    ReportError(runner, Msg(MessageId::kFormatError), inner);
    return std::string();
  }
  int32_t row = LeadingInt(cell.first);
  int32_t column = LeadingInt(cell.rest);
  if (row < 0 || static_cast<size_t>(row) >= table.size()) {
    ReportError(runner, Msg(MessageId::kIndexOutOfRangeAscii), inner);
    return std::string();
  }
  const auto& columns = table[static_cast<size_t>(row)];
  // A column outside the row reads as empty text.
  if (column < 0 || static_cast<size_t>(column) >= columns.size()) return std::string();
  return columns[static_cast<size_t>(column)];
}

std::string Resolve(ScriptRunner& runner, char sigil, const std::string& inner) {
  switch (sigil) {
    case '#': return runner.variables.Get(inner);
    case '@': return CallBuiltin(runner, inner);
    case '$': return RegexResult(runner, inner);
    case '%': return QueryResult(runner, inner);
    default: return CallNativeFunction(runner, inner);  // '~'
  }
}

struct Found {
  std::string ref;
  std::vector<bool> marks;
};

// Working storage of one substitution, kept per thread so that the hot loop
// allocates nothing once warm; a nested substitution (a hook that substitutes
// while a reference is being resolved) gets fresh storage.
struct Scratch {
  std::vector<Reference> refs;
  std::vector<Found> found;
  MarkedText spare;
  bool busy = false;
};

// A pass that found a single reference: it is its own only occurrence (any
// other would have been found too), so its value goes straight in its place.
bool SpliceOnly(ScriptRunner& runner, MarkedText& m, const Reference& r) {
  if (m.text[r.start + 1] == '!') return false;
  std::string value = Resolve(runner, m.text[r.start + 1],
                              m.text.substr(r.start + 2, r.end - r.start - 3));
  const size_t length = r.end - r.start;
  if (!m.marks.empty() || value.find_first_of("[]") != std::string::npos) {
    if (m.marks.empty()) m.marks.assign(m.text.size(), false);
    m.marks.erase(m.marks.begin() + r.start, m.marks.begin() + r.end);
    m.marks.insert(m.marks.begin() + r.start, value.size(), true);
  }
  m.text.replace(r.start, length, value);
  return true;
}

// One pass; false when it found nothing that could change in a later pass.
// The references are taken from the text the pass began with, and each one
// then replaces its occurrences in the text as it is by then.
bool SubstitutePass(ScriptRunner& runner, MarkedText& m, Scratch& s) {
  FindReferences(m, s.refs);
  if (s.found.size() < s.refs.size()) s.found.resize(s.refs.size());
  for (size_t k = 0; k < s.refs.size(); ++k) {
    const Reference& r = s.refs[k];
    Found& f = s.found[k];
    f.ref.assign(m.text, r.start, r.end - r.start);
    f.marks.clear();
    if (!m.marks.empty()) f.marks.assign(m.marks.begin() + r.start, m.marks.begin() + r.end);
  }
  if (s.refs.size() == 1) return SpliceOnly(runner, m, s.refs[0]);
  bool changed = false;
  for (size_t k = 0; k < s.refs.size(); ++k) {
    const Found& f = s.found[k];
    char sigil = f.ref[1];
    if (sigil == '!') continue;  // stays as it is, and computes nothing
    changed = true;
    std::string value = Resolve(runner, sigil, f.ref.substr(2, f.ref.size() - 3));
    ReplaceOccurrences(m, f.ref, f.marks, value, s.spare);
  }
  return changed;
}

}  // namespace

void Substitute(ScriptRunner& runner, std::string& text) {
  if (std::memchr(text.data(), '[', text.size()) == nullptr) return;
  thread_local Scratch shared;
  Scratch fresh;
  Scratch& s = shared.busy ? fresh : shared;
  s.busy = true;
  MarkedText m{std::move(text), {}};
  for (int pass = 0; pass < kMaxPasses; ++pass) {
    if (!SubstitutePass(runner, m, s)) break;
    // Without any "[" of the script's own left, a further pass finds nothing.
    if (m.marks.empty() && std::memchr(m.text.data(), '[', m.text.size()) == nullptr) break;
  }
  text = std::move(m.text);
  s.busy = false;
}

}  // namespace qp
