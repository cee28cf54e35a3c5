// The matcher through MatchAll and ReplaceAll: the dialect's quirks that
// scripts depend on, captures in the caller's bytes, and robustness on large
// texts and hostile patterns.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "regex/regex_pattern.h"
#include "support/codepage.h"

namespace qp {
namespace {

using Results = std::vector<std::string>;

struct MatchCase {
  const char* pattern;
  std::string text;
  Results results;
};

void ExpectMatches(const MatchCase& c) {
  RegexPattern regex(c.pattern);
  ASSERT_TRUE(regex.valid()) << c.pattern << " error " << regex.error();
  EXPECT_EQ(regex.MatchAll(c.text), static_cast<int32_t>(c.results.size()))
      << c.pattern << " over " << c.text;
  EXPECT_EQ(regex.results(), c.results) << c.pattern << " over " << c.text;
}

TEST(RegexMatch, DialectQuirks) {
  const MatchCase cases[] = {
      // Alternation binds tighter than concatenation.
      {"{ab|cd}", "abd acd cd", {"abd", "acd"}},
      {"{(ab)|(cd)}", "cd ab", {"cd", "ab"}},
      // Case is ignored, captures keep the input's case.
      {"{A}", "xaAy", {"a", "A"}},
      {"{[A-C]+}", "xAbCd", {"AbC"}},
      {"{\\D+}", "ab12c345", {"12", "345"}},
      // "\t" is the letter t outside a class and a tab inside one.
      {"{\\t}", "at\tb", {"t"}},
      {"{[\\t]}", "at\tb", {"\t"}},
      {"{[\\T]}", "aT\tb", {"\t"}},
      {"{\\q}", "say \"hi\" and 'yo'", {"\"hi\""}},
      {"{\\q}", "only 'single'", {}},
      // A quantifier with nothing before it is a literal.
      {"{*a}", "x*ay", {"*a"}},
      {"{+}{?}", "a+?", {"+", "?"}},
      {"{a**}", "aa*", {"aa*"}},
      // "$" is special only last, "^" only first.
      {"{a}$", "aaa", {"a"}},
      {"{a$b}", "a$b", {"a$b"}},
      {"{a^}", "a^", {"a^"}},
      {"^{a}", "aaa", {"a", "a", "a"}},
      {"^{a}", "baa", {}},
      {"{.}", "ab", {"a", "b"}},
      {"{[^a-c]+}", "abxyzc", {"xyz"}},
      {"{[-a]+}", "b-a-", {"-a-"}},
      {"{[\\]]}", "a]", {"]"}},
      // A closing character at the top level ends the pattern.
      {"{a}b)c", "ab", {"a"}},
      {"{(ab)+}", "ababab x ab", {"ababab", "ab"}},
      {"{a|b|c}", "cab", {"c", "a", "b"}},
      {"{x}|{y}", "xy", {"x", "", "", "y"}},
      {"{a||b}", "|b ab", {"|b", "ab"}},
      {"{a|}b", "ab b", {"a", ""}},
      // Back-references compare without regard to case.
      {"{\\a}\\0", "xAa", {"A"}},
      {"{\\a}{\\0}", "bBb", {"b", "B"}},
      {"{!a.}", "abc", {"b", "c"}},
      {"{a!b}", "abac", {"a"}},
      {"{a!}", "a", {}},
      // The nine abbreviations.
      {"{\\a}", "-x9", {"x", "9"}},
      {"{\\b}", "a b\tc", {" ", "\t"}},
      {"{\\c}", "1a", {"a"}},
      {"{\\w}", "ab12Cd", {"ab", "Cd"}},
      {"{\\z}", "ab12cd3", {"12", "3"}},
      {"{\\h+}", "zz0fAg", {"0fA"}},
      {"{\\n}", "a\r\nb\nc\rd", {"\r\n", "\n", "\r"}},
      {"{\\N\\N}", "\r\n\r\n", {"\r\n\r\n"}},
      {"{\\w}\\b{\\z}", "ab 12 cd\t3", {"ab", "12", "cd", "3"}},
      // A trailing backslash is itself.
      {"{a}\\", "a\\b", {"a"}},
  };
  for (const auto& c : cases) ExpectMatches(c);
}

TEST(RegexMatch, SubstitutionPatternFindsSigilAndName) {
  const char* kReference = "\\[{[#$@%~!]}{[^\\[\\]]*?}\\]";
  ExpectMatches({kReference, "a[#x]b[$yy]c", {"#", "x", "$", "yy"}});
  ExpectMatches({kReference, "[@len<<<[#v]]", {"#", "v"}});
  ExpectMatches({kReference, "[x] [#] [!name", {"#", ""}});
}

TEST(RegexMatch, PatternWithoutGroupsGivesNoResults) {
  RegexPattern regex("ab");
  EXPECT_EQ(regex.MatchAll("xxabxx"), 0);
  EXPECT_TRUE(regex.results().empty());
  EXPECT_EQ(regex.lastGroupCount(), 0);
  EXPECT_EQ(regex.ReplaceAll("xxabxx", "y"), "xxabxx");
}

TEST(RegexMatch, EmptyMatchesMoveOnOneCharacter) {
  ExpectMatches({"{a*}", "baaa", {"", "aaa"}});
  ExpectMatches({"{x?}", "ab", {"", ""}});
  ExpectMatches({"{a*?}", "aab", {"", "", ""}});
  ExpectMatches({"^{a*}", "aab", {"aa", ""}});
}

TEST(RegexMatch, LazyAgainstGreedy) {
  ExpectMatches({"{.*?}x", "abxcdx", {"ab", "cd"}});
  ExpectMatches({"{.*}x", "abxcdx", {"abxcd"}});
  ExpectMatches({"{.+?}x", "xxabx", {"x", "ab"}});
  ExpectMatches({"{a??}{a}", "aa", {"", "a", "", "a"}});
  ExpectMatches({"<title>{.*?}</title>", "<TITLE>Home Page</Title><title>2</title>",
                 {"Home Page", "2"}});
}

// The three matcher details that a literal reading gets wrong.
TEST(RegexMatch, LazyRetriesFromItsOwnPosition) {
  ExpectMatches({"{.*?}ab", "aab", {"a"}});
  ExpectMatches({"<td>{.*?}</td>", "<td>a<</td>x</td>", {"a<"}});
  ExpectMatches({"{a+?}b", "aaab", {"aaa"}});
  ExpectMatches({"{x??}xy", "xxy", {"x"}});
}

TEST(RegexMatch, LoopProgressCheckComparesWithTheRetriedIteration) {
  // The first iteration is retried with its second alternative, which ends
  // where the first did: only a check against that iteration's own start
  // accepts it, and the back-reference then needs the "b" it captured.
  ExpectMatches({"{(({a}b)|(a{b}))*\\2x}", "abbx", {"abbx", "", "b"}});
}

// A greedy loop over one unit runs as one step with one stack frame; it must
// behave exactly as the loop over the same unit wrapped in parentheses.
TEST(RegexMatch, SingleUnitLoopsGiveBackLikeOrdinaryLoops) {
  const std::pair<const char*, const char*> pairs[] = {
      {"{a*}a", "{(a)*}a"},           {"{.*}{b}", "{(.)*}{b}"},
      {"{[^x]+}x", "{([^x])+}x"},     {"{\\w}{\\w}", "{([a-z])+}{([a-z])+}"},
      {"{a*}{a*}b", "{(a)*}{(a)*}b"}, {"{(ab*c)*}d", "{(a(b)*c)*}d"},
      {"!{b*}a", "!{(b)*}a"},         {"{.+}{.+}", "{(.)+}{(.)+}"},
      {"{.*?}b", "{(.)*?}b"},         {"{a+?}{a*?}b", "{(a)+?}{(a)*?}b"},
      {"{[^c]*?}{c+?}", "{([^c])*?}{(c)+?}"}, {"{(b.*?)*}a", "{(b(.)*?)*}a"},
  };
  const char* texts[] = {"aaa", "aab", "xabcx", "abbcabcd", "word more", "ba", "bbab", "a"};
  for (const auto& [fast, slow] : pairs) {
    RegexPattern a(fast), b(slow);
    ASSERT_TRUE(a.valid() && b.valid()) << fast;
    for (const char* text : texts) {
      a.MatchAll(text);
      b.MatchAll(text);
      EXPECT_EQ(a.results(), b.results()) << fast << " over " << text;
    }
  }
  ExpectMatches({"{a*}a", "aaa", {"aa"}});
  ExpectMatches({"{.*?}b", "aabab", {"aa", "a"}});
  ExpectMatches({"{\\w}{\\w}", "word", {"wor", "d"}});
  ExpectMatches({"{.+}{.+}", "abc", {"ab", "c"}});
}

// The same comparison over every text of up to seven units from a small
// alphabet, so that each way of giving units back is exercised.
TEST(RegexMatch, SingleUnitLoopsAgreeOnEveryShortText) {
  const std::pair<const char*, const char*> pairs[] = {
      {"{a*}{[ab]*?}b", "{(a)*}{([ab])*?}b"},
      {"{.+?}{b+}", "{(.)+?}{(b)+}"},
      {"{[^b]*}{.*?}\\0", "{([^b])*}{(.)*?}\\0"},
      // Loops followed by a literal, directly or past group ends.
      {"{[ab]*}b", "{([ab])*}b"},
      {"{{a+}}ca", "{{(a)+}}ca"},
      {"{.*}c|{b}", "{(.)*}c|{b}"},
  };
  std::vector<std::string> texts{""};
  for (size_t i = 0; i < texts.size() && texts.size() < 4000; ++i)
    if (texts[i].size() < 7)
      for (char c : {'a', 'b', 'c'}) texts.push_back(texts[i] + c);
  for (const auto& [fast, slow] : pairs) {
    RegexPattern a(fast), b(slow);
    ASSERT_TRUE(a.valid() && b.valid()) << fast;
    for (const auto& text : texts) {
      a.MatchAll(text);
      b.MatchAll(text);
      ASSERT_EQ(a.results(), b.results()) << fast << " over " << text;
    }
  }
}

TEST(RegexMatch, LineEndTakesCrLfAsOne) {
  ExpectMatches({"{[^\r\n]*}\\n", "one\r\ntwo\r\n", {"one", "two"}});
  ExpectMatches({"x\\n{y}", "x\r\ny", {"y"}});
}

TEST(RegexMatch, EmptyPatternMatchesEmptyAtTheSearchStart) {
  RegexPattern regex("");
  ASSERT_TRUE(regex.valid());
  int32_t next = -1;
  ASSERT_TRUE(regex.Match(u"abc", 1, next));
  EXPECT_EQ(next, 1);
  EXPECT_EQ(regex.state().matchStart, 1);
  EXPECT_EQ(regex.state().matchEnd, 1);
  EXPECT_EQ(regex.MatchAll("abc"), 0);
  EXPECT_EQ(regex.lastGroupCount(), 0);
}

TEST(RegexMatch, SearchRegisters) {
  RegexPattern regex("b{c}");
  int32_t next = -1;
  ASSERT_TRUE(regex.Match(u"abcabc", 2, next));
  EXPECT_EQ(regex.state().matchStart, 4);
  EXPECT_EQ(regex.state().matchEnd, 6);
  EXPECT_EQ(next, 6);
  ASSERT_EQ(regex.state().groupCount, 1u);
  EXPECT_EQ(regex.state().groups[0], std::make_pair(5, 6));
  EXPECT_FALSE(regex.Match(u"abcabc", 5, next));
  // A search never starts at the end of the text.
  EXPECT_FALSE(regex.Match(u"abc", 3, next));
  EXPECT_FALSE(RegexPattern("$").Match(u"abc", 0, next));
}

TEST(RegexMatch, InvalidPatternOrEmptyTextGivesNothing) {
  RegexPattern bad("{a");
  EXPECT_EQ(bad.MatchAll("aaa"), 0);
  EXPECT_EQ(bad.ReplaceAll("aaa", "b"), "aaa");
  RegexPattern good("{a}");
  EXPECT_EQ(good.MatchAll("a"), 1);
  EXPECT_EQ(good.MatchAll(""), 0);
  EXPECT_TRUE(good.results().empty());
  EXPECT_EQ(good.lastGroupCount(), 0);
  EXPECT_EQ(good.MatchAll("b"), 0);
  EXPECT_EQ(good.lastGroupCount(), 1);
}

struct ReplaceCase {
  const char* pattern;
  const char* text;
  const char* replacement;
  const char* result;
};

TEST(RegexMatch, ReplaceAll) {
  const ReplaceCase cases[] = {
      {"{a}{\\d}", "a1 b1 a1", "X$1", "X11 b1 X11"},
      // Group 0 is replaced everywhere in the result, not only at the match.
      {"{b}c", "bc b bc", "Y", "Yc Y Yc"},
      {"{<{\\w}>}", "<i> x <b>", "[$1]", "[i] x [b]"},
      // "$1" is processed before "$10".
      {"{x}{a}{b}{c}{d}{e}{f}{g}{h}{i}{j}", "xabcdefghij", "$10|$1|$2", "a0|a|babcdefghij"},
      {"{q}", "abc", "z", "abc"},
      {"{a*}", "bbb", "z", "bbb"},
      {"{a}", "", "z", ""},
      {"{\\w}", "Hi there", "<$0>", "<$0> <$0>"},
  };
  for (const auto& c : cases) {
    RegexPattern regex(c.pattern);
    ASSERT_TRUE(regex.valid()) << c.pattern;
    EXPECT_EQ(regex.ReplaceAll(c.text, c.replacement), c.result) << c.pattern;
  }
}

class RegexCodePage : public ::testing::Test {
 protected:
  void TearDown() override { SetActiveCodePage(kCodePageGbk); }
};

TEST_F(RegexCodePage, GbkCapturesAreTheCallersBytes) {
  SetActiveCodePage(kCodePageGbk);
  const std::string zhong = "\xD6\xD0", wen = "\xCE\xC4";  // two GBK characters
  ExpectMatches({"<b>{.*?}</b>", "<B>" + zhong + wen + "A</b>", {zhong + wen + "A"}});
  RegexPattern regex(zhong + "{.}");
  ASSERT_TRUE(regex.valid());
  ASSERT_EQ(regex.MatchAll("x" + zhong + wen + "y" + zhong + "Z"), 2);
  EXPECT_EQ(regex.results(), (Results{wen, "Z"}));
  // Invalid bytes are matched as "?" but captured as they were.
  ExpectMatches({"<{.}>", "<\xFF>", {"\xFF"}});
}

TEST_F(RegexCodePage, GbkTrailBytesAreNotLetters) {
  SetActiveCodePage(kCodePageGbk);
  const std::string withTrailA = "\x81\x61";  // a character whose trail byte is "a"
  ExpectMatches({"{a}", withTrailA + "a", {"a"}});
  RegexPattern regex("{a}");
  EXPECT_EQ(regex.ReplaceAll(withTrailA + "a", "X"), withTrailA + "X");
}

TEST_F(RegexCodePage, Utf8CaseFoldingBeyondAscii) {
  SetActiveCodePage(kCodePageUtf8);
  ExpectMatches({"{\xC3\x89+}", "x\xC3\xA9\xC3\x89y", {"\xC3\xA9\xC3\x89"}});
  ExpectMatches({"{\xD0\x94}\\0", "\xD0\xB4\xD0\x94", {"\xD0\xB4"}});
  // A character outside the BMP is two units to the matcher but one capture.
  ExpectMatches({"<{..}>", "<\xF0\x9F\x98\x80>", {"\xF0\x9F\x98\x80"}});
}

TEST(RegexRobustness, DeepBacktrackingOnOneMegabyte) {
  std::string text;
  for (int i = 0; i < 512 * 1024; ++i) text += "ab";
  RegexPattern loop("{(a|b)*}");
  ASSERT_EQ(loop.MatchAll(text), 1);
  EXPECT_EQ(loop.results()[0].size(), text.size());
  RegexPattern greedy("{.*}b");
  ASSERT_EQ(greedy.MatchAll(text), 1);
  EXPECT_EQ(greedy.results()[0].size(), text.size() - 1);
  RegexPattern lazy("{a.*?}x");
  EXPECT_EQ(lazy.MatchAll(text.substr(0, 2000)), 0);
}

TEST(RegexRobustness, StackThatCannotGrowFailsTheSearch) {
  std::string text(100000, 'a');
  RegexPattern regex("{(a)*}");
  regex.setStackLimit(1000);
  EXPECT_EQ(regex.MatchAll(text), 0);
  EXPECT_EQ(regex.ReplaceAll(text, "b"), text);
  regex.setStackLimit(kRegexDefaultStackLimit);
  ASSERT_EQ(regex.MatchAll(text), 1);
  EXPECT_EQ(regex.results()[0], text);
}

TEST(RegexRobustness, NulUnitsAreOrdinaryCharacters) {
  const std::string text("a\0b", 3);
  ExpectMatches({"{a.b}", text, {text}});
  ExpectMatches({"{b}$", text, {"b"}});
  // The pattern ends at its first NUL.
  RegexPattern cut(std::string("{a}\0{b}", 7));
  EXPECT_EQ(cut.groupCount(), 1);
}

TEST(RegexRobustness, PatternIsReusableAcrossCalls) {
  RegexPattern regex("{\\z}");
  for (int round = 0; round < 3; ++round) {
    ASSERT_EQ(regex.MatchAll("a1b22c333"), 3);
    EXPECT_EQ(regex.results(), (Results{"1", "22", "333"}));
    EXPECT_EQ(regex.MatchAll("none"), 0);
  }
}

}  // namespace
}  // namespace qp
