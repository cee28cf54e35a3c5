// The backtracking matcher: runs a compiled program over a lower-cased UTF-16
// text. It keeps its own stack (MatchState::stack), never the C++ call stack,
// so no pattern or text can overflow the thread's stack.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "regex/regex_compiler.h"

namespace qp {

// The match registers, reused by every search of one pattern.
struct MatchState {
  uint32_t groupCount = 0;  // entries in `groups`
  int32_t matchStart = 0;   // where the last match began
  int32_t matchEnd = 0;     // where the last match ended
  std::vector<int32_t> slots;  // positions or stack depths saved by the program
  // Captured (start, end) ranges; kNoPosition until the group has matched.
  std::vector<std::pair<int32_t, int32_t>> groups;
  int32_t stackDepth = 0;     // items on `stack`; item 0 is never used
  std::vector<int32_t> stack;  // instruction indices and saved values
};

inline constexpr int32_t kNoPosition = -1;
inline constexpr int32_t kRegexInitialStack = 256;
// The stack stops growing here (512 MiB) and the search fails, rather than the
// process running out of memory.
inline constexpr size_t kRegexDefaultStackLimit = size_t{1} << 27;

// One search of `text` from `start` (0 <= start < text.size()). On success
// `next` is where the match ended. A failed growth of the stack fails the
// search. The text must already be lower-cased.
bool RegexSearch(const RegexProgram& program, std::u16string_view text, int32_t start,
                 MatchState& state, size_t stackLimit, int32_t& next);

}  // namespace qp
