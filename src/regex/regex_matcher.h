// The backtracking matcher: runs a compiled program over a lower-cased UTF-16
// text. It keeps its own stack (MatchState::stack), never the C++ call stack,
// so no pattern or text can overflow the thread's stack.
//
// Two things keep a search from running away. Where the program allows it
// (RegexProgram::memoizable), a search that has run for a while remembers
// every (memo point, position) pair it has tried: whatever follows such a
// pair depends on the pair alone, so a pair reached again would fail again
// and is skipped. That leaves every result as it was and makes such searches
// linear in the text for each memo point. For every program, a step budget
// (RegexLimits) bounds each call; a search that spends it fails.
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

  // Steps that the searches of the current call may still take; the caller
  // sets it (RegexStepBudget) before the call's first search.
  int64_t stepsLeft = 0;
  bool limitReached = false;  // a search of the current call ran out of steps
  // One bit per (memo point, position) that the current search has tried;
  // in use (memoTable set) only once the search has taken memoAfter steps.
  // Every word that is not zero is listed in memoTouched and cleared when the
  // search ends, so the table is all zero between searches.
  std::vector<uint64_t> memo;
  std::vector<uint32_t> memoTouched;
  uint64_t* memoTable = nullptr;
};

inline constexpr int32_t kNoPosition = -1;
inline constexpr int32_t kRegexInitialStack = 256;
// The stack stops growing here (512 MiB) and the search fails, rather than the
// process running out of memory.
inline constexpr size_t kRegexDefaultStackLimit = size_t{1} << 27;
// The step budget of one MatchAll, ReplaceAll or Match: a fixed base plus an
// amount per UTF-16 unit of the text. A step is one instruction run, one
// backtrack or one unit taken by a loop over a single unit.
inline constexpr int64_t kRegexStepBase = 10'000'000;
inline constexpr int64_t kRegexStepsPerUnit = 1000;
// A search that is still running after this many steps starts remembering
// failed (instruction, position) pairs, when its program allows it.
inline constexpr int64_t kRegexMemoAfter = 65'536;
// The largest failure table (32 MiB); a text too long for it runs without.
inline constexpr size_t kRegexMemoMaxBits = size_t{1} << 28;

// Bounds on the searches of one pattern.
struct RegexLimits {
  size_t stackItems = kRegexDefaultStackLimit;  // the backtracking stack's cap, in items
  int64_t stepBase = kRegexStepBase;
  int64_t stepsPerUnit = kRegexStepsPerUnit;
  int64_t memoAfter = kRegexMemoAfter;  // 0: from the first step; INT64_MAX: never
};

// The steps that one call over `units` UTF-16 units may take.
int64_t RegexStepBudget(const RegexLimits& limits, size_t units);

// One search of `text` from `start` (0 <= start < text.size()). On success
// `next` is where the match ended. The search fails when the stack cannot
// grow or when state.stepsLeft runs out (then state.limitReached is set).
// The text must already be lower-cased.
bool RegexSearch(const RegexProgram& program, std::u16string_view text, int32_t start,
                 MatchState& state, const RegexLimits& limits, int32_t& next);

// Gives back the failure table when it is large (more than 1 MiB), so that a
// pattern holds no big buffer between calls.
void RegexTrimMemo(MatchState& state);

}  // namespace qp
