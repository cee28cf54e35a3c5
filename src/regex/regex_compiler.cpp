#include "regex/regex_compiler.h"

#include <string_view>
#include <utility>

namespace qp {

const char* RegexOpcodeName(int32_t opcode) {
  switch (opcode) {
#define QP_REGEX_NAME(name, number) \
  case number:                      \
    return #name;
    QP_REGEX_OPCODES(QP_REGEX_NAME)
#undef QP_REGEX_NAME
  }
  return "?";
}

namespace {

enum class NodeKind { Literal, EndOfText, Any, Class, Group, Paren, Not, BackRef, Sequence,
                      Alternation, Quantified };

struct Node {
  NodeKind kind = NodeKind::Literal;
  int32_t value = 0;   // unit, group number, back-reference number or quantifier
  int32_t child = -1;  // group or parenthesis content, "!" item, quantified item
  bool negated = false;
  bool canBeEmpty = false;  // the dialect's rule, which "*" and "+" check
  // Whether the item may in fact match the empty text: also true for "!"
  // and back-references, which the dialect's rule counts as not empty.
  bool mayMatchEmpty = false;
  std::vector<int32_t> items;  // sequence items; alternatives (the last may be -1)
  std::vector<std::pair<char16_t, char16_t>> ranges;
};

// The nine abbreviations: only the first item of each definition (with its
// quantifier) is compiled. "\n" lists CR LF and LF before a lone CR so that one
// CR LF is one line end.
std::u16string_view AbbreviationDefinition(char16_t letter) {
  switch (letter) {
    case u'a': return u"([a-zA-Z0-9])";
    case u'b': return u"([ \\t])";
    case u'c': return u"([a-zA-Z])";
    case u'd': return u"([0-9])";
    case u'h': return u"([0-9a-fA-F])";
    case u'n': return u"((\r?\n)|\r)";
    case u'q': return u"(\"[^\"]*\")|('[^']*')";
    case u'w': return u"([a-zA-Z]+)";
    case u'z': return u"([0-9]+)";
    default: return {};
  }
}

bool IsCloser(char16_t c) { return c == u')' || c == u'}' || c == u']'; }

// Recursive descent over the pattern, building the tree in `nodes`. Every
// function returns a node index, or -1 when nothing was parsed or on error.
class Parser {
 public:
  Parser(std::u16string_view text, std::vector<Node>& nodes, int32_t& groups, int32_t depth)
      : p_(text), nodes_(nodes), groups_(groups), depth_(depth) {}

  int32_t error() const { return error_; }
  size_t position() const { return i_; }
  void Skip() { ++i_; }

  // sequence := alternation* (up to the end or a closing character)
  int32_t ParseSequence() {
    int32_t seq = NewNode(NodeKind::Sequence);
    bool empty = true, mayBeEmpty = true;
    while (i_ < p_.size() && !IsCloser(p_[i_])) {
      int32_t item = ParseAlternation();
      if (error_ || item < 0) break;
      nodes_[seq].items.push_back(item);
      empty = empty && nodes_[item].canBeEmpty;
      mayBeEmpty = mayBeEmpty && nodes_[item].mayMatchEmpty;
    }
    nodes_[seq].canBeEmpty = empty;
    nodes_[seq].mayMatchEmpty = mayBeEmpty;
    return error_ ? -1 : seq;
  }

  // alternation := quantified ("|" quantified)*
  int32_t ParseAlternation() {
    int32_t first = ParseQuantified();
    if (error_ || first < 0 || !At(u'|')) return first;
    int32_t alt = NewNode(NodeKind::Alternation);
    nodes_[alt].items.push_back(first);
    bool empty = nodes_[first].canBeEmpty, mayBeEmpty = nodes_[first].mayMatchEmpty;
    while (At(u'|')) {
      ++i_;
      int32_t next = ParseQuantified();
      if (error_) return -1;
      nodes_[alt].items.push_back(next);
      empty = empty || next < 0 || nodes_[next].canBeEmpty;
      mayBeEmpty = mayBeEmpty || next < 0 || nodes_[next].mayMatchEmpty;
      if (next < 0) break;
    }
    nodes_[alt].canBeEmpty = empty;
    nodes_[alt].mayMatchEmpty = mayBeEmpty;
    return alt;
  }

