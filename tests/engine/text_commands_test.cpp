// The text commands regex, match, replace and unregex, driven through Run.
#include <gtest/gtest.h>

#include "fake_ui.h"
#include "regex/regex_pattern.h"

namespace qp::test {
namespace {

struct Ran {
  FakeUi ui;
  std::unique_ptr<ScriptRunner> runner;
};

std::unique_ptr<Ran> RunText(const std::string& text) {
  auto ran = std::make_unique<Ran>();
  ran->runner = MakeRunner(text, ran->ui);
  qp::Run(*ran->runner);
  return ran;
}

TEST(TextCommands, MatchAndReadResults) {
  auto ran = RunText(
      "regex p {[a-z]}{[0-9]}\nmatch p a1 b2 c3\nnote [$p.count] [$p.group] [$p.2][$p.3]\n");
  EXPECT_EQ(ran->ui.Notes(), std::vector<std::string>{"6 2 b2"});
  EXPECT_TRUE(ran->ui.Alerts().empty());
}

TEST(TextCommands, NameAndTextAreSubstitutedPatternIsNot) {
  auto ran = RunText(
      "var [#n] pat\nvar [#t] b#x\nregex [#n] {[#$]x}\nmatch [#n] a$x [#t]\n"
      "note [$pat.count] [$pat.0] [$pat.1]\n");
  EXPECT_EQ(ran->ui.Notes(), std::vector<std::string>{"2 $x #x"});
}

TEST(TextCommands, PatternKeepsTrailingBlanks) {
  auto ran = RunText("regex p {a} \nmatch p ab a b\nnote [$p.count]\n");
  EXPECT_EQ(ran->ui.Notes(), std::vector<std::string>{"1"});
}

TEST(TextCommands, SecondMatchReplacesResultsAndNoMatchLeavesNone) {
  auto ran = RunText(
      "regex p {[0-9]}\nmatch p 1 2 3\nmatch p 4\nnote [$p.count] [$p.0]\nmatch p none\n"
      "note [$p.count]\n");
  EXPECT_EQ(ran->ui.Notes(), (std::vector<std::string>{"1 4", "0"}));
}

TEST(TextCommands, ReplaceRewritesTheVariable) {
  auto ran = RunText(
      "regex p {a}{[0-9]}\nvar [#v] a1 b1 a2\nreplace p [#v] X$1\nnote [#v]\n"
      "replace p [#w] Y\nnote w=[#w]\n"
      "var [#u] a1-a2\nreplace p [#u]\nnote [#u]\n");
  EXPECT_EQ(ran->ui.Notes(), (std::vector<std::string>{"X11 b1 X12", "w=", "1-2"}));
  EXPECT_TRUE(ran->runner->variables.Has("w"));
}

TEST(TextCommands, UnregexForgetsThePattern) {
  auto ran = RunText("unregex nothing\nregex p a\nunregex p\nmatch p a\nnote after\n");
  EXPECT_TRUE(ran->ui.Notes().empty());
  EXPECT_EQ(ran->ui.Alerts(),
            std::vector<std::string>{ErrorText("p a", "p" + Msg(MessageId::kRegexMissing))});
}

TEST(TextCommands, Errors) {
  struct Case {
    const char* line;
    std::string alert;
  } cases[] = {
      {"regex onlyname", ErrorText("onlyname", Msg(MessageId::kNoValidRegex))},
      {"match onlyname", ErrorText("onlyname", Msg(MessageId::kFormatError))},
      {"match nope text", ErrorText("nope text", "nope" + Msg(MessageId::kRegexMissing))},
      {"replace onlyname", ErrorText("onlyname", Msg(MessageId::kFormatError))},
      {"replace p [#]", ErrorText("p [#]", Msg(MessageId::kFormatError))},
      {"replace nope [#v] x", ErrorText("nope [#v] x", "nope" + Msg(MessageId::kRegexMissing))},
  };
  for (const auto& c : cases) {
    auto ran = RunText(std::string(c.line) + "\nnote after\n");
    EXPECT_EQ(ran->ui.Alerts(), std::vector<std::string>{c.alert}) << c.line;
    EXPECT_TRUE(ran->ui.Notes().empty()) << c.line;
  }
}

}  // namespace
}  // namespace qp::test
