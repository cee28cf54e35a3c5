// Searches that would backtrack without end: the failure table gives the
// dialect's result at once where the program allows one, the step budget ends
// every other search, and neither changes a result the dialect gives.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "regex/regex_pattern.h"
#include "support/codepage.h"

namespace qp {
namespace {

std::string Repeat(const std::string& piece, int count) {
  std::string out;
  for (int i = 0; i < count; ++i) out += piece;
  return out;
}

// Far more steps than any of these searches takes when it ends at all.
RegexLimits Generous(bool memo) {
  RegexLimits limits;
  limits.stepBase = 2'000'000;
  limits.memoAfter = memo ? 0 : INT64_MAX;
  return limits;
}

TEST(RegexLimits, OptionalRunBeforeAMissingLetterEnds) {
  for (int k = 22; k <= 30; ++k) {
    const std::string text(k, 'a');
    RegexPattern missing("{" + Repeat("a?", k) + "b}");
    ASSERT_TRUE(missing.memoizable());
    EXPECT_EQ(missing.MatchAll(text), 0) << k;
    EXPECT_FALSE(missing.limitReached()) << k;
    // The same run before k letters that are there: every "a?" gives its
    // letter back, and the whole text matches.
    RegexPattern present("{" + Repeat("a?", k) + text + "}");
    ASSERT_EQ(present.MatchAll(text), 1) << k;
    EXPECT_EQ(present.results()[0], text);
    EXPECT_FALSE(present.limitReached()) << k;
  }
}

TEST(RegexLimits, RepeatedGroupOfRunsEnds) {
  const std::string run(50000, 'a');
  RegexPattern regex("{.+}*x");
  EXPECT_EQ(regex.MatchAll(run), 0);
  EXPECT_FALSE(regex.limitReached());
  // With the x there, the first iteration takes the run and gives the x back.
  ASSERT_EQ(regex.MatchAll(run + "x"), 1);
  EXPECT_EQ(regex.results()[0], run);
  RegexPattern nested("{(a|aa)+}b");
  EXPECT_EQ(nested.MatchAll(run), 0);
  EXPECT_FALSE(nested.limitReached());
}

// The fuzz finding regex-1: "a?" 22 times and "b" over 22 a's, in both code pages.
TEST(RegexLimits, FuzzFindingOptionalRun) {
  const std::string pattern = Repeat("a?", 22) + "b";
  const std::string subject(22, 'a');
  for (int page : {kCodePageGbk, kCodePageUtf8}) {
    SetActiveCodePage(page);
    RegexPattern bare(pattern);
    std::u16string lowered = ToWide(subject);
    RegexLowerCase(lowered);
    int32_t next = -1;
    EXPECT_FALSE(bare.Match(lowered, 0, next)) << page;
    EXPECT_FALSE(bare.limitReached());
    EXPECT_EQ(bare.MatchAll(subject), 0);
    EXPECT_EQ(bare.ReplaceAll(subject, "x"), subject);
    RegexPattern braced("{" + pattern + "}");
    EXPECT_EQ(braced.MatchAll(subject), 0) << page;
    EXPECT_EQ(braced.ReplaceAll(subject, "x"), subject);
    EXPECT_FALSE(braced.limitReached());
  }
  SetActiveCodePage(kCodePageGbk);
}

TEST(RegexLimits, WhatRulesOutTheTable) {
  EXPECT_TRUE(RegexPattern("{a?b}").memoizable());
  EXPECT_TRUE(RegexPattern("{(!ab)*c}").memoizable());  // "!" without a group inside
  EXPECT_TRUE(RegexPattern("{(a*)?b}").memoizable());   // "?" over an item that can be empty
  EXPECT_FALSE(RegexPattern("{a}\\0").memoizable());    // back-reference
  EXPECT_FALSE(RegexPattern("!{a}b").memoizable());     // a group inside "!"
}

// A lazy loop over an item that matches nothing used to go round without end
// (or until its stack filled 512 MiB): an iteration that consumes nothing
// now fails, as in greedy loops.
TEST(RegexLimits, LazyLoopOverAnEmptyItemEnds) {
  const struct {
    const char* pattern;
    const char* text;
    std::vector<std::string> results;
  } cases[] = {
      {"{(!a)*?b}", "ccc", {}},
      {"{(!a)*?b}", "cb", {"b"}},
      {"{(!a|c)*?b}", "ccb", {"ccb"}},
      {"{x(!a)+?}", "xa", {}},
      {"{a}(\\0)*?b", "aac", {}},  // a back-reference to a group: no table either
      {"{a}(\\0)*?b", "aab", {"a"}},
  };
  for (const auto& c : cases) {
    RegexPattern regex(c.pattern);
    ASSERT_TRUE(regex.valid()) << c.pattern;
    regex.setLimits(Generous(false));
    regex.MatchAll(c.text);
    EXPECT_EQ(regex.results(), c.results) << c.pattern << " over " << c.text;
    EXPECT_FALSE(regex.limitReached()) << c.pattern << " over " << c.text;
  }
}

// A search the table cannot serve (a back-reference reads the groups) ends
// when its budget is spent, and fails.
TEST(RegexLimits, BudgetEndsSearchesWithoutTable) {
  RegexPattern regex("{(a|a)*}\\0b");
  ASSERT_FALSE(regex.memoizable());
  const std::string run(40, 'a');
  EXPECT_EQ(regex.MatchAll(run), 0);
  EXPECT_TRUE(regex.limitReached());
  EXPECT_EQ(regex.ReplaceAll(run, "x"), run);
  EXPECT_TRUE(regex.limitReached());
  // The next call has a budget of its own.
  ASSERT_EQ(regex.MatchAll("aab"), 1);
  EXPECT_EQ(regex.results()[0], "a");
  EXPECT_FALSE(regex.limitReached());
}

TEST(RegexLimits, BudgetGrowsWithTheText) {
  std::string text;
  for (int i = 0; i < 512 * 1024; ++i) text += "ab";
  RegexPattern regex("{(a|b)*}");
  ASSERT_EQ(regex.MatchAll(text), 1);
  EXPECT_EQ(regex.results()[0].size(), text.size());
  EXPECT_FALSE(regex.limitReached());
  // The fixed base alone is too little for a search over a megabyte.
  RegexLimits baseOnly;
  baseOnly.stepsPerUnit = 0;
  regex.setLimits(baseOnly);
  EXPECT_EQ(regex.MatchAll(text), 0);
  EXPECT_TRUE(regex.limitReached());
}

TEST(RegexLimits, SpentBudgetKeepsEarlierMatches) {
  const std::string text(1000, 'a');
  RegexPattern regex("{a}");
  RegexLimits small;
  small.stepBase = 2000;
  small.stepsPerUnit = 0;
  regex.setLimits(small);
  const int32_t found = regex.MatchAll(text);
  EXPECT_GT(found, 0);
  EXPECT_LT(found, 1000);
  EXPECT_TRUE(regex.limitReached());
  for (const auto& result : regex.results()) EXPECT_EQ(result, "a");
  regex.setLimits(RegexLimits{});
  EXPECT_EQ(regex.MatchAll(text), 1000);
  EXPECT_FALSE(regex.limitReached());
}

// Random patterns of the dialect (without back-references, which rule the
// table out) over every short text of a small alphabet: the results are the
// same with the table on from the first step and with it off.
class PatternMaker {
 public:
  explicit PatternMaker(uint32_t seed) : random_(seed) {}

