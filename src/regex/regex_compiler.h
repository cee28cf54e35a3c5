// The pattern compiler: turns a lower-cased UTF-16 pattern of the script
// dialect into a program for the backtracking matcher.
//
// The pattern is parsed once into a small syntax tree and the program is then
// emitted from the tree, so a quantified item is never re-parsed (the emitted
// program is the same as re-parsing would give). Parsing and emission recurse
// once per nesting level; patterns nested deeper than kRegexMaxNesting, or whose
// program would exceed kRegexMaxProgram instructions, fail with error 1.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "regex/regex_opcodes.h"

namespace qp {

// Compile error codes (0 = success).
enum RegexError : int32_t {
  kRegexOk = 0,
  kRegexOutOfMemory = 1,       // also: nesting or program size beyond the limits
  kRegexUnclosedBrace = 2,     // "{" without "}"
  kRegexUnclosedParen = 3,     // "(" without ")"
  kRegexUnclosedClass = 4,     // "[" without "]", or a range without upper bound
  kRegexBadAbbreviation = 5,   // an abbreviation's definition does not compile
  kRegexEmptyClass = 6,        // "[]" or "[^]"
  kRegexBadBackReference = 7,  // back-reference to a group not yet opened
  kRegexReversedRange = 8,     // class range whose upper bound is below its lower
  kRegexEmptyLoop = 9,         // "*" or "+" (greedy or lazy) on an item that can be empty
  kRegexNoPattern = 10,        // no pattern given
};

inline constexpr int32_t kRegexMaxNesting = 500;
inline constexpr int32_t kRegexMaxProgram = 1 << 20;

// Which code units can start a match; lets the search skip start positions
// that cannot succeed. Inactive when the pattern may match the empty text or
// may start with any unit.
struct RegexStartFilter {
  bool active = false;
  bool single = false;  // exactly one unit can start a match: `unit`
  char16_t unit = 0;
  std::u16string prefix;  // the literal units every match begins with
  std::vector<uint64_t> bits;  // 65536 bits when active

  bool Allows(char16_t c) const { return (bits[c >> 6] >> (c & 63)) & 1; }
};

struct RegexProgram {
  std::vector<RegexInstruction> instructions;
  int32_t groupCount = 0;
  int32_t slotCount = 0;
  RegexStartFilter filter;
  // For each instruction: when it starts a greedy or lazy loop over a single
  // unit (a literal, "." or a class), the index of that item, else -1. The
  // matcher runs such loops with one stack frame instead of one per unit.
  std::vector<int32_t> unitLoopItem;
  // For a greedy single-unit loop: the unit that must follow it (the loop
  // exit leads straight to a literal), else -1. Lengths after which that
  // unit does not follow are skipped when the loop gives units back.
  std::vector<int32_t> unitLoopNext;
  // Whether a search may remember the (memo point, position) pairs it has
  // already tried and failed from: what happens after such a pair depends on
  // the pair alone. A back-reference (it reads the groups) or a group inside
  // a "!" item (it keeps what it captured when the item succeeds) rules
  // that out for the whole program.
  bool memoizable = false;
  // For each instruction: its number among the memo points, else -1. Memo
  // points are the instructions that a Jump leads to (where different paths
  // meet), except inside a "!" item and inside the item of a "?" that can
  // match nothing, whose outcome also depends on where the construct began.
  // memoPointCount is how many there are.
  std::vector<int32_t> memoPoint;
  int32_t memoPointCount = 0;
};

// Compiles `pattern` (already lower-cased; it ends at its first NUL unit).
// Returns the error code; `out` is complete only when it returns 0.
int32_t CompileRegex(std::u16string_view pattern, RegexProgram& out);

}  // namespace qp
