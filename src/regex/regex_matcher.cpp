#include "regex/regex_matcher.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <new>
#include <stdexcept>

namespace qp {
namespace {

// A greedy loop begins PushSlot, StorePosition, PushPosition, Call,
// PopPosition, PopSlot, Jump-to-exit.
constexpr int32_t kLoopExitOffset = 6;
// A lazy loop begins PushPosition, Call-to-exit.
constexpr int32_t kLazyExitOffset = 1;

// Grows the stack so that `depth + extra` items fit: twice the depth plus 4,
// at least. Fails at the limit or when memory runs out.
[[gnu::noinline]] bool GrowStack(std::vector<int32_t>& stack, int32_t depth, int32_t extra,
                                 size_t limit) {
  size_t wanted = static_cast<size_t>(depth) * 2 + 4;
  size_t needed = static_cast<size_t>(depth) + static_cast<size_t>(extra) + 1;
  if (wanted < needed) wanted = needed;
  if (wanted > limit) wanted = limit;
  if (needed > wanted || wanted > static_cast<size_t>(INT32_MAX)) return false;
  try {
    stack.resize(wanted);
  } catch (const std::bad_alloc&) {
    return false;
  } catch (const std::length_error&) {
    return false;
  }
  return true;
}

void ResetRegisters(const RegexProgram& program, MatchState& state) {
  state.groupCount = static_cast<uint32_t>(program.groupCount);
  state.groups.assign(program.groupCount, {kNoPosition, kNoPosition});
  state.slots.assign(program.slotCount, 0);
  state.stackDepth = 0;
  if (state.stack.size() < static_cast<size_t>(kRegexInitialStack))
    state.stack.resize(kRegexInitialStack);
}

// The first index at or after q that holds `unit`, or n.
int32_t FindUnit(const char16_t* text, int32_t q, int32_t n, char16_t unit) {
#if defined(__SSE2__)
  const __m128i wanted = _mm_set1_epi16(static_cast<short>(unit));
  for (; q + 8 <= n; q += 8) {
    __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + q));
    int mask = _mm_movemask_epi8(_mm_cmpeq_epi16(units, wanted));
    if (mask) return q + __builtin_ctz(static_cast<unsigned>(mask)) / 2;
  }
#endif
  while (q < n && text[q] != unit) ++q;
  return q;
}

// The next start position at or after `q` whose units can begin a match, or n.
int32_t NextCandidate(const RegexStartFilter& filter, const char16_t* text, int32_t q, int32_t n) {
  if (!filter.active) return q;
  if (!filter.single) {
    while (q < n && !filter.Allows(text[q])) ++q;
    return q;
  }
  const char16_t* prefix = filter.prefix.data();
  const int32_t length = static_cast<int32_t>(filter.prefix.size());
  for (;; ++q) {
    q = FindUnit(text, q, n, filter.unit);
    if (q >= n || length < 2) return q;
    if (length > n - q) return n;
    int32_t k = 1;
    while (k < length && text[q + k] == prefix[k]) ++k;
    if (k == length) return q;
  }
}

bool InRanges(const RegexInstruction* pairs, const RegexInstruction* end, int32_t c) {
  for (; pairs < end; pairs += 2)
    if (c >= pairs[0].operand && c <= pairs[1].operand) return true;
  return false;
}

// Whether unit c passes the single-unit item at `item` (Symbol, AnyChar or a class).
bool UnitMatches(const RegexInstruction* code, int32_t item, char16_t c) {
  const RegexInstruction in = code[item];
  switch (in.opcode) {
    case kOpSymbol: return c == in.operand;
    case kOpAnyChar: return true;
    case kOpCharRanges: return InRanges(code + item + 1, code + in.operand, c);
    case kOpNotCharRanges: return !InRanges(code + item + 1, code + in.operand, c);
  }
  return false;
}

// The longest length up to `count` after which the unit `next` follows the
// loop's run at `start` (every length when next is -1); -1 when none does.
int32_t Followed(const char16_t* text, int32_t n, int32_t start, int32_t count, int32_t next) {
  if (next < 0) return count;
  while (count >= 0 && (start + count >= n || text[start + count] != next)) --count;
  return count;
}

