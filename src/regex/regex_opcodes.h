// The instruction set of the script pattern dialect. A compiled pattern is a
// flat array of RegexInstruction (opcode, operand) run by the backtracking
// matcher in regex_matcher.cpp. The numbers are part of the compiled form that
// listings show, so they never change.
//
// Notes on the irregular cases:
//   - A character class is CharRanges/NotCharRanges followed by Nop pairs
//     (low bound, high bound); its operand is the index after the last pair.
//   - Stack items are untyped 32-bit values. Backtracking pops one and runs the
//     instruction at that index, so every data item (a position, a slot or a
//     group value) sits below an index whose instruction pops it again.
//   - Codes 9, 10, 11, 12, 18 and 19 name quantifier kinds inside the compiler
//     and never appear in a program.
#pragma once

#include <cstdint>

namespace qp {

// X(name, number, meaning of the operand)
#define QP_REGEX_OPCODES(X)                                                        \
  X(Nop, 0)              /* nothing; or one bound of a class range          */   \
  X(GroupStart, 1)       /* group g starts at the current position          */   \
  X(GroupEnd, 2)         /* group g ends at the current position            */   \
  X(Symbol, 3)           /* match code unit c; 0 matches only the text end  */   \
  X(AnyChar, 4)          /* match any one code unit                         */   \
  X(CharRanges, 7)       /* match one unit inside the pairs; go to operand  */   \
  X(NotCharRanges, 8)    /* match one unit outside the pairs; go to operand */   \
  X(Jump, 13)            /* continue at the operand                         */   \
  X(PushPosition, 14)    /* push the current position                       */   \
  X(PopPosition, 15)     /* pop the current position                        */   \
  X(Call, 16)            /* push the next index, continue at the operand    */   \
  X(Return, 17)          /* backtrack: pop an index and continue there      */   \
  X(PushSlot, 20)        /* push slot m                                     */   \
  X(PopSlot, 21)         /* pop slot m                                      */   \
  X(StorePosition, 22)   /* slot m = current position                       */   \
  X(StoreStackDepth, 23) /* slot m = stack depth                            */   \
  X(LoadPosition, 24)    /* current position = slot m                       */   \
  X(LoadStackDepth, 25)  /* stack depth = slot m                            */   \
  X(FailIfNoProgress, 26) /* backtrack when the position still equals slot m */  \
  X(BackReference, 27)   /* match group g's text again, ignoring case       */   \
  X(Fail, 28)            /* the search fails (anchored patterns)            */   \
  X(Advance, 29)         /* retry the whole pattern one unit further        */   \
  X(Match, 30)           /* the search succeeds here                        */   \
  X(PushGroup, 31)       /* push group g's start and end                    */   \
  X(PopGroup, 32)        /* pop group g's end and start                     */

enum RegexOpcode : int32_t {
#define QP_REGEX_ENUM(name, number) kOp##name = number,
  QP_REGEX_OPCODES(QP_REGEX_ENUM)
#undef QP_REGEX_ENUM
};

// Quantifier kinds while compiling; never stored in a program.
enum RegexQuantifier : int32_t {
  kQuantNone = 0,
  kQuantPlus = 9,
  kQuantLazyPlus = 10,
  kQuantQuestion = 11,
  kQuantLazyQuestion = 12,
  kQuantStar = 18,
  kQuantLazyStar = 19,
};

// One instruction: an opcode and its operand (character code, jump target,
// group number, slot number or the index past a range list).
struct RegexInstruction {
  int32_t opcode = kOpNop;
  int32_t operand = 0;
};

// The opcode's name for listings ("?" for a number outside the set).
const char* RegexOpcodeName(int32_t opcode);

}  // namespace qp