  // quantified := item ("*" | "+" | "?") "?"?
  int32_t ParseQuantified() {
    int32_t item = ParseItem();
    if (error_ || item < 0 || i_ >= p_.size()) return item;
    char16_t c = p_[i_];
    if (c != u'*' && c != u'+' && c != u'?') return item;
    bool lazy = i_ + 1 < p_.size() && p_[i_ + 1] == u'?';
    i_ += lazy ? 2 : 1;
    int32_t kind = c == u'*' ? (lazy ? kQuantLazyStar : kQuantStar)
                 : c == u'+' ? (lazy ? kQuantLazyPlus : kQuantPlus)
                             : (lazy ? kQuantLazyQuestion : kQuantQuestion);
    bool itemEmpty = nodes_[item].canBeEmpty;
    if (c != u'?' && itemEmpty) return Fail(kRegexEmptyLoop);
    int32_t q = NewNode(NodeKind::Quantified);
    nodes_[q].value = kind;
    nodes_[q].child = item;
    nodes_[q].canBeEmpty = lazy || c != u'+' || itemEmpty;
    nodes_[q].mayMatchEmpty = lazy || c != u'+' || nodes_[item].mayMatchEmpty;
    return q;
  }

  int32_t ParseItem() {
    if (i_ >= p_.size() || IsCloser(p_[i_])) return -1;
    char16_t c = p_[i_];
    if (c == u'$' && i_ + 1 == p_.size()) {
      int32_t end = Leaf(NodeKind::EndOfText, 0, 1);
      nodes_[end].mayMatchEmpty = true;
      return end;
    }
    if (c == u'.') return Leaf(NodeKind::Any, 0, 1);
    if (c == u'[') return ParseClass();
    if (c == u'\\') return ParseEscape();
    if (c != u'{' && c != u'(' && c != u'!') return Leaf(NodeKind::Literal, c, 1);
    if (++depth_ > kRegexMaxNesting) return Fail(kRegexOutOfMemory);
    ++i_;
    int32_t node = c == u'!' ? ParseNot() : ParseGroup(c == u'{');
    --depth_;
    return node;
  }

 private:
  bool At(char16_t c) const { return i_ < p_.size() && p_[i_] == c; }

  int32_t Fail(int32_t code) {
    if (!error_) error_ = code;
    return -1;
  }

  int32_t NewNode(NodeKind kind) {
    Node node;
    node.kind = kind;
    nodes_.push_back(std::move(node));
    return static_cast<int32_t>(nodes_.size() - 1);
  }

  int32_t Leaf(NodeKind kind, int32_t value, size_t length) {
    int32_t node = NewNode(kind);
    nodes_[node].value = value;
    i_ += length;
    return node;
  }

  // "{" sequence "}" captures; "(" sequence ")" only groups.
  int32_t ParseGroup(bool capturing) {
    int32_t group = capturing ? groups_++ : 0;
    int32_t content = ParseSequence();
    if (error_) return -1;
    if (!At(capturing ? u'}' : u')'))
      return Fail(capturing ? kRegexUnclosedBrace : kRegexUnclosedParen);
    ++i_;
    int32_t node = NewNode(capturing ? NodeKind::Group : NodeKind::Paren);
    nodes_[node].value = group;
    nodes_[node].child = content;
    nodes_[node].canBeEmpty = nodes_[content].canBeEmpty;
    nodes_[node].mayMatchEmpty = nodes_[content].mayMatchEmpty;
    return node;
  }

