// Bracket references: "[" sigil inner "]", innermost first, pass after pass.
//
// The scanner is equivalent to matching "\[{[#$@%~!]}{[^\[\]]*?}\]" over the
// text's characters (a trail byte that happens to be "[" or "]" is no
// bracket), without compiling a pattern or converting the text.
//
// Text that a pass inserts is never read again as a reference. Beside the
// text the substitution keeps the origin of every byte (the script's own, or
// inserted by a pass), and three rules follow from it:
// - an inserted "[" or "]" is an ordinary character: it neither opens nor
//   closes a reference, so a variable holding "[@writefile<<<...]" stays
//   text, while "[#x[#i]]" still resolves in two passes because the outer
//   brackets are the script's own;
// - a character never spans the boundary between inserted text and the
//   script's own text: each run of bytes of one origin is measured on its
//   own (characters.h), so a value that ends in a lead byte keeps that byte
//   as a character of its own, and the script's "]" after it still closes;
// - a "<<<" that a pass inserted never separates the items of a built-in or
//   native call: only a "<<<" of three own bytes does, so a page's text is
//   always one argument.
// An occurrence of a reference is the same bytes from the same origins.
//
// Origins are only recorded once a value is inserted whose origin can change
// how the text is read (one with a bracket, a "<" or a byte from 0x80 up):
// the bytes of any other value are plain ASCII characters that read the same
// whatever their origin, so most operands never pay for the record.
#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/command_table.h"
#include "engine/operand_template.h"
#include "engine/script_runner.h"
#include "engine/builtins.h"
#include "engine/substitution.h"
#include "regex/regex_pattern.h"
#include "support/characters.h"
#include "support/messages.h"
#include "support/text.h"

namespace qp {
namespace {

constexpr int kMaxPasses = 100;

// One byte per text byte: 1 where a pass inserted it. Empty: all the
// script's own.
using Origins = std::vector<uint8_t>;

bool IsSigil(char c) {
  return c == '#' || c == '$' || c == '@' || c == '%' || c == '~' || c == '!';
}

// True when the origin of the value's bytes can matter to a later reading.
bool NeedsOrigins(std::string_view value) {
  for (unsigned char c : value)
    if (c == '[' || c == ']' || c == '<' || c >= 0x80) return true;
  return false;
}

// The text of an operand during substitution, with its bytes' origins.
struct MarkedText {
  std::string text;
  Origins inserted;

