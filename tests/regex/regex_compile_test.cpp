// The compiler: error codes from the constructs that raise them, the program
// layout of each construct, group and slot numbering, and the limits that
// keep compilation safe on hostile patterns.
#include <gtest/gtest.h>

#include <string>

#include "regex/regex_pattern.h"

namespace qp {
namespace {

struct ErrorCase {
  const char* pattern;
  int32_t error;
};

TEST(RegexCompile, ErrorCodesFromTheirConstructs) {
  const ErrorCase cases[] = {
      {"{a", 2},          {"x{a)", 2},      {"{{a}", 2},     {"(a", 3},
      {"(a}", 3},         {"((a)", 3},      {"[a", 4},       {"[a-]", 4},
      {"[a-", 4},         {"[\\", 4},       {"[^", 4},       {"[]", 6},
      {"[^]", 6},         {"[]a]", 6},      {"\\1", 7},      {"\\0", 7},
      {"{a}\\1", 7},      {"\\0{a}", 7},    {"[b-a]", 8},    {"[a-c9-0]", 8},
      {"{a*}*", 9},       {"(a*)+", 9},     {"(a?)*?", 9},   {"(a*)+?", 9},
      {"{}*", 9},         {"(a|)*", 9},     {"(\\1)*", 7},   {"{b*}{(a|\\0*)*}", 9},
  };
  for (const auto& c : cases) {
    RegexPattern regex(c.pattern);
    EXPECT_EQ(regex.error(), c.error) << c.pattern;
    EXPECT_FALSE(regex.valid()) << c.pattern;
  }
}

TEST(RegexCompile, NoPatternGivenIsErrorTen) {
  RegexPattern none;
  EXPECT_EQ(none.error(), 10);
  EXPECT_FALSE(none.valid());
  EXPECT_EQ(none.MatchAll("abc"), 0);
  EXPECT_EQ(none.ReplaceAll("abc", "x"), "abc");
}

TEST(RegexCompile, ValidPatternsThatLookOdd) {
  const char* cases[] = {
      "",       "*a",     "+",     "?",       "a**",   "a|",    "a)b",   "]",
      "}",      "(a*)?",  "(!a)*", "{a}{b}\\1", "[-a]", "[a\\-]", "[\\]]", "\\",
      "a||b",   "!",      "$",     "^",       "^$",    "{}",    "()",    "\\q\\n\\w\\z",
      "[\\t]",  "{a?}?",  "a$b",   "a^",
  };
  for (const char* pattern : cases) {
    RegexPattern regex(pattern);
    EXPECT_TRUE(regex.valid()) << pattern << " error " << regex.error();
  }
}

TEST(RegexCompile, EveryAbbreviationCompilesInUpperAndLowerCase) {
  for (const char* letters : {"abcdhnqwz", "ABCDHNQWZ"}) {
    for (const char* l = letters; *l; ++l) {
      std::string pattern = std::string("\\") + *l;
      RegexPattern regex(pattern);
      EXPECT_TRUE(regex.valid()) << pattern;
      EXPECT_EQ(regex.groupCount(), 0) << pattern;
      // Each stands for one item, so a quantifier after it is accepted.
      EXPECT_TRUE(RegexPattern(pattern + "?").valid()) << pattern;
    }
  }
}

struct ListingCase {
  const char* pattern;
  const char* listing;  // "name operand" per instruction from index 2 up, ';'-separated
};

std::string Body(const RegexPattern& regex) {
  std::string out;
  const auto& program = regex.program();
  for (size_t i = 2; i < program.size(); ++i) {
    if (!out.empty()) out += ';';
    out += std::string(RegexOpcodeName(program[i].opcode)) + ' ' +
           std::to_string(program[i].operand);
  }
  return out;
}

TEST(RegexCompile, ProgramLayoutOfEachConstruct) {
  const ListingCase cases[] = {
      {"", "Match 0"},
      {"a", "Symbol 97;Match 0"},
      {"A$", "Symbol 97;Symbol 0;Match 0"},
      {".", "AnyChar 0;Match 0"},
      {"[a-cX]", "CharRanges 7;Nop 97;Nop 99;Nop 120;Nop 120;Match 0"},
      {"[^\\t]", "NotCharRanges 5;Nop 9;Nop 9;Match 0"},
      {"{a}",
       "PushGroup 0;GroupStart 0;Call 7;PopGroup 0;Return 0;Symbol 97;GroupEnd 0;Match 0"},
      {"{}", "PushGroup 0;GroupStart 0;Call 7;PopGroup 0;Return 0;Nop 0;GroupEnd 0;Match 0"},
      {"(a)", "Call 4;Return 0;Symbol 97;Match 0"},
      {"ab|cd",
       "Symbol 97;PushPosition 0;Call 7;PopPosition 0;Jump 9;Symbol 98;Jump 10;Symbol 99;"
       "Symbol 100;Match 0"},
      {"a|", "PushPosition 0;Call 6;PopPosition 0;Jump 8;Symbol 97;Jump 8;Match 0"},
      {"a*",
       "PushSlot 0;StorePosition 0;PushPosition 0;Call 9;PopPosition 0;PopSlot 0;Jump 17;"
       "Symbol 97;FailIfNoProgress 0;PushSlot 0;Call 15;PopSlot 0;Return 0;StorePosition 0;"
       "Jump 2;Match 0"},
      {"a?",
       "PushSlot 0;StorePosition 0;PushPosition 0;Call 9;PopPosition 0;PopSlot 0;Jump 12;"
       "Symbol 97;FailIfNoProgress 0;StorePosition 0;Match 0"},
      {"a+",
       "Symbol 97;PushSlot 0;StorePosition 0;PushPosition 0;Call 10;PopPosition 0;PopSlot 0;"
       "Jump 18;Symbol 97;FailIfNoProgress 0;PushSlot 0;Call 16;PopSlot 0;Return 0;"
       "StorePosition 0;Jump 3;Match 0"},
      {"a*?", "PushPosition 0;Call 7;PopPosition 0;Symbol 97;Jump 2;Match 0"},
      {"a+?", "Symbol 97;PushPosition 0;Call 8;PopPosition 0;Symbol 97;Jump 3;Match 0"},
      {"a??", "PushPosition 0;Call 6;PopPosition 0;Symbol 97;Match 0"},
      // A lazy loop over an item that can match nothing checks each
      // iteration's progress against a slot that a frame restores.
      {"(!a)*?b",
       "PushPosition 0;Call 24;PopPosition 0;PushSlot 0;Call 9;PopSlot 0;Return 0;"
       "StorePosition 0;Call 12;Return 0;StorePosition 1;StoreStackDepth 2;Call 18;"
       "LoadPosition 1;LoadStackDepth 2;Jump 22;Symbol 97;LoadPosition 1;LoadStackDepth 2;"
       "Return 0;FailIfNoProgress 0;Jump 2;Symbol 98;Match 0"},
      {"!a",
       "StorePosition 0;StoreStackDepth 1;Call 8;LoadPosition 0;LoadStackDepth 1;Jump 12;"
       "Symbol 97;LoadPosition 0;LoadStackDepth 1;Return 0;Match 0"},
      {"{a}\\0",
       "PushGroup 0;GroupStart 0;Call 7;PopGroup 0;Return 0;Symbol 97;GroupEnd 0;"
       "BackReference 0;Match 0"},
      {"\\d", "Call 4;Return 0;CharRanges 7;Nop 48;Nop 57;Match 0"},
      {"\\t\\*", "Symbol 116;Symbol 42;Match 0"},
      {"*", "Symbol 42;Match 0"},
      {"a)b", "Symbol 97;Match 0"},
  };
  for (const auto& c : cases) {
    RegexPattern regex(c.pattern);
    ASSERT_TRUE(regex.valid()) << c.pattern;
    EXPECT_EQ(Body(regex), c.listing) << c.pattern;
    EXPECT_EQ(regex.program()[0].opcode, kOpCall) << c.pattern;
    EXPECT_EQ(regex.program()[0].operand, 2) << c.pattern;
    EXPECT_EQ(regex.program()[1].opcode, kOpAdvance) << c.pattern;
  }
}

TEST(RegexCompile, AnchorOnlyAsFirstCharacter) {
  RegexPattern anchored("^a");
  EXPECT_EQ(anchored.program()[1].opcode, kOpFail);
  EXPECT_EQ(Body(anchored), "Symbol 97;Match 0");
  EXPECT_EQ(Body(RegexPattern("a^")), "Symbol 97;Symbol 94;Match 0");
  EXPECT_EQ(Body(RegexPattern("$a")), "Symbol 36;Symbol 97;Match 0");
}

TEST(RegexCompile, GroupAndSlotNumbering) {
  struct Case {
    const char* pattern;
    int32_t groups;
    int32_t slots;
  };
  const Case cases[] = {
      {"{a}{b}", 2, 0},   {"{a}+", 1, 1},      {"{{a}b}*", 2, 1},  {"(!a)+", 0, 5},
      {"!a|!b", 0, 4},    {"\\w\\z", 0, 2},    {"{a}*?", 1, 0},    {"({a}{b})+{c}", 3, 1},
      {"(!a)*?", 0, 3},   {"{a}(\\0)+?", 1, 1},
  };
  for (const auto& c : cases) {
    RegexPattern regex(c.pattern);
    ASSERT_TRUE(regex.valid()) << c.pattern;
    EXPECT_EQ(regex.groupCount(), c.groups) << c.pattern;
    EXPECT_EQ(regex.slotCount(), c.slots) << c.pattern;
    EXPECT_FALSE(regex.caseSensitive());
  }
  // The copy that a "+" loops over reuses the first occurrence's group numbers.
  RegexPattern plus("{a}+");
  int starts = 0;
  for (const auto& in : plus.program())
    if (in.opcode == kOpGroupStart) {
      EXPECT_EQ(in.operand, 0);
      ++starts;
    }
  EXPECT_EQ(starts, 2);
}

TEST(RegexCompile, JumpTargetsStayInsideTheProgram) {
  for (const char* pattern : {"{(ab|cd)+?x*}!\\q|\\n", "((a|b)*c)+{d??}", "\\w+?\\z*\\h"}) {
    RegexPattern regex(pattern);
    ASSERT_TRUE(regex.valid()) << pattern;
    const auto& program = regex.program();
    for (const auto& in : program) {
      if (in.opcode == kOpJump || in.opcode == kOpCall || in.opcode == kOpCharRanges ||
          in.opcode == kOpNotCharRanges) {
        EXPECT_GT(in.operand, 0) << pattern;
        EXPECT_LT(in.operand, static_cast<int32_t>(program.size())) << pattern;
      }
    }
    EXPECT_EQ(program.back().opcode, kOpMatch);
  }
}

TEST(RegexCompile, DeepNestingIsRefusedWithoutCrashing) {
  const int kDepth = 10000;
  for (auto [open, close] : {std::pair{'(', ')'}, std::pair{'{', '}'}}) {
    std::string pattern = std::string(kDepth, open) + "a" + std::string(kDepth, close);
    RegexPattern regex(pattern);
    EXPECT_EQ(regex.error(), 1) << open;
    EXPECT_EQ(regex.MatchAll("a"), 0);
    // Unclosed, the depth limit still comes first.
    EXPECT_EQ(RegexPattern(std::string(kDepth, open)).error(), 1) << open;
  }
  EXPECT_EQ(RegexPattern(std::string(kDepth, '!') + "a").error(), 1);
  EXPECT_EQ(RegexPattern(std::string(kDepth, '[')).error(), 4);  // "[" does not nest
}

TEST(RegexCompile, NestingUpToTheLimitWorks) {
  const int kDepth = kRegexMaxNesting - 1;
  std::string pattern = "{" + std::string(kDepth - 1, '(') + "a" + std::string(kDepth - 1, ')') + "}";
  RegexPattern regex(pattern);
  ASSERT_TRUE(regex.valid()) << regex.error();
  EXPECT_EQ(regex.MatchAll("xa"), 1);
  EXPECT_EQ(regex.results()[0], "a");
}

TEST(RegexCompile, LongAlternationChainsDoNotNest) {
  std::string pattern = "{";
  for (int i = 0; i < 10000; ++i) pattern += "x|";
  pattern += "y}";
  RegexPattern regex(pattern);
  ASSERT_TRUE(regex.valid()) << regex.error();
  EXPECT_EQ(regex.MatchAll("ayx"), 2);
}

TEST(RegexCompile, ExplodingProgramIsOutOfMemory) {
  // Every "+" doubles its item, so 30 nested pluses would need 2^30 copies.
  std::string pattern;
  for (int i = 0; i < 30; ++i) pattern += "(";
  pattern += "a";
  for (int i = 0; i < 30; ++i) pattern += ")+";
  RegexPattern regex(pattern);
  EXPECT_EQ(regex.error(), 1);
  EXPECT_TRUE(regex.program().empty());
}

TEST(RegexCompile, ListingNamesEveryInstruction) {
  RegexPattern regex("^{a}");
  EXPECT_EQ(regex.Listing(),
            "0\tCall\t2\n1\tFail\t0\n2\tPushGroup\t0\n3\tGroupStart\t0\n4\tCall\t7\n"
            "5\tPopGroup\t0\n6\tReturn\t0\n7\tSymbol\t97\n8\tGroupEnd\t0\n9\tMatch\t0\n");
  EXPECT_STREQ(RegexOpcodeName(5), "?");
  EXPECT_STREQ(RegexOpcodeName(32), "PopGroup");
}

}  // namespace
}  // namespace qp