  // "!" item: a negative look-ahead. With no item after it, it asserts that
  // the empty text does not match, so it never succeeds.
  int32_t ParseNot() {
    int32_t item = ParseItem();
    if (error_) return -1;
    int32_t node = NewNode(NodeKind::Not);
    nodes_[node].child = item;
    nodes_[node].canBeEmpty = item < 0 || nodes_[item].canBeEmpty;
    nodes_[node].mayMatchEmpty = true;
    return node;
  }

  // One class member: a unit, "\t" for tab, "\x" for x. False at the end.
  bool ClassUnit(char16_t& unit) {
    if (i_ >= p_.size()) return false;
    if (p_[i_] == u'\\') {
      if (++i_ >= p_.size()) return false;
      unit = p_[i_] == u't' ? u'\t' : p_[i_];
    } else {
      unit = p_[i_];
    }
    ++i_;
    return true;
  }

  // "[" "^"? (unit ("-" unit)?)+ "]"
  int32_t ParseClass() {
    int32_t node = NewNode(NodeKind::Class);
    ++i_;
    if (At(u'^')) {
      nodes_[node].negated = true;
      ++i_;
    }
    while (!At(u']')) {
      char16_t low, high;
      if (!ClassUnit(low)) return Fail(kRegexUnclosedClass);
      high = low;
      if (At(u'-')) {
        ++i_;
        if (At(u']') || !ClassUnit(high)) return Fail(kRegexUnclosedClass);
        if (high < low) return Fail(kRegexReversedRange);
      }
      nodes_[node].ranges.emplace_back(low, high);
    }
    if (nodes_[node].ranges.empty()) return Fail(kRegexEmptyClass);
    ++i_;
    return node;
  }

  // "\" digits is a back-reference, "\" letter an abbreviation when the table
  // has it, "\" anything else that character (a trailing "\" is itself).
  int32_t ParseEscape() {
    ++i_;
    if (i_ >= p_.size()) return Leaf(NodeKind::Literal, u'\\', 0);
    char16_t c = p_[i_];
    if (c >= u'0' && c <= u'9') {
      int64_t number = 0;
      while (i_ < p_.size() && p_[i_] >= u'0' && p_[i_] <= u'9') {
        if (number <= INT32_MAX) number = number * 10 + (p_[i_] - u'0');
        ++i_;
      }
      if (number >= groups_) return Fail(kRegexBadBackReference);
      int32_t node = NewNode(NodeKind::BackRef);
      nodes_[node].value = static_cast<int32_t>(number);
      nodes_[node].mayMatchEmpty = true;
      return node;
    }
    std::u16string_view definition = AbbreviationDefinition(c);
    if (definition.empty()) return Leaf(NodeKind::Literal, c, 1);
    ++i_;
    Parser sub(definition, nodes_, groups_, depth_);
    int32_t node = sub.ParseQuantified();
    if (sub.error() == kRegexOutOfMemory) return Fail(kRegexOutOfMemory);
    if (sub.error() || node < 0) return Fail(kRegexBadAbbreviation);
    return node;
  }

  std::u16string_view p_;
  size_t i_ = 0;
  std::vector<Node>& nodes_;
  int32_t& groups_;
  int32_t depth_;
  int32_t error_ = 0;
};

// Emits the program for a tree. Slots are numbered in the order the
// instructions that own them are emitted; a "+" emits its item twice (the
// mandatory first occurrence, then the loop) with the same group numbers.
class Emitter {
 public:
  Emitter(const std::vector<Node>& nodes, RegexProgram& out) : nodes_(nodes), out_(out) {}

  bool full() const { return full_; }