bool SameText(const char16_t* a, const char16_t* b, int32_t length) {
  for (int32_t k = 0; k < length; ++k)
    if (a[k] != b[k]) return false;
  return true;
}

// Marks (memo point `point`, position r) as tried; true when it already was.
// An instruction that is no memo point (-1) is never marked. Bits are laid
// out position by position, so one search touches few words.
[[gnu::always_inline]] inline bool Tried(uint64_t* table, std::vector<uint32_t>& touched,
                                         int32_t points, int32_t point, int32_t r) {
  if (point < 0) return false;
  const size_t bit = static_cast<size_t>(r) * static_cast<size_t>(points) +
                     static_cast<size_t>(point);
  uint64_t& word = table[bit >> 6];
  const uint64_t mask = uint64_t{1} << (bit & 63);
  if (word & mask) return true;
  if (word == 0) touched.push_back(static_cast<uint32_t>(bit >> 6));
  word |= mask;
  return false;
}

// Turns on the failure table for a search over n units; null when the
// program may not use one or the table would be too large.
[[gnu::noinline]] uint64_t* StartMemo(const RegexProgram& program, MatchState& state, int32_t n) {
  if (!program.memoizable || program.memoPointCount == 0) return nullptr;
  const size_t bits = (static_cast<size_t>(n) + 1) * static_cast<size_t>(program.memoPointCount);
  if (bits > kRegexMemoMaxBits) return nullptr;
  const size_t words = (bits + 63) / 64;
  try {
    if (state.memo.size() < words) state.memo.resize(words);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  state.memoTable = state.memo.data();
  return state.memoTable;
}

// A stretch of steps is used up: charges it to the call's budget and grants
// the next stretch (the rest of the budget), turning the failure table on
// first. Returns 0 when the budget is spent.
[[gnu::noinline]] int64_t NextGrant(const RegexProgram& program, MatchState& state, int32_t n,
                                    int64_t used) {
  state.stepsLeft -= used;
  if (state.stepsLeft <= 0) {
    state.stepsLeft = 0;
    state.limitReached = true;
    return 0;
  }
  if (!state.memoTable) StartMemo(program, state, n);
  return state.stepsLeft;
}

// Ends a search: keeps the stack depth, charges the steps used and clears
// the words of the failure table that the search set, so that the next
// search starts from zero.
bool Finish(MatchState& state, int32_t depth, int64_t used, bool matched) {
  state.stackDepth = depth;
  state.stepsLeft -= used;
  if (state.memoTable) {
    for (uint32_t word : state.memoTouched) state.memoTable[word] = 0;
    state.memoTouched.clear();
    state.memoTable = nullptr;
  }
  return matched;
}

}  // namespace

int64_t RegexStepBudget(const RegexLimits& limits, size_t units) {
  constexpr int64_t kMax = INT64_MAX / 2;
  const int64_t base = limits.stepBase < 0 ? 0 : limits.stepBase;
  const int64_t per = limits.stepsPerUnit < 0 ? 0 : limits.stepsPerUnit;
  if (per != 0 && units > static_cast<size_t>(kMax / per)) return kMax;
  const int64_t budget = base + per * static_cast<int64_t>(units);
  return budget < base || budget > kMax ? kMax : budget;
}

void RegexTrimMemo(MatchState& state) {
  if (state.memo.size() * sizeof(uint64_t) > (size_t{1} << 20)) {
    state.memo = {};
    state.memoTouched = {};
  }
}

#define QP_STOP(matched) return Finish(state, depth, grant - credit, (matched))

// Makes room for `k` more stack items, refreshing the cached pointer.
#define QP_STACK_ROOM(k)                                                         \
  if (depth + (k) >= capacity) {                                                 \
    if (!GrowStack(state.stack, depth, (k), limits.stackItems)) QP_STOP(false);  \
    stack = state.stack.data();                                                  \
    capacity = static_cast<int32_t>(state.stack.size());                         \
  }