  std::string Sequence(int depth) {
    std::string out;
    for (int n = Pick(3) + 1; n > 0; --n) {
      out += Quantified(depth);
      if (Pick(5) == 0) out += "|" + Quantified(depth);
    }
    return out;
  }

 private:
  int Pick(int n) { return static_cast<int>(random_() % static_cast<uint32_t>(n)); }

  std::string Quantified(int depth) {
    static const char* kQuantifiers[] = {"", "", "", "*", "+", "?", "*?", "+?", "??"};
    return Item(depth) + kQuantifiers[Pick(9)];
  }

  std::string Item(int depth) {
    static const char* kLeaves[] = {"a", "b", "a", ".", "[ab]", "[^a]", "c"};
    const int kind = depth > 2 ? 0 : Pick(10);
    if (kind < 5) return kLeaves[Pick(7)];
    if (kind < 7) return "(" + Sequence(depth + 1) + ")";
    if (kind < 9) return "{" + Sequence(depth + 1) + "}";
    return "!" + Item(depth + 1);
  }

  std::mt19937 random_;
};

std::vector<std::string> AllTexts(const std::string& alphabet, size_t longest) {
  std::vector<std::string> texts{""};
  for (size_t i = 0; i < texts.size(); ++i)
    if (texts[i].size() < longest)
      for (char c : alphabet) texts.push_back(texts[i] + c);
  return texts;
}

// Returns how many texts the search without the table did not finish
// within its budget (every loop iteration consumes something, so none runs
// for ever).
int ExpectSameWithAndWithoutTable(const std::string& with, const std::string& without,
                                  const std::vector<std::string>& texts) {
  RegexPattern memo(with), plain(without);
  memo.setLimits(Generous(true));
  plain.setLimits(Generous(false));
  int endless = 0;
  for (const auto& text : texts) {
    memo.MatchAll(text);
    plain.MatchAll(text);
    EXPECT_FALSE(memo.limitReached()) << with << " over " << text;
    if (plain.limitReached()) {
      ++endless;
      continue;
    }
    EXPECT_EQ(memo.results(), plain.results()) << with << " over " << text;
    if (::testing::Test::HasFailure()) break;
  }
  return endless;
}

TEST(RegexLimits, TableLeavesEveryResultAsItWas) {
  const auto texts = AllTexts("abc", 5);
  PatternMaker maker(20261208);
  int compared = 0, memoizable = 0, endless = 0;
  for (int i = 0; i < 600 && !HasFailure(); ++i) {
    std::string pattern = "{" + maker.Sequence(0) + "}";
    RegexPattern probe(pattern);
    if (!probe.valid()) continue;
    ++compared;
    memoizable += probe.memoizable();
    endless += ExpectSameWithAndWithoutTable(pattern, pattern, texts);
  }
  EXPECT_GT(compared, 300);
  EXPECT_GT(memoizable, 250);
  EXPECT_EQ(endless, 0);
}

// The one-frame loops over a single unit with the table on, against the
// same loops written around a parenthesis and run without it.
TEST(RegexLimits, TableAgreesWithTheGeneralLoops) {
  const std::pair<const char*, const char*> pairs[] = {
      {"{a*}{[ab]*?}b", "{(a)*}{([ab])*?}b"}, {"{.+?}{b+}", "{(.)+?}{(b)+}"},
      {"{[ab]*}b", "{([ab])*}b"},             {"{{a+}}ca", "{{(a)+}}ca"},
      {"{.*}c|{b}", "{(.)*}c|{b}"},           {"{(.+)*}c", "{((.)+)*}c"},
      {"{(a.*)*}b", "{(a(.)*)*}b"},           {"{(b.*?)*}a", "{(b(.)*?)*}a"},
      {"{a?a?a?}{a*}", "{(a)?(a)?(a)?}{(a)*}"},
  };
  const auto texts = AllTexts("abc", 7);
  for (const auto& [fast, slow] : pairs) EXPECT_EQ(ExpectSameWithAndWithoutTable(fast, slow, texts), 0);
}

}  // namespace
}  // namespace qp