  // Numbers every instruction that a Jump leads to, except those inside a
  // "!" item or inside the item of a "?" whose progress check can fail:
  // what happens there also depends on where that construct began.
  void MarkMemoPoints() {
    const auto& code = out_.instructions;
    std::vector<int32_t> inside(code.size() + 1, 0);
    for (auto [from, to] : unremembered_) {
      inside[from] += 1;
      inside[to] -= 1;
    }
    for (size_t i = 1; i < code.size(); ++i) inside[i] += inside[i - 1];
    out_.memoPoint.assign(code.size(), -1);
    out_.memoPointCount = 0;
    for (const RegexInstruction& in : code) {
      if (in.opcode != kOpJump || in.operand < 0 || in.operand >= Size()) continue;
      if (inside[in.operand] > 0) continue;
      int32_t& point = out_.memoPoint[in.operand];
      if (point < 0) point = out_.memoPointCount++;
    }
    out_.memoizable = memoizable_;
  }

  void MarkUnitLoops() {
    out_.unitLoopItem.assign(out_.instructions.size(), -1);
    out_.unitLoopNext.assign(out_.instructions.size(), -1);
    for (auto [loop, item] : unitLoops_) {
      out_.unitLoopItem[loop] = item;
      if (out_.instructions[loop].opcode == kOpPushSlot)
        out_.unitLoopNext[loop] = LiteralAt(out_.instructions[loop + 6].operand);
    }
  }

  // The unit that the instruction at `at` must match next, when the way there
  // only passes group bounds, empty contents and jumps; else -1.
  int32_t LiteralAt(int32_t at) const {
    const auto& code = out_.instructions;
    for (int steps = 0; steps < 16 && at < Size(); ++steps) {
      switch (code[at].opcode) {
        case kOpGroupStart:
        case kOpGroupEnd:
        case kOpNop: ++at; break;
        case kOpJump: at = code[at].operand; break;
        case kOpSymbol: return code[at].operand != 0 ? code[at].operand : -1;
        default: return -1;
      }
    }
    return -1;
  }

  int32_t Append(int32_t opcode, int32_t operand = 0) {
    auto& code = out_.instructions;
    if (full_ || code.size() >= static_cast<size_t>(kRegexMaxProgram)) {
      full_ = true;
      return Size();
    }
    code.push_back(RegexInstruction{opcode, operand});
    return Size() - 1;
  }

  void Patch(int32_t at, int32_t target) {
    if (at < Size()) out_.instructions[at].operand = target;
  }

  int32_t Size() const { return static_cast<int32_t>(out_.instructions.size()); }

  // Returns the first instruction emitted, -1 when nothing was. Emission
  // recurses once per nesting level; each construct has a function of its
  // own (not inlined), so that a level costs only the frames of the
  // constructs on its path.
  int32_t Emit(int32_t index) {
    if (full_) return Size();
    const Node& node = nodes_[index];
    switch (node.kind) {
      case NodeKind::Literal: return Append(kOpSymbol, node.value);
      case NodeKind::EndOfText: return Append(kOpSymbol, 0);
      case NodeKind::Any: return Append(kOpAnyChar);
      case NodeKind::BackRef:
        memoizable_ = false;
        return Append(kOpBackReference, node.value);
      case NodeKind::Class: return EmitClass(node);
      case NodeKind::Group: return EmitGroup(node);
      case NodeKind::Paren: return EmitParen(node);
      case NodeKind::Not: return EmitNot(node);
      case NodeKind::Sequence: return EmitSequence(node);
      case NodeKind::Alternation: return EmitAlternation(node);
      case NodeKind::Quantified: return EmitQuantified(node);
    }
    return -1;
  }

 private:
  int32_t NewSlot() { return out_.slotCount++; }

  [[gnu::noinline]] int32_t EmitSequence(const Node& node) {
    int32_t first = -1;
    for (int32_t item : node.items) {
      int32_t at = Emit(item);
      if (first < 0) first = at;
    }
    return first;
  }

  // A group's or parenthesis's content; an empty one still takes one Nop.
  void EmitContent(int32_t content) {
    if (Emit(content) < 0) Append(kOpNop);
  }

