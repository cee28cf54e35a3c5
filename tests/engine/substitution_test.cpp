// Bracket references, operand splitting, `var`, and the readers of pattern
// and query results.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "engine/operand_template.h"
#include "fake_ui.h"
#include "regex/regex_pattern.h"
#include "support/code_page_guard.h"
#include "support/codepage.h"

namespace qp::test {
namespace {

std::string ReadBack(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class SubstituteTest : public ::testing::Test {
 protected:
  SubstituteTest() : runner(MakeRunner("", ui)) {}
  std::string Sub(std::string text) {
    Substitute(*runner, text);
    return text;
  }
  FakeUi ui;
  std::unique_ptr<ScriptRunner> runner;
};

TEST_F(SubstituteTest, AbsentVariableIsEmptyAndCreated) {
  EXPECT_EQ(Sub("<[#a]>"), "<>");
  EXPECT_TRUE(runner->variables.Has("a"));
}

TEST_F(SubstituteTest, NestedReferencesResolveInsideOut) {
  runner->variables.Set("i", "2");
  runner->variables.Set("x2", "hello");
  EXPECT_EQ(Sub("[#x[#i]]"), "hello");
  runner->variables.Set("j", "i");
  EXPECT_EQ(Sub("[#x[#[#j]]]!"), "hello!");
}

TEST_F(SubstituteTest, BangReferenceStays) {
  EXPECT_EQ(Sub("a [!name] b"), "a [!name] b");
  runner->variables.Set("v", "V");
  EXPECT_EQ(Sub("[!x][#v]"), "[!x]V");
}

TEST_F(SubstituteTest, NotReferences) {
  EXPECT_EQ(Sub("[x] [#] [#a [b] ]"), "[x]  [#a [b] ]");
  EXPECT_EQ(Sub("[#unclosed"), "[#unclosed");
  EXPECT_EQ(Sub("no brackets"), "no brackets");
}

TEST_F(SubstituteTest, ReferenceInsideCallIsReplacedFirst) {
  runner->variables.Set("v", "abcd");
  EXPECT_EQ(Sub("[@len<<<[#v]]"), "4");
}

TEST_F(SubstituteTest, EqualReferencesGetOneValueButEveryCallIsMade) {
  runner->randomState = 1;
  std::string text = Sub("[@rand<<<1000]-[@rand<<<1000]");
  // 41 % 1001 * 1000 / 1000 = 41: the first call's value fills both.
  EXPECT_EQ(text, "41-41");
  EXPECT_EQ(NextRandom(*runner), 6334);  // the third value: two calls were made
}

TEST_F(SubstituteTest, InsertedTextIsNeverReadAsReference) {
  auto path = std::filesystem::temp_directory_path() / "qp_engine_injection.txt";
  std::filesystem::remove(path);
  runner->variables.Set("http_body", "<p>[@writefile<<<" + path.string() + "<<<x]</p>");
  EXPECT_EQ(Sub("[#http_body]"), "<p>[@writefile<<<" + path.string() + "<<<x]</p>");
  EXPECT_FALSE(std::filesystem::exists(path));
  runner->variables.Set("lib", "[~lib.f]");
  EXPECT_EQ(Sub("call [#lib]"), "call [~lib.f]");
  // Nor does a later reference of the same pass replace inserted text.
  runner->variables.Set("a", "[#b]");
  runner->variables.Set("b", "B");
  EXPECT_EQ(Sub("[#a] [#b]"), "[#b] B");
}

TEST_F(SubstituteTest, InsertedBracketsAreOrdinaryCharactersInsideAReference) {
  runner->variables.Set("v", "[#y]");
  runner->variables.Set("y", "never");
  EXPECT_EQ(Sub("[@len<<<[#v]]"), "4");
  runner->variables.Set("w", "]");
  EXPECT_EQ(Sub("[@len<<<a[#w]b]"), "3");
}

TEST_F(SubstituteTest, GbkTrailBytesAreNoBrackets) {
  if (ActiveCodePage() != kCodePageGbk) GTEST_SKIP() << "needs the GBK code page";
  // 0x81 0x5D is one GBK character whose second byte is "]".
  std::string name = "\x81\x5D";
  runner->variables.Set(name, "gbk");
  EXPECT_EQ(Sub("[#" + name + "]"), "gbk");
  EXPECT_EQ(Sub("[@len<<<" + name + "]"), "2");
}

TEST_F(SubstituteTest, Utf8CodePage) {
  int saved = ActiveCodePage();
  SetActiveCodePage(kCodePageUtf8);
  runner->variables.Set("\xE5\x90\x8D", "name");  // one three-byte character
  EXPECT_EQ(Sub("[#\xE5\x90\x8D]"), "name");
  EXPECT_EQ(Sub("[@len<<<\xE4\xB8\xAD]"), "3");
  SetActiveCodePage(saved);
}

// A value whose last byte is a lead byte (half a character, an unmapped pair,
// a binary body) keeps that byte as a character of its own: the script's "]"
// after it still closes the reference.
struct HalfCharacterCase {
  int codePage;
  const char* name;
  std::string value;
};

TEST_F(SubstituteTest, ValueEndingInALeadByteNeverTakesTheScriptsBracket) {
  const HalfCharacterCase cases[] = {
      {kCodePageUtf8, "middle of a UTF-8 character", "\xAD\xE6"},
      {kCodePageUtf8, "binary ending in 0x85", std::string("PK\x03\x04\x00\x85", 6)},
      {kCodePageUtf8, "UTF-8 lead byte", "abc\xE4\xB8"},
      {kCodePageGbk, "GBK lead byte", "abc\xD6"},
      {kCodePageGbk, "UTF-8 page read as GBK", "\xE4\xB8\xAD\xE6\x96"},
      {kCodePageGbk, "binary ending in 0x85", "\x85"},
      {kCodePageGbk, "unmapped GBK pair", "\xA2\xA0\xA2"},
  };
  for (const HalfCharacterCase& c : cases) {
    CodePageGuard codePage(c.codePage);
    runner->variables.Set("v", c.value);
    EXPECT_EQ(Sub("[@len<<<[#v]]"), std::to_string(c.value.size())) << c.name;
    EXPECT_EQ(Sub("<[#v]>[@len<<<x]"), "<" + c.value + ">1") << c.name;
    // Nor does the script's "[" after the value become its trail byte.
    EXPECT_EQ(Sub("[#v][@len<<<ab]"), c.value + "2") << c.name;
    EXPECT_EQ(Sub("[@len<<<[#v]][@len<<<[#v]x]"),
              std::to_string(c.value.size()) + std::to_string(c.value.size() + 1))
        << c.name;
  }
}

TEST_F(SubstituteTest, InsertedSeparatorsNeverCutACall) {
  runner->variables.Set("page", "a<<<b<<<w+");
  runner->variables.Set("lt", "<");
  EXPECT_EQ(Sub("[@len<<<[#page]]"), "10");
  runner->variables.Set("sep", "<<<");
  EXPECT_EQ(Sub("[@replace<<<[#page]<<<[#sep]<<<-]"), "a-b-w+");
  EXPECT_EQ(Sub("[@indexof<<<[#page]<<<b]"), "4");
  // A separator made partly of inserted bytes is no separator either.
  EXPECT_EQ(Sub("[@len<<<x[#lt]<<y]"), "5");
  // The script's own separators still cut, also around inserted values.
  runner->variables.Set("n", "2");
  EXPECT_EQ(Sub("[@substr<<<[#page]<<<[#n]<<<3]"), "<<b");
  // A call whose items come from a nested call's result stays one item.
  EXPECT_EQ(Sub("[@len<<<[@replace<<<x<<<x<<<[#sep]]]"), "3");
}

// A call's items are made from its parts without joining them into one text
// first; they are cut exactly where that text would be, in both the
// text-based substitution and the compiled operand.
TEST_F(SubstituteTest, CallItemsAreCutWhereTheWholeTextWouldBe) {
  runner->variables.Set("e", "");
  runner->variables.Set("s", "<<<");
  runner->variables.Set("v", "abc");
  const struct {
    const char* operand;
    const char* value;
  } cases[] = {
      {"[@len<<[#e]<abc]", "3"},         // an empty value joins the own "<" around it
      {"[@len<[#e]<[#e]<abcd]", "4"},
      {"[@len<<[#s]]", ""},               // "len<<" and inserted "<<<": one item, no built-in
      {"[@len<<<<[#e]ab]", "3"},          // the fourth "<" starts the item
      {"[@len<<<[#s][#e]<<<x]", "3"},     // the inserted "<<<" is the item
      {"[@len<<<[#v][#v]]", "6"},
      {"[@[#e]len<<<[#v]]", "3"},         // the name may come from a value too
      {"[@compare<<<[#v]<<<abc]", "1"},
      {"[@len<<<[#e]]", "0"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Sub(c.operand), c.value) << c.operand;
    OperandTemplate compiled(c.operand);
    std::string out;
    compiled.Substitute(*runner, out);
    EXPECT_EQ(out, c.value) << c.operand;
  }
  EXPECT_TRUE(ui.Alerts().empty());
}

// "writefile" writes an inserted value whole, whatever its last byte or the
// "<<<" inside it: the value decides neither where the call ends nor the mode.
TEST_F(SubstituteTest, WritefileWritesAnInsertedValueWhole) {
  struct Case {
    int codePage;
    const char* name;
    std::string before, value, mode, after;
  } cases[] = {
      {kCodePageUtf8, "half a UTF-8 character", "old", "\xAD\xE6", "<<<w", "\xAD\xE6"},
      {kCodePageGbk, "GBK lead byte", "old", "x\xD6", "<<<w", "x\xD6"},
      {kCodePageGbk, "page with <<<w, append kept", "kept;", "<p>x<<<w</p>", "", "kept;<p>x<<<w</p>"},
  };
  auto path = std::filesystem::temp_directory_path() / "qp_engine_writefile_whole.txt";
  runner->variables.Set("p", path.string());
  for (const Case& c : cases) {
    CodePageGuard codePage(c.codePage);
    { std::ofstream(path, std::ios::binary) << c.before; }
    runner->variables.Set("v", c.value);
    EXPECT_EQ(Sub("[@writefile<<<[#p]<<<[#v]" + c.mode + "]"), "1") << c.name;
    EXPECT_EQ(ReadBack(path), c.after) << c.name;
  }
  std::filesystem::remove(path);
}

TEST_F(SubstituteTest, EqualBytesFromAnotherOriginAreAnotherOccurrence) {
  // After the first pass both calls read "[@len<<<ab]", but the second one's
  // "<<<" was inserted: it is a call of the one item "len<<<ab", a name no
  // built-in has, and the first call's value does not fill it.
  runner->variables.Set("e", "");
  runner->variables.Set("s", "<<<");
  EXPECT_EQ(Sub("[@len<<<a[#e]b] [@len[#s]ab]"), "2 ");
}

TEST(SubstituteScript, PageBodyWithACallStaysTextWhenShown) {
  auto path = std::filesystem::temp_directory_path() / "qp_engine_injection_run.txt";
  std::filesystem::remove(path);
  FakeUi ui;
  auto runner = MakeRunner("note [#http_body]\nnote [@len<<<[#http_body]]\n", ui);
  std::string body = "[@writefile<<<" + path.string() + "<<<x]";
  runner->variables.Set("http_body", body);
  qp::Run(*runner);
  // The call still runs over the inserted text, whose "<<<" are text too:
  // "len" counts the whole body.
  EXPECT_EQ(ui.Notes(), (std::vector<std::string>{body, std::to_string(body.size())}));
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(Split, Table) {
  struct Case {
    const char* text;
    const char* separator;
    const char* first;
    const char* rest;
    bool found;
  } cases[] = {
      {"a b c", "", "a", "b c", true},
      {"a   b", "", "a", "b", true},
      {"a\tb c", "", "a\tb", "c", true},
      {"a\tb", "", "a", "b", true},
      {"abc  ", "", "abc", "", true},
      {"abc\r", "", "abc", "", false},
      {"", "", "", "", false},
      {"name.field", ".", "name", "field", true},
      {"x<<< y", "<<<", "x", "y", true},
      {"nodot", ".", "nodot", "", false},
  };
  for (const auto& c : cases) {
    SplitResult r = Split(c.text, c.separator);
    EXPECT_EQ(r.first, c.first) << c.text;
    EXPECT_EQ(r.rest, c.rest) << c.text;
    EXPECT_EQ(r.found, c.found) << c.text;
  }
}

class VarTest : public SubstituteTest {};

TEST_F(VarTest, AssignsSubstitutedNameAndValue) {
  AssignVariable(*runner, "[#a] x");
  EXPECT_EQ(runner->variables.Get("a"), "x");
  runner->variables.Set("i", "3");
  AssignVariable(*runner, "[#item[#i]] (1+[#i])");
  EXPECT_EQ(runner->variables.Get("item3"), "4");
  AssignVariable(*runner, "[#e]");
  EXPECT_EQ(runner->variables.Get("e"), "");
  EXPECT_TRUE(ui.Alerts().empty());
}

TEST_F(VarTest, ShortReferenceIsAFormatError) {
  AssignVariable(*runner, "[#] x");
  EXPECT_EQ(ui.Alerts(), std::vector<std::string>{ErrorText("[#] x", Msg(MessageId::kFormatError))});
}

class ReaderTest : public SubstituteTest {};

TEST_F(ReaderTest, QueryResults) {
  runner->queryResults["q"] = {{"a", "b"}, {"c"}};
  EXPECT_EQ(Sub("[%q.count]"), "2");
  EXPECT_EQ(Sub("[%q. COUNT ]"), "2");
  EXPECT_EQ(Sub("[%q.0.1][%q.1.0]"), "bc");
  EXPECT_EQ(Sub("[%q.1.5]"), "");  // a column outside the row
  EXPECT_TRUE(ui.Alerts().empty());
  EXPECT_EQ(Sub("[%none.count]"), "0");
  EXPECT_TRUE(runner->queryResults.count("none"));
}

TEST_F(ReaderTest, QueryErrors) {
  struct Case {
    const char* text;
    const char* command;
    MessageId reason;
  } cases[] = {
      {"[%none.0.0]", "none.0.0", MessageId::kIndexOutOfRangeAscii},
      {"[%q.-1.0]", "q.-1.0", MessageId::kIndexOutOfRangeAscii},
      {"[%q.0]", "q.0", MessageId::kFormatError},
      {"[%q]", "q", MessageId::kFormatError},
      {"[%.count]", ".count", MessageId::kFormatError},
  };
  for (const auto& c : cases) {
    FakeUi local;
    auto r = MakeRunner("", local);
    r->queryResults["q"] = {{"a"}};
    std::string text = c.text;
    Substitute(*r, text);
    EXPECT_EQ(text, "") << c.text;
    EXPECT_EQ(local.Alerts(), std::vector<std::string>{ErrorText(c.command, Msg(c.reason))})
        << c.text;
    EXPECT_TRUE(r->continuations.empty());
  }
}

TEST_F(ReaderTest, PatternResults) {
  auto pattern = std::make_unique<RegexPattern>("{[a-z]}{[0-9]}");
  pattern->MatchAll("a1 b2 c3");
  runner->regexes["p"] = std::move(pattern);
  EXPECT_EQ(Sub("[$p.count]"), "6");
  EXPECT_EQ(Sub("[$p.group]"), "2");
  EXPECT_EQ(Sub("[$p.0][$p.1]-[$p.5]"), "a1-3");
  EXPECT_TRUE(ui.Alerts().empty());
  EXPECT_EQ(Sub("[$p.6]"), "");
  EXPECT_EQ(ui.Alerts(), std::vector<std::string>{ErrorText("p.6", Msg(MessageId::kIndexOutOfRange))});
}

TEST_F(ReaderTest, PatternErrors) {
  EXPECT_EQ(Sub("[$nope.count]"), "nope.count");
  EXPECT_EQ(Sub("[$nodot]"), "");
  EXPECT_EQ(ui.Alerts(),
            (std::vector<std::string>{
                ErrorText("nope.count", "nope" + Msg(MessageId::kRegexMissing)),
                ErrorText("nodot", Msg(MessageId::kFormatError))}));
}

}  // namespace
}  // namespace qp::test