// Takes k steps from the current grant; when it is used up, asks for the next
// one (which may turn the failure table on) or fails the search.
#define QP_STEP(k)                                                               \
  if ((credit -= (k)) < 0) {                                                     \
    grant = NextGrant(program, state, n, grant - credit);                        \
    credit = grant;                                                              \
    if (grant == 0) QP_STOP(false);                                              \
    memo = state.memoTable;                                                      \
  }

// Whether (memo point `at`, position `pos`) was tried before in this search;
// marks it tried. Always false while the failure table is off.
#define QP_TRIED(at, pos) \
  (memo != nullptr &&      \
   Tried(memo, state.memoTouched, program.memoPointCount, program.memoPoint[at], (pos)))

bool RegexSearch(const RegexProgram& program, std::u16string_view subject, int32_t start,
                 MatchState& state, const RegexLimits& limits, int32_t& next) {
  ResetRegisters(program, state);
  if (state.stepsLeft <= 0) {
    state.limitReached = true;
    return false;
  }
  const RegexInstruction* code = program.instructions.data();
  const int32_t* loopItem = program.unitLoopItem.data();
  const int32_t* loopNext = program.unitLoopNext.data();
  const char16_t* text = subject.data();
  const int32_t n = static_cast<int32_t>(subject.size());
  int32_t* stack = state.stack.data();
  int32_t capacity = static_cast<int32_t>(state.stack.size());
  int32_t* slots = state.slots.data();
  std::pair<int32_t, int32_t>* groups = state.groups.data();
  int32_t depth = 0;
  // Steps are granted in stretches: the first ends after memoAfter steps when
  // the program may use the failure table, so that it is turned on then.
  int64_t grant = state.stepsLeft;
  if (program.memoizable && limits.memoAfter >= 0 && limits.memoAfter < grant)
    grant = limits.memoAfter;
  int64_t credit = grant;
  uint64_t* memo = nullptr;

  const bool advancing = code[1].opcode == kOpAdvance;
  int32_t q = advancing ? NextCandidate(program.filter, text, start, n) : start;
  if (q >= n) return false;
  int32_t r = q;
  int32_t ip = 0;
  state.matchStart = q;
  for (;;) {
    QP_STEP(1);
    const RegexInstruction in = code[ip];
    switch (in.opcode) {
      case kOpNop:
        ++ip;
        continue;
      case kOpGroupStart:
        groups[in.operand].first = r;
        ++ip;
        continue;
      case kOpGroupEnd:
        groups[in.operand].second = r;
        ++ip;
        continue;
      case kOpSymbol:
        if (in.operand == 0 ? r != n : (r >= n || text[r] != in.operand)) break;
        r += in.operand != 0;
        ++ip;
        continue;
      case kOpAnyChar:
        if (r >= n) break;
        ++r;
        ++ip;
        continue;
      case kOpCharRanges:
      case kOpNotCharRanges:
        if (r >= n ||
            InRanges(code + ip + 1, code + in.operand, text[r]) != (in.opcode == kOpCharRanges))
          break;
        ++r;
        ip = in.operand;
        continue;
      case kOpJump:
        ip = in.operand;
        if (QP_TRIED(ip, r)) break;
        continue;
      case kOpPushPosition:
        if (loopItem[ip] >= 0) {
          // A lazy loop over one unit: go on at once and leave one frame
          // (position, ~loop) that takes one more unit each time it is
          // backtracked into.
          QP_STACK_ROOM(2);
          stack[++depth] = r;
          stack[++depth] = ~ip;
          ip = code[ip + kLazyExitOffset].operand;
          continue;
        }
        QP_STACK_ROOM(1);
        stack[++depth] = r;
        ++ip;
        continue;
      case kOpPopPosition:
        r = stack[depth--];
        ++ip;
        continue;
      case kOpCall:
        QP_STACK_ROOM(1);
        stack[++depth] = ip + 1;
        ip = in.operand;
        continue;
      case kOpReturn:
        break;
      case kOpPushSlot:
        if (loopItem[ip] >= 0) {
          // A greedy loop over one unit: take the longest run at once and
          // leave one frame (start, count, ~loop) that gives the run back one
          // unit at a time, as the iterations' own frames would. With the
          // failure table, the loop's head after each unit is a tried pair:
          // the run stops before a head that was tried, since every way on
          // from there has failed already. (The head at the entry is the
          // Jump's to check, when a Jump led here.)
          const int32_t item = loopItem[ip];
          int32_t count = 0;
          if (memo) {
            while (r + count < n && UnitMatches(code, item, text[r + count]) &&
                   !QP_TRIED(ip, r + count + 1))
              ++count;
          } else {
            while (r + count < n && UnitMatches(code, item, text[r + count])) ++count;
          }
          QP_STEP(count);
          count = Followed(text, n, r, count, loopNext[ip]);
          if (count < 0) break;
          if (count > 0) {
            QP_STACK_ROOM(3);
            stack[++depth] = r;
            stack[++depth] = count;
            stack[++depth] = ~ip;
            r += count;
          }
          ip = code[ip + kLoopExitOffset].operand;
          if (QP_TRIED(ip, r)) break;
          continue;
        }
        QP_STACK_ROOM(1);
        stack[++depth] = slots[in.operand];
        ++ip;
        continue;
      case kOpPopSlot:
        slots[in.operand] = stack[depth--];
        ++ip;
        continue;
      case kOpStorePosition:
        slots[in.operand] = r;
        ++ip;
        continue;
      case kOpStoreStackDepth:
        slots[in.operand] = depth;
        ++ip;
        continue;
      case kOpLoadPosition:
        r = slots[in.operand];
        ++ip;
        continue;
      case kOpLoadStackDepth:
        depth = slots[in.operand];
        ++ip;
        continue;
      case kOpFailIfNoProgress:
        if (r == slots[in.operand]) break;
        ++ip;
        continue;
      case kOpBackReference: {
        // A group that has not matched has length 0. Both texts are lower-cased.
        auto [from, to] = groups[in.operand];
        int32_t length = (from >= 0 && to >= from) ? to - from : 0;
        if (length > n - r || !SameText(text + r, text + from, length)) break;
        r += length;
        ++ip;
        continue;
      }
      case kOpPushGroup:
        QP_STACK_ROOM(2);
        stack[++depth] = groups[in.operand].first;
        stack[++depth] = groups[in.operand].second;
        ++ip;
        continue;
      case kOpPopGroup:
        groups[in.operand].second = stack[depth--];
        groups[in.operand].first = stack[depth--];
        ++ip;
        continue;
      case kOpAdvance:
        q = NextCandidate(program.filter, text, q + 1, n);
        if (q >= n) QP_STOP(false);
        depth = 0;
        r = q;
        ip = 0;
        state.matchStart = q;
        continue;
      case kOpFail:
        QP_STOP(false);
      case kOpMatch:
        state.matchEnd = r;
        next = r;
        QP_STOP(true);
      default:
        QP_STOP(false);
    }
    // Backtrack: continue at the index on top of the stack.
    for (;;) {
      if (depth <= 0) QP_STOP(false);
      QP_STEP(1);
      ip = stack[depth--];
      if (ip >= 0) break;
      const int32_t loop = ~ip;
      if (code[loop].opcode == kOpPushSlot) {
        // A greedy single-unit loop's frame: leave it one unit shorter.
        const int32_t count = Followed(text, n, stack[depth - 1], stack[depth] - 1, loopNext[loop]);
        if (count < 0) {
          depth -= 2;
          continue;
        }
        r = stack[depth - 1] + count;
        if (count == 0) {
          depth -= 2;
        } else {
          stack[depth] = count;
          ++depth;
        }
        ip = code[loop + kLoopExitOffset].operand;
        if (QP_TRIED(ip, r)) continue;
        break;
      }
      // A lazy single-unit loop's frame: take one more unit, or give up.
      r = stack[depth];
      if (r < n && UnitMatches(code, loopItem[loop], text[r]) && !QP_TRIED(loop, r + 1)) {
        stack[depth] = ++r;
        ++depth;
        ip = code[loop + kLazyExitOffset].operand;
        break;
      }
      --depth;
    }
  }
}

#undef QP_STOP
#undef QP_TRIED
#undef QP_STEP
#undef QP_STACK_ROOM

}  // namespace qp