  [[gnu::noinline]] int32_t EmitClass(const Node& node) {
    int32_t first = Append(node.negated ? kOpNotCharRanges : kOpCharRanges);
    for (const auto& [low, high] : node.ranges) {
      Append(kOpNop, low);
      Append(kOpNop, high);
    }
    Patch(first, Size());
    return first;
  }

  // Saves the group's previous range so that backtracking out of the content
  // restores it.
  [[gnu::noinline]] int32_t EmitGroup(const Node& node) {
    ++groupsEmitted_;
    int32_t first = Append(kOpPushGroup, node.value);
    Append(kOpGroupStart, node.value);
    int32_t call = Append(kOpCall);
    Append(kOpPopGroup, node.value);
    Append(kOpReturn);
    Patch(call, Size());
    EmitContent(node.child);
    Append(kOpGroupEnd, node.value);
    return first;
  }

  [[gnu::noinline]] int32_t EmitParen(const Node& node) {
    int32_t first = Append(kOpCall);
    Append(kOpReturn);
    Patch(first, Size());
    EmitContent(node.child);
    return first;
  }

  // Runs the item as a subroutine; its success restores position and stack
  // and fails, its exhaustion restores them and goes on. A group inside the
  // item keeps what it captured when the item succeeds (the frames that would
  // restore it are dropped), so such a program never remembers failures.
  [[gnu::noinline]] int32_t EmitNot(const Node& node) {
    int32_t position = NewSlot(), depth = NewSlot();
    int32_t first = Append(kOpStorePosition, position);
    Append(kOpStoreStackDepth, depth);
    int32_t call = Append(kOpCall);
    Append(kOpLoadPosition, position);
    Append(kOpLoadStackDepth, depth);
    int32_t skip = Append(kOpJump);
    Patch(call, Size());
    const int32_t item = Size(), groups = groupsEmitted_;
    if (node.child >= 0) Emit(node.child);
    if (groupsEmitted_ != groups) memoizable_ = false;
    Append(kOpLoadPosition, position);
    Append(kOpLoadStackDepth, depth);
    Append(kOpReturn);
    unremembered_.emplace_back(item, Size());
    Patch(skip, Size());
    return first;
  }

  // Each alternative but the last is tried in a frame whose backtrack entry
  // restores the position and jumps to the next alternative.
  [[gnu::noinline]] int32_t EmitAlternation(const Node& node) {
    int32_t first = Size();
    std::vector<int32_t> exits;
    const size_t last = node.items.size() - 1;
    for (size_t k = 0; k < last; ++k) {
      Append(kOpPushPosition);
      int32_t call = Append(kOpCall);
      Append(kOpPopPosition);
      int32_t next = Append(kOpJump);
      Patch(call, Size());
      Emit(node.items[k]);
      exits.push_back(Append(kOpJump));
      Patch(next, Size());
    }
    if (node.items[last] >= 0) Emit(node.items[last]);
    for (int32_t exit : exits) Patch(exit, Size());
    return first;
  }

  [[gnu::noinline]] int32_t EmitQuantified(const Node& node) {
    switch (node.value) {
      case kQuantStar: return EmitGreedy(node.child, true);
      case kQuantQuestion: return EmitGreedy(node.child, false);
      case kQuantPlus: {
        int32_t first = Emit(node.child);
        EmitGreedy(node.child, true);
        return first;
      }
      case kQuantLazyStar: return EmitLazy(node.child, true);
      case kQuantLazyQuestion: return EmitLazy(node.child, false);
      case kQuantLazyPlus: {
        int32_t first = Emit(node.child);
        EmitLazy(node.child, true);
        return first;
      }
    }
    return -1;
  }