  bool Inserted(size_t i) const { return !inserted.empty() && inserted[i] != 0; }
};

// A bracket of the script's own that starts a character.
struct Bracket {
  size_t at;
  char which;  // '[' or ']'
};

// Every own bracket, left to right. Each run of one origin is measured as a
// text of its own, so no character reaches from one run into the next;
// inserted runs hold no brackets at all.
void OwnBrackets(const MarkedText& m, std::vector<Bracket>& out) {
  out.clear();
  const std::string& t = m.text;
  auto scanRun = [&](size_t from, size_t to) {
    std::string_view run(t.data() + from, to - from);
    for (size_t k = 0; k < run.size();) {
      const unsigned char c = static_cast<unsigned char>(run[k]);
      if (c >= 0x80) {
        k += CharLengthAt(run, k);
        continue;
      }
      if (c == '[' || c == ']') out.push_back({from + k, static_cast<char>(c)});
      ++k;
    }
  };
  if (m.inserted.empty()) {
    scanRun(0, t.size());
    return;
  }
  for (size_t i = 0; i < t.size();) {
    size_t end = i;
    const uint8_t origin = m.inserted[i];
    while (end < t.size() && m.inserted[end] == origin) ++end;
    if (origin == 0) scanRun(i, end);
    i = end;
  }
}

struct Reference {
  size_t start;  // the "["
  size_t end;    // one past the "]"
};

// Every innermost reference, left to right: an own "[" with a sigil after it
// whose next own bracket is a "]".
void FindReferences(const MarkedText& m, const std::vector<Bracket>& brackets,
                    std::vector<Reference>& found) {
  found.clear();
  for (size_t k = 0; k + 1 < brackets.size(); ++k) {
    const Bracket& open = brackets[k];
    if (open.which != '[' || open.at + 1 >= m.text.size() || !IsSigil(m.text[open.at + 1]))
      continue;
    const Bracket& close = brackets[k + 1];
    if (close.which != ']') continue;
    found.push_back({open.at, close.at + 1});
    ++k;
  }
}

// A reference taken out of the text: its bytes and their origins.
struct Found {
  std::string ref;
  Origins inserted;
};

void TakeReference(const MarkedText& m, const Reference& r, Found& f) {
  f.ref.assign(m.text, r.start, r.end - r.start);
  f.inserted.clear();
  if (!m.inserted.empty())
    f.inserted.assign(m.inserted.begin() + r.start, m.inserted.begin() + r.end);
}

bool SameOrigins(const MarkedText& m, size_t at, const Found& f) {
  for (size_t k = 0; k < f.ref.size(); ++k) {
    const bool refInserted = !f.inserted.empty() && f.inserted[k] != 0;
    if (m.Inserted(at + k) != refInserted) return false;
  }
  return true;
}

// Working storage of one substitution, kept per thread so that the hot loop
// allocates nothing once warm; a nested substitution (a hook that substitutes
// while a reference is being resolved) gets fresh storage.
struct Scratch {
  std::vector<Bracket> brackets;
  std::vector<Reference> refs;
  std::vector<Found> found;
  MarkedText spare;
  bool busy = false;
};

// Replaces every occurrence of `f` (at an own "[", the same bytes from the
// same origins) by `value`, which counts as inserted. The new text is built
// in `out`, which then trades places with m.
void ReplaceOccurrences(MarkedText& m, const Found& f, const std::string& value, Scratch& s) {
  MarkedText& out = s.spare;
  const bool keepOrigins = !m.inserted.empty() || NeedsOrigins(value);
  out.text.clear();
  out.inserted.clear();
  auto copyRun = [&](size_t from, size_t to) {
    out.text.append(m.text, from, to - from);
    if (!keepOrigins) return;
    if (m.inserted.empty()) out.inserted.insert(out.inserted.end(), to - from, 0);
    else out.inserted.insert(out.inserted.end(), m.inserted.begin() + from, m.inserted.begin() + to);
  };
  OwnBrackets(m, s.brackets);
  size_t run = 0;
  for (const Bracket& b : s.brackets) {
    if (b.which != '[' || b.at < run) continue;
    if (m.text.compare(b.at, f.ref.size(), f.ref) != 0 || !SameOrigins(m, b.at, f)) continue;
    copyRun(run, b.at);
    out.text += value;
    if (keepOrigins) out.inserted.insert(out.inserted.end(), value.size(), 1);
    run = b.at + f.ref.size();
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

// The items of a call: the inner text cut at every "<<<" of three own bytes.
// "<" is never a trail byte, so a byte-wise search finds only whole "<<<".
std::vector<std::string> CallItems(std::string_view inner, const uint8_t* inserted) {
  std::vector<std::string> items;
  const size_t n = std::strlen(kCallItemSeparator);
  auto own = [&](size_t at) {
    if (!inserted) return true;
    for (size_t k = 0; k < n; ++k)
      if (inserted[at + k]) return false;
    return true;
  };
  size_t pos = 0;
  for (size_t hit = inner.find(kCallItemSeparator); hit != std::string_view::npos;
       hit = inner.find(kCallItemSeparator, hit + 1)) {
    if (hit < pos || !own(hit)) continue;
    items.emplace_back(inner.substr(pos, hit - pos));
    pos = hit + n;
  }
  items.emplace_back(inner.substr(pos));
  return items;
}

// The value of the reference [r.start, r.end) of m.
std::string Resolve(ScriptRunner& runner, const MarkedText& m, const Reference& r) {
  const char sigil = m.text[r.start + 1];
  const std::string inner = m.text.substr(r.start + 2, r.end - r.start - 3);
  const uint8_t* inserted = m.inserted.empty() ? nullptr : m.inserted.data() + r.start + 2;
  switch (sigil) {
    case '#': return runner.variables.Get(inner);
    case '@': return CallBuiltin(runner, CallItems(inner, inserted), inner);
    case '$': return RegexResult(runner, inner);
    case '%': return QueryResult(runner, inner);
    default: return ReadNativeCall(runner, CallItems(inner, inserted), inner);  // '~'
  }
}

// The value of reference r, without a copy where it is a variable's: a
// reference to the variable, or to `computed`, which holds any other value.
const std::string& ValueOf(ScriptRunner& runner, const MarkedText& m, const Reference& r,
                           std::string& computed) {
  if (m.text[r.start + 1] == '#') {
    return runner.variables.Get(m.text.substr(r.start + 2, r.end - r.start - 3));
  }
  computed = Resolve(runner, m, r);
  return computed;
}

// A pass that found a single reference: it is its own only occurrence (any
// other would have been found too), so its value goes straight in its place.
// Where the text around it holds no "[" at all, no later pass can find
// anything: the value goes in once, without a record of its bytes' origin,
// and `finished` is set.
bool SpliceOnly(ScriptRunner& runner, MarkedText& m, const Reference& r, bool& finished) {
  if (m.text[r.start + 1] == '!') return false;
  std::string computed;
  const std::string& value = ValueOf(runner, m, r, computed);
  std::string_view before(m.text.data(), r.start);
  std::string_view after(m.text.data() + r.end, m.text.size() - r.end);
  if (m.inserted.empty() && before.find('[') == std::string_view::npos &&
      after.find('[') == std::string_view::npos) {
    finished = true;
    if (!before.empty() || !after.empty()) {
      m.text.replace(r.start, r.end - r.start, value);
    } else if (&value == &computed) {
      m.text = std::move(computed);
    } else {
      m.text = value;
    }
    return true;
  }
  if (!m.inserted.empty() || NeedsOrigins(value)) {
    if (m.inserted.empty()) m.inserted.assign(m.text.size(), 0);
    m.inserted.erase(m.inserted.begin() + r.start, m.inserted.begin() + r.end);
    m.inserted.insert(m.inserted.begin() + r.start, value.size(), 1);
  }
  m.text.replace(r.start, r.end - r.start, value);
  return true;
}

// One pass; false when it found nothing that could change in a later pass.
// The references are taken from the text the pass began with, and each one
// then replaces its occurrences in the text as it is by then.
bool SubstitutePass(ScriptRunner& runner, MarkedText& m, Scratch& s, bool& finished) {
  OwnBrackets(m, s.brackets);
  FindReferences(m, s.brackets, s.refs);
  if (s.refs.size() == 1) return SpliceOnly(runner, m, s.refs[0], finished);
  if (s.found.size() < s.refs.size()) s.found.resize(s.refs.size());
  for (size_t k = 0; k < s.refs.size(); ++k) TakeReference(m, s.refs[k], s.found[k]);
  bool changed = false;
  MarkedText alone;
  std::string computed;
  for (size_t k = 0; k < s.refs.size(); ++k) {
    const Found& f = s.found[k];
    if (f.ref[1] == '!') continue;  // stays as it is, and computes nothing
    changed = true;
    // The reference as a text of its own, so that it resolves exactly as it
    // was found, whatever the earlier replacements of this pass did.
    alone.text = f.ref;
    alone.inserted = f.inserted;
    const std::string& value = ValueOf(runner, alone, Reference{0, f.ref.size()}, computed);
    ReplaceOccurrences(m, f, value, s);
  }
  return changed;
}

}  // namespace

SplitResult Split(const std::string& text, const std::string& separator) {
  size_t position;
  size_t skip = 1;
  if (!separator.empty()) {
    position = text.find(separator);
    skip = separator.size();
  } else {
    position = text.find(' ');
    if (position == std::string::npos) position = text.find('\t');
  }
  SplitResult result;
  if (position == std::string::npos) {
    result.first = std::string(TrimRight(text));
    return result;
  }
  result.first = text.substr(0, position);
  result.rest = std::string(TrimLeft(std::string_view(text).substr(position + skip)));
  result.found = true;
  return result;
}

void Expand(ScriptRunner& runner, std::string& text) {
  Substitute(runner, text);
  Evaluate(runner, text);
}

std::string Expanded(ScriptRunner& runner, std::string text) {
  Expand(runner, text);
  return text;
}

void Substitute(ScriptRunner& runner, std::string& text) {
  if (std::memchr(text.data(), '[', text.size()) == nullptr) return;
  thread_local Scratch shared;
  Scratch fresh;
  Scratch& s = shared.busy ? fresh : shared;
  s.busy = true;
  MarkedText m{std::move(text), {}};
  for (int pass = 0; pass < kMaxPasses; ++pass) {
    bool finished = false;
    if (!SubstitutePass(runner, m, s, finished) || finished) break;
    // Without any "[" of the script's own left, a further pass finds nothing.
    if (m.inserted.empty() && std::memchr(m.text.data(), '[', m.text.size()) == nullptr) break;
  }
  text = std::move(m.text);
  s.busy = false;
}

}  // namespace qp

// ---------------------------------------------------------------------------
// Operand templates (operand_template.h).

namespace qp {

OperandTemplate::OperandTemplate(std::string source) : source_(std::move(source)) {
  Compile();
  CompileExpression();
}

void OperandTemplate::Compile() {
  if (std::memchr(source_.data(), '[', source_.size()) == nullptr) return;  // NoReference
  MarkedText own{source_, {}};
  std::vector<Bracket> brackets;
  OwnBrackets(own, brackets);
  // The passes of the substitution, on the brackets alone: each round pairs
  // every own "[" with a sigil after it whose next remaining own bracket is
  // a "]" (FindReferences), and takes both out, as an insert would.
  std::vector<size_t> alive(brackets.size());
  for (size_t k = 0; k < alive.size(); ++k) alive[k] = k;
  std::vector<size_t> next;
  for (bool found = true; found;) {
    found = false;
    next.clear();
    for (size_t k = 0; k < alive.size(); ++k) {
      const Bracket& open = brackets[alive[k]];
      if (k + 1 < alive.size() && open.which == '[' && open.at + 1 < source_.size() &&
          IsSigil(source_[open.at + 1]) && brackets[alive[k + 1]].which == ']') {
        Node node;
        node.open = static_cast<uint32_t>(open.at);
        node.close = static_cast<uint32_t>(brackets[alive[k + 1]].at + 1);
        node.sigil = source_[open.at + 1];
        nodes_.push_back(std::move(node));
        ++k;
        found = true;
        continue;
      }
      next.push_back(alive[k]);
    }
    alive.swap(next);
  }
  if (nodes_.empty()) return;  // own brackets, but no reference: the text stays
  std::sort(nodes_.begin(), nodes_.end(),
            [](const Node& a, const Node& b) { return a.open < b.open; });
  // An own "[" right before a reference would take its sigil from the value
  // inserted there: the structure then depends on the values.
  for (const Bracket& b : brackets) {
    if (b.which != '[') continue;
    for (const Node& node : nodes_) {
      if (node.open == b.at + 1) {
        shape_ = Shape::TextBased;
        nodes_.clear();
        return;
      }
    }
  }
  // Nesting: references are intervals that either nest or are apart.
  std::vector<int32_t> open;
  bool nested = false;
  for (int32_t k = 0; k < static_cast<int32_t>(nodes_.size()); ++k) {
    while (!open.empty() && nodes_[open.back()].close <= nodes_[k].open) open.pop_back();
    if (open.empty()) {
      top_.push_back(k);
    } else {
      nodes_[open.back()].children.push_back(k);
      nested = true;
    }
    open.push_back(k);
  }
  shape_ = nested ? Shape::Nested : Shape::Leaves;
  pure_ = true;
  for (int32_t k = 0; k < static_cast<int32_t>(nodes_.size()); ++k) {
    Node& node = nodes_[k];
    node.group = k;
    for (int32_t j = 0; j < k; ++j) {
      if (NodeText(nodes_[j]) == NodeText(node)) {
        node.group = nodes_[j].group;
        break;
      }
    }
    if (node.sigil != '#') pure_ = false;
  }
  values_.resize(nodes_.size());
}

void OperandTemplate::CompileExpression() {
  if (shape_ == Shape::TextBased || shape_ == Shape::Nested) return;
  if (source_.size() < 2 || source_.front() != '(' || source_.back() != ')') return;
  std::vector<ExpressionProgram::Piece> pieces;
  size_t pos = 0;
  for (size_t t = 0; t < top_.size(); ++t) {
    const Node& node = nodes_[static_cast<size_t>(top_[t])];
    pieces.push_back({std::string_view(source_).substr(pos, node.open - pos)});
    pieces.push_back({std::string_view(), static_cast<int32_t>(t)});
    pos = node.close;
  }
  pieces.push_back({std::string_view(source_).substr(pos)});
  expression_ = program_.Compile(pieces);
  holes_.resize(top_.size());
}

void OperandTemplate::ResolveLeaf(ScriptRunner& runner, Node& node, std::string& value) {
  if (node.sigil == '#') {
    if (!node.slot) node.slot = &runner.variables.Ref(std::string(NodeText(node).substr(2, node.close - node.open - 3)));
    value = *node.slot;
    return;
  }
  MarkedText alone{std::string(NodeText(node)), {}};
  value = Resolve(runner, alone, Reference{0, alone.text.size()});
}

// One pass resolves every reference, left to right. A reference equal to an
// earlier one takes the earlier one's value (the pass replaced all equal
// occurrences at once) but is resolved again all the same, as the pass does;
// for a "#" that second reading changes nothing and is left out.
void OperandTemplate::ResolveLeaves(ScriptRunner& runner) {
  for (int32_t k = 0; k < static_cast<int32_t>(nodes_.size()); ++k) {
    Node& node = nodes_[k];
    if (node.sigil == '!') continue;
    if (pure_) {
      if (!node.slot)
        node.slot = &runner.variables.Ref(std::string(NodeText(node).substr(2, node.close - node.open - 3)));
      continue;
    }
    if (node.group != k) {
      if (node.sigil == '#') continue;
      std::string discarded;
      ResolveLeaf(runner, node, discarded);
      continue;
    }
    ResolveLeaf(runner, node, values_[k]);
  }
}

std::string_view OperandTemplate::LeafValue(const Node& node) const {
  if (node.sigil == '!') return NodeText(node);
  if (pure_) return *node.slot;
  return values_[static_cast<size_t>(node.group)];
}

void OperandTemplate::AssembleLeaves(std::string& out) const {
  out.clear();
  size_t pos = 0;
  for (const Node& node : nodes_) {
    out.append(source_, pos, node.open - pos);
    out.append(LeafValue(node));
    pos = node.close;
  }
  out.append(source_, pos, std::string::npos);
}

struct OperandTemplate::State {
  std::vector<uint8_t> replaced;
  std::vector<uint8_t> recorded;  // the value's bytes count as inserted
  std::vector<std::string> value;
};

// Pass after pass, as the text-based substitution runs them, on the nodes:
// a node is read once all its children are replaced. Where the text-based
// path keeps the origin of the bytes only once a value needs it, a node
// records whether its value counts as inserted, so that equal occurrences
// compare exactly as they do there.
void OperandTemplate::SubstituteNested(ScriptRunner& runner, std::string& out) {
  const size_t n = nodes_.size();
  State st;
  st.replaced.assign(n, 0);
  st.recorded.assign(n, 0);
  st.value.resize(n);
  bool recording = false;
  auto innermost = [&](size_t k) {
    if (st.replaced[k]) return false;
    for (int32_t c : nodes_[k].children)
      if (!st.replaced[static_cast<size_t>(c)]) return false;
    return true;
  };
  // The current text of node k (its children as they are now), with the
  // origins of its bytes when `origins` is given.
  auto append = [&](auto& self, size_t k, std::string& text, Origins* origins) -> void {
    if (st.replaced[k]) {
      text += st.value[k];
      if (origins) origins->insert(origins->end(), st.value[k].size(), st.recorded[k]);
      return;
    }
    const Node& node = nodes_[k];
    size_t pos = node.open;
    for (int32_t c : node.children) {
      const Node& child = nodes_[static_cast<size_t>(c)];
      text.append(source_, pos, child.open - pos);
      if (origins) origins->insert(origins->end(), child.open - pos, 0);
      self(self, static_cast<size_t>(c), text, origins);
      pos = child.close;
    }
    text.append(source_, pos, node.close - pos);
    if (origins) origins->insert(origins->end(), node.close - pos, 0);
  };
  auto take = [&](size_t k, MarkedText& m) {
    m.text.clear();
    m.inserted.clear();
    append(append, k, m.text, &m.inserted);
  };
  auto replace = [&](size_t k, std::string value, bool keep) {
    st.replaced[k] = 1;
    st.recorded[k] = keep ? 1 : 0;
    st.value[k] = std::move(value);
  };
  // The items of built-in call k, made straight from the source and the
  // values of its children, which are moved in: a child's value is read only
  // through its parent, and the parent is replaced next. The items are cut
  // where the text would be, at every "<<<" of three own bytes: inserted
  // values are never cut, and an empty one leaves the own bytes around it
  // side by side. (A value that counts as own holds no "<".)
  auto callItems = [&](size_t k) {
    const Node& node = nodes_[k];
    std::vector<std::string> items(1);
    int run = 0;  // own "<" just before, not yet a separator
    auto own = [&](size_t from, size_t to) {
      for (size_t i = from; i < to; ++i) {
        const char c = source_[i];
        items.back() += c;
        run = c == '<' ? run + 1 : 0;
        if (run == 3) {
          items.back().resize(items.back().size() - 3);
          items.emplace_back();
          run = 0;
        }
      }
    };
    size_t pos = node.open + 2;
    for (int32_t c : node.children) {
      const Node& child = nodes_[static_cast<size_t>(c)];
      own(pos, child.open);
      std::string& value = st.value[static_cast<size_t>(c)];
      if (!value.empty()) {
        if (items.back().empty()) items.back() = std::move(value);
        else items.back() += value;
        std::string().swap(value);
        run = 0;
      }
      pos = child.close;
    }
    own(pos, node.close - 1);
    return items;
  };
  std::vector<size_t> inner;
  std::vector<MarkedText> found;
  MarkedText f;
  MarkedText candidate;
  for (int pass = 0; pass < kMaxPasses; ++pass) {
    inner.clear();
    for (size_t k = 0; k < n; ++k)
      if (innermost(k)) inner.push_back(k);
    if (inner.empty()) break;
    if (inner.size() == 1) {
      const size_t k = inner[0];
      if (nodes_[k].sigil == '!') break;
      std::string value;
      if (nodes_[k].sigil == '@') {
        value = CallBuiltin(runner, callItems(k));
      } else {
        take(k, f);
        value = Resolve(runner, f, Reference{0, f.text.size()});
      }
      const bool keep = recording || NeedsOrigins(value);
      replace(k, std::move(value), keep);
      recording = recording || keep;
      continue;
    }
    // The references as the pass found them: an earlier one of this pass
    // may replace a later one, which is still resolved as it was found.
    if (found.size() < inner.size()) found.resize(inner.size());
    for (size_t j = 0; j < inner.size(); ++j) take(inner[j], found[j]);
    bool changed = false;
    for (size_t j = 0; j < inner.size(); ++j) {
      if (nodes_[inner[j]].sigil == '!') continue;
      changed = true;
      const MarkedText& f = found[j];
      std::string value = Resolve(runner, f, Reference{0, f.text.size()});
      const bool keep = recording || NeedsOrigins(value);
      for (size_t r = 0; r < n; ++r) {
        if (!innermost(r)) continue;
        take(r, candidate);
        if (candidate.text == f.text && candidate.inserted == f.inserted) replace(r, value, keep);
      }
      recording = recording || keep;
    }
    if (!changed) break;
  }
  out.clear();
  size_t pos = 0;
  for (int32_t t : top_) {
    const Node& node = nodes_[static_cast<size_t>(t)];
    out.append(source_, pos, node.open - pos);
    append(append, static_cast<size_t>(t), out, nullptr);
    pos = node.close;
  }
  out.append(source_, pos, std::string::npos);
}

void OperandTemplate::Substitute(ScriptRunner& runner, std::string& out) {
  switch (shape_) {
    case Shape::NoReference:
      out = source_;
      return;
    case Shape::Leaves:
      ResolveLeaves(runner);
      AssembleLeaves(out);
      return;
    case Shape::Nested:
      SubstituteNested(runner, out);
      return;
    case Shape::TextBased:
      out = source_;
      qp::Substitute(runner, out);
      return;
  }
}

void OperandTemplate::Expand(ScriptRunner& runner, std::string& out) {
  if (!expression_ || busy_) {
    Substitute(runner, out);
    Evaluate(runner, out);
    return;
  }
  busy_ = true;
  if (shape_ == Shape::Leaves) {
    ResolveLeaves(runner);
    bool plain = true;
    for (size_t t = 0; t < top_.size() && plain; ++t) {
      plain = ReadPlainNumber(LeafValue(nodes_[static_cast<size_t>(top_[t])]), holes_[t]);
    }
    if (!plain || !program_.reduces()) {
      // Not a number where one is expected: the text-based evaluator decides.
      AssembleLeaves(out);
      if (!plain) Evaluate(runner, out);
      busy_ = false;
      return;
    }
  } else if (!program_.reduces()) {
    out = source_;
    busy_ = false;
    return;
  }
  WriteNumber(runner, program_.Run(holes_.data()), out);
  busy_ = false;
}

void ExpandOperand(ScriptRunner& runner, const std::string& operand, std::string& out) {
  runner.operands.For(operand).Expand(runner, out);
}

OperandTemplate& OperandCache::For(const std::string& operand) {
  std::unique_ptr<OperandTemplate>& entry = templates_[&operand];
  if (!entry || entry->source() != operand) entry = std::make_unique<OperandTemplate>(operand);
  return *entry;
}

}  // namespace qp