  // Greedy loop (or "?" when !repeat): try the item first; the frame below it
  // restores the position and the progress slot and leaves the construct. An
  // iteration that consumed nothing fails. After each iteration a small
  // trampoline (PopSlot, Return) restores the slot to that iteration's start
  // should the matcher backtrack into it later.
  [[gnu::noinline]] int32_t EmitGreedy(int32_t item, bool repeat) {
    int32_t slot = NewSlot();
    int32_t first = Append(kOpPushSlot, slot);
    Append(kOpStorePosition, slot);
    Append(kOpPushPosition);
    int32_t call = Append(kOpCall);
    Append(kOpPopPosition);
    Append(kOpPopSlot, slot);
    int32_t leave = Append(kOpJump);
    Patch(call, Size());
    const int32_t start = Size();
    int32_t body = Emit(item);
    if (repeat && IsSingleUnit(nodes_[item])) unitLoops_.emplace_back(first, body);
    const int32_t check = Append(kOpFailIfNoProgress, slot);
    // Only an item that can match nothing makes the check fail, and then
    // what follows inside the item depends on where the iteration began.
    if (nodes_[item].mayMatchEmpty) unremembered_.emplace_back(start, check + 1);
    if (repeat) {
      Append(kOpPushSlot, slot);
      int32_t restore = Append(kOpCall);
      Append(kOpPopSlot, slot);
      Append(kOpReturn);
      Patch(restore, Size());
    }
    Append(kOpStorePosition, slot);
    if (repeat) Append(kOpJump, first);
    Patch(leave, Size());
    return first;
  }

  // Lazy loop (or "??" when !repeat): go on first; backtracking into the
  // frame restores the position at which the item is then tried.
  [[gnu::noinline]] int32_t EmitLazy(int32_t item, bool repeat) {
    int32_t first = Append(kOpPushPosition);
    int32_t call = Append(kOpCall);
    Append(kOpPopPosition);
    if (repeat && nodes_[item].mayMatchEmpty) {
      EmitGuardedIteration(item);
    } else {
      int32_t body = Emit(item);
      if (repeat && IsSingleUnit(nodes_[item])) unitLoops_.emplace_back(first, body);
    }
    if (repeat) Append(kOpJump, first);
    Patch(call, Size());
    return first;
  }

  // One iteration of a lazy loop whose item can match nothing although the
  // dialect's rule lets it repeat (a "!" item, a back-reference): without a
  // check such a loop would go round for ever. As in greedy loops, an
  // iteration that consumed nothing fails; the slot holds the iteration's
  // start and a frame restores the outer iteration's when backtracking
  // leaves this one.
  [[gnu::noinline]] void EmitGuardedIteration(int32_t item) {
    int32_t slot = NewSlot();
    Append(kOpPushSlot, slot);
    int32_t into = Append(kOpCall);
    Append(kOpPopSlot, slot);
    Append(kOpReturn);
    Patch(into, Size());
    const int32_t start = Append(kOpStorePosition, slot);
    Emit(item);
    const int32_t check = Append(kOpFailIfNoProgress, slot);
    unremembered_.emplace_back(start, check + 1);
  }

  static bool IsSingleUnit(const Node& node) {
    return node.kind == NodeKind::Literal || node.kind == NodeKind::Any ||
           node.kind == NodeKind::Class;
  }

  const std::vector<Node>& nodes_;
  RegexProgram& out_;
  bool full_ = false;
  bool memoizable_ = true;
  int32_t groupsEmitted_ = 0;
  std::vector<std::pair<int32_t, int32_t>> unitLoops_;
  // Instruction ranges [from, to) whose Jump targets are no memo points.
  std::vector<std::pair<int32_t, int32_t>> unremembered_;
};

void SetBits(std::vector<uint64_t>& bits, uint32_t low, uint32_t high) {
  for (uint32_t c = low; c <= high;) {
    if ((c & 63) == 0 && high - c >= 63) {
      bits[c >> 6] = ~uint64_t{0};
      c += 64;
    } else {
      bits[c >> 6] |= uint64_t{1} << (c & 63);
      ++c;
    }
  }
}

// Start filter: adds to `bits` every unit that can be the first one consumed
// by the node; returns true when the node can also consume nothing (so the
// following item contributes too).
class StartAnalysis {
 public:
  StartAnalysis(const std::vector<Node>& nodes, std::vector<uint64_t>& bits)
      : nodes_(nodes), bits_(bits) {}

  bool Add(int32_t index) {
    if (index < 0) return true;
    const Node& node = nodes_[index];
    switch (node.kind) {
      case NodeKind::Literal: SetRange(node.value, node.value); return false;
      case NodeKind::EndOfText: return false;  // a search never starts at the end
      case NodeKind::Any: SetRange(0, 0xFFFF); return false;
      case NodeKind::BackRef: SetRange(0, 0xFFFF); return true;
      case NodeKind::Not: return true;
      case NodeKind::Class: AddClass(node); return false;
      case NodeKind::Group:
      case NodeKind::Paren: return Add(node.child);
      case NodeKind::Sequence:
        for (int32_t item : node.items)
          if (!Add(item)) return false;
        return true;
      case NodeKind::Alternation: {
        bool empty = false;
        for (int32_t item : node.items) empty = Add(item) || empty;
        return empty;
      }
      case NodeKind::Quantified: {
        bool empty = Add(node.child);
        return empty || (node.value != kQuantPlus && node.value != kQuantLazyPlus);
      }
    }
    return true;
  }

 private:
  void SetRange(uint32_t low, uint32_t high) { SetBits(bits_, low, high); }

  void AddClass(const Node& node) {
    if (!node.negated) {
      for (const auto& [low, high] : node.ranges) SetRange(low, high);
      return;
    }
    std::vector<uint64_t> excluded(1024, 0);
    for (const auto& [low, high] : node.ranges) SetBits(excluded, low, high);
    for (size_t w = 0; w < bits_.size(); ++w) bits_[w] |= ~excluded[w];
  }

  const std::vector<Node>& nodes_;
  std::vector<uint64_t>& bits_;
};

void BuildStartFilter(const std::vector<Node>& nodes, int32_t root, RegexStartFilter& filter) {
  std::vector<uint64_t> bits(1024, 0);
  if (StartAnalysis(nodes, bits).Add(root)) return;
  size_t count = 0;
  char16_t unit = 0;
  for (size_t w = 0; w < bits.size(); ++w) {
    count += static_cast<size_t>(__builtin_popcountll(bits[w]));
    if (bits[w]) unit = static_cast<char16_t>(w * 64 + __builtin_ctzll(bits[w]));
  }
  if (count == 0 || count == 65536) return;
  filter.active = true;
  filter.single = count == 1;
  filter.unit = unit;
  filter.bits = std::move(bits);
  for (int32_t item : nodes[root].items) {
    if (nodes[item].kind != NodeKind::Literal) break;
    filter.prefix += static_cast<char16_t>(nodes[item].value);
  }
}

}  // namespace

int32_t CompileRegex(std::u16string_view pattern, RegexProgram& out) {
  out = RegexProgram{};
  pattern = pattern.substr(0, pattern.find(u'\0'));
  const bool anchored = !pattern.empty() && pattern[0] == u'^';
  if (anchored) pattern.remove_prefix(1);
  std::vector<Node> nodes;
  int32_t groups = 0;
  Parser parser(pattern, nodes, groups, 0);
  int32_t root = parser.ParseSequence();
  if (parser.error()) return parser.error();
  out.groupCount = groups;
  Emitter emitter(nodes, out);
  emitter.Append(kOpCall, 2);
  emitter.Append(anchored ? kOpFail : kOpAdvance);
  emitter.Emit(root);
  emitter.Append(kOpMatch);
  if (emitter.full()) {
    out = RegexProgram{};
    return kRegexOutOfMemory;
  }
  emitter.MarkUnitLoops();
  emitter.MarkMemoPoints();
  if (!anchored) BuildStartFilter(nodes, root, out.filter);
  return kRegexOk;
}

}  // namespace qp
