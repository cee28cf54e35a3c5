// The JavaScript host: evaluation to text, the evaluator procedure, error
// texts, code pages, the time budget and host objects.
#include "engine/script_host.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>

#include "support/code_page_guard.h"
#include "support/codepage.h"

namespace qp {
namespace {

using namespace std::chrono_literals;

class ScriptHostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(host.Create());
    ASSERT_TRUE(host.LoadEvaluator());
  }
  // Runs the evaluator; the value, or "<failed>".
  std::string Run(const std::string& source) {
    std::string result = "<untouched>";
    return host.RunEvaluator(source, result) ? result : "<failed>";
  }
  ScriptHost host;
};

TEST_F(ScriptHostTest, EvaluatorIsDefinedByCodeAndCalledByName) {
  ASSERT_EQ(host.procedures().size(), 1u);
  EXPECT_EQ(host.procedures()[0], "kvm27eval");
  EXPECT_EQ(Run("1+2"), "3");
}

TEST_F(ScriptHostTest, ValuesBecomeTextLikeString) {
  const std::map<std::string, std::string> cases = {
      {"undefined", ""},
      {"null", ""},
      {"void 0", ""},
      {"true", "true"},
      {"1 < 0", "false"},
      {"0.1 + 0.2", "0.30000000000000004"},
      {"1 / 3", "0.3333333333333333"},
      {"1e21", "1e+21"},
      {"-0", "0"},
      {"0 / 0", "NaN"},
      {"-1 / 0", "-Infinity"},
      {"2147483647 + 1", "2147483648"},
      {"[1, [2, 3]]", "1,2,3"},
      {"({})", "[object Object]"},
      {"({toString: function() { return 'mine'; }})", "mine"},
      {"'a' + 'b'", "ab"},
      {"var x = 5; x * 2", "10"},
      {"if (true) { 'then'; } else { 'else'; }", "then"},
      {"function sq(n) { return n * n; } sq(7)", "49"},
  };
  for (const auto& [source, expected] : cases) EXPECT_EQ(Run(source), expected) << source;
}

TEST_F(ScriptHostTest, FailuresLeaveTheResultAlone) {
  const char* failing[] = {
      "1+", "a b", "undefinedName", "null.x", "throw 'x'", "nofn()",
      "({toString: function() { throw new Error('no text'); }})",
      "Object.create(null)",
  };
  for (const char* source : failing) {
    std::string result = "kept";
    EXPECT_FALSE(host.RunEvaluator(source, result)) << source;
    EXPECT_EQ(result, "kept") << source;
  }
}

TEST_F(ScriptHostTest, EachEvaluationHasItsOwnScopeButGlobalsStay) {
  EXPECT_EQ(Run("var local = 1; local"), "1");
  EXPECT_EQ(Run("typeof local"), "undefined");
  EXPECT_EQ(Run("shared = 41; shared"), "41");
  EXPECT_EQ(Run("shared + 1"), "42");
}

TEST_F(ScriptHostTest, ErrorTextNamesDescriptionSourceLineAndLine) {
  const struct {
    const char* source;
    const char* text;
  } cases[] = {
      {"1+", "Error: SyntaxError: parse error (line 1, end of input), 1+; in line 1"},
      {"1;\n2;\nundefinedName + 1",
       "Error: ReferenceError: identifier 'undefinedName' undefined, undefinedName + 1; in line 3"},
      {"1;\r\nnull.x;\r\n3", "Error: TypeError: cannot read property 'x' of null, null.x;; in line 2"},
      {"throw 'plain'", "Error: plain, ; in line 0"},
      {"throw new Error('why')", "Error: Error: why, throw new Error('why'); in line 1"},
  };
  for (const auto& c : cases) {
    std::string result;
    EXPECT_FALSE(host.RunEvaluator(c.source, result)) << c.source;
    EXPECT_EQ(host.ErrorText(), c.text) << c.source;
  }
}

TEST_F(ScriptHostTest, ErrorTextIsForgottenOnceRead) {
  std::string result;
  EXPECT_FALSE(host.RunEvaluator("1+", result));
  EXPECT_NE(host.ErrorText(), "Error: , ; in line 0");
  EXPECT_EQ(host.ErrorText(), "Error: , ; in line 0");
}

TEST_F(ScriptHostTest, ErrorInAddedCodeQuotesThatCode) {
  ASSERT_TRUE(host.AddCode("\nfunction boom() {\n  return missing.x;\n}"));
  std::string result;
  EXPECT_FALSE(host.RunEvaluator("boom()", result));
  EXPECT_EQ(host.ErrorText(),
            "Error: ReferenceError: identifier 'missing' undefined,   return missing.x;; in line 3");
}

TEST_F(ScriptHostTest, ErrorTextIsCutAt256BytesOnACharacter) {
  std::string result;
  const std::string longName(400, 'v');
  EXPECT_FALSE(host.RunEvaluator(longName, result));
  const std::string text = host.ErrorText();
  EXPECT_EQ(text.size(), 256u);
  EXPECT_EQ(text.rfind("Error: ReferenceError: identifier 'vvv", 0), 0u);

  // GBK: two bytes a character; an odd cut would leave half of one.
  CodePageGuard gbk(kCodePageGbk);
  const std::string zhong = ConvertCodePage("中", kCodePageUtf8, kCodePageGbk);
  std::string wide;
  for (int i = 0; i < 200; ++i) wide += zhong;
  EXPECT_FALSE(host.RunEvaluator("throw 'x" + wide + "'", result));
  const std::string cut = host.ErrorText();
  EXPECT_EQ(cut.size(), 256u);  // "Error: x" is 8 bytes, then 124 whole characters
  EXPECT_EQ(cut.substr(cut.size() - 2), zhong);
  EXPECT_FALSE(host.RunEvaluator("throw '" + wide + "'", result));
  const std::string odd = host.ErrorText();
  EXPECT_EQ(odd.size(), 255u);  // 7 bytes, then 124 characters: the 125th would not fit
  EXPECT_EQ(odd.substr(odd.size() - 2), zhong);
}

TEST_F(ScriptHostTest, TextsCrossInTheActiveCodePage) {
  {
    CodePageGuard gbk(kCodePageGbk);
    const std::string text = ConvertCodePage("中文", kCodePageUtf8, kCodePageGbk);
    EXPECT_EQ(Run("'" + text + "'.length"), "2");
    EXPECT_EQ(Run("'" + text + "' + '!'"), text + "!");
    EXPECT_EQ(Run("String.fromCharCode(0x4e2d)"), ConvertCodePage("中", kCodePageUtf8, kCodePageGbk));
  }
  CodePageGuard utf8(kCodePageUtf8);
  EXPECT_EQ(Run("String.fromCharCode(0xD83D, 0xDE00)"), "\xF0\x9F\x98\x80");
  EXPECT_EQ(Run("'\xF0\x9F\x98\x80'"), "\xF0\x9F\x98\x80");
  EXPECT_EQ(Run("'\xE4\xB8\xAD\xE6\x96\x87'.charCodeAt(1)"), "25991");
}

TEST_F(ScriptHostTest, TimeBudgetEndsEndlessLoops) {
  host.SetTimeBudget(200ms);
  const char* endless[] = {
      "while (true) {}",
      "for (;;) { try { while (true) {} } catch (e) {} }",
      "function f() { for (;;) {} } try { f(); } finally { for (;;) {} }",
  };
  for (const char* source : endless) {
    const auto start = std::chrono::steady_clock::now();
    std::string result = "kept";
    EXPECT_FALSE(host.RunEvaluator(source, result)) << source;
    EXPECT_EQ(result, "kept");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s) << source;
    EXPECT_NE(host.ErrorText().find("RangeError: execution timeout"), std::string::npos) << source;
  }
  // The host is still usable, and a fresh evaluation gets a fresh budget.
  EXPECT_EQ(Run("var n = 0; for (var i = 0; i < 1000; ++i) n += i; n"), "499500");
}

TEST(ScriptHostMemory, AllocationsPastTheLimitFailTheEvaluationOnly) {
  ScriptHost host;
  host.SetMemoryLimit(size_t{8} << 20);
  host.SetTimeBudget(20s);
  ASSERT_TRUE(host.Create());
  ASSERT_TRUE(host.LoadEvaluator());
  std::string result = "kept";
  EXPECT_FALSE(host.RunEvaluator(
      "var all = []; for (;;) all.push('x'.repeat(100000) + all.length)", result));
  EXPECT_EQ(result, "kept");
  EXPECT_EQ(host.ErrorText(),
            "Error: Error: alloc failed, var all = []; for (;;) all.push('x'.repeat(100000) + "
            "all.length); in line 1");
  EXPECT_LE(host.memoryInUse(), size_t{8} << 20);
  // A text too large for the engine fails the call instead of the program.
  EXPECT_FALSE(host.RunEvaluator(std::string(size_t{9} << 20, '1'), result));
  EXPECT_FALSE(host.EvalExpression(std::string(size_t{9} << 20, '1'), result));
  EXPECT_EQ(result, "kept");
  // The garbage of the failed evaluations is collected; the host goes on.
  EXPECT_TRUE(host.RunEvaluator("new Array(1000).join('y').length", result));
  EXPECT_EQ(result, "999");
  host.Destroy();
  EXPECT_EQ(host.memoryInUse(), 0u);
}

TEST_F(ScriptHostTest, AddedCodeDefinesProcedures) {
  ASSERT_TRUE(host.AddCode("function twice(s) { return s + s; }\nvar notAFunction = 3;"));
  EXPECT_EQ(host.procedures(), (std::vector<std::string>{"kvm27eval", "twice"}));
  std::string result;
  EXPECT_TRUE(host.EvalExpression("twice('ab')", result));
  EXPECT_EQ(result, "abab");
  EXPECT_FALSE(host.AddCode("function broken( {"));
  EXPECT_EQ(host.procedures().size(), 2u);
}

TEST_F(ScriptHostTest, EvalExpressionRunsInTheGlobalScope) {
  std::string result;
  EXPECT_TRUE(host.EvalExpression("var g = 4", result));
  EXPECT_EQ(result, "");
  EXPECT_TRUE(host.EvalExpression("g * 2", result));
  EXPECT_EQ(result, "8");
  result = "kept";
  EXPECT_FALSE(host.EvalExpression("g +", result));
  EXPECT_EQ(result, "kept");
  EXPECT_EQ(host.ErrorText(), "Error: SyntaxError: parse error (line 1, end of input), g +; in line 1");
}

TEST(ScriptHostLifecycle, NothingWorksWithoutAnEngineOrEvaluator) {
  ScriptHost host;
  std::string result = "kept";
  EXPECT_FALSE(host.RunEvaluator("1", result));
  EXPECT_FALSE(host.EvalExpression("1", result));
  EXPECT_FALSE(host.AddCode("1"));
  EXPECT_EQ(host.ErrorText(), "");
  EXPECT_EQ(result, "kept");

  ASSERT_TRUE(host.Create());
  EXPECT_FALSE(host.RunEvaluator("1", result));  // no evaluator loaded
  EXPECT_EQ(host.ErrorText(), "Error: , ; in line 0");
  ASSERT_TRUE(host.LoadEvaluator());
  EXPECT_TRUE(host.RunEvaluator("kept = 'old heap'", result));

  // A new engine forgets every earlier definition.
  ASSERT_TRUE(host.Create());
  EXPECT_TRUE(host.procedures().empty());
  EXPECT_TRUE(host.EvalExpression("typeof kept", result));
  EXPECT_EQ(result, "undefined");
  host.Destroy();
  EXPECT_FALSE(host.created());
}

// A window-like object: a title property, a read-only property and a method.
class FakeWindow : public HostObject {
 public:
  std::vector<std::string> Members() const override { return {"title", "fixed", "join"}; }
  bool IsMethod(const std::string& name) const override { return name == "join"; }
  bool Get(const std::string& name, std::string& value) override {
    value = name == "title" ? title : "constant";
    return true;
  }
  bool Set(const std::string& name, const std::string& value) override {
    if (name != "title") return false;
    title = value;
    return true;
  }
  bool Call(const std::string&, const std::vector<std::string>& args,
            std::string& result) override {
    if (args.empty()) return false;
    result.clear();
    for (const std::string& arg : args) result += (result.empty() ? "" : "-") + arg;
    return true;
  }
  std::string title = "start";
};

TEST_F(ScriptHostTest, HostObjectsServeTheirMembers) {
  auto window = std::make_shared<FakeWindow>();
  ASSERT_TRUE(host.AddObject("window", window, true));
  std::string result;
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"window.title", "start"},
      {"title", "start"},
      {"window.fixed", "constant"},
      {"window.join('a', 2, true)", "a-2-true"},
      {"join('x')", "x"},
      {"window.title = 'new'; title", "new"},
      {"title = 7; window.title", "7"},
  };
  for (const auto& [source, expected] : cases) {
    ASSERT_TRUE(host.EvalExpression(source, result)) << source << ": " << host.ErrorText();
    EXPECT_EQ(result, expected) << source;
  }
  EXPECT_EQ(window->title, "7");
  EXPECT_FALSE(host.EvalExpression("window.join()", result));
  EXPECT_NE(host.ErrorText().find("TypeError"), std::string::npos);
  EXPECT_FALSE(host.EvalExpression("window.fixed = 'x'", result));
}

TEST_F(ScriptHostTest, HostObjectWithoutMembersStaysOffTheGlobalScope) {
  auto window = std::make_shared<FakeWindow>();
  ASSERT_TRUE(host.AddObject("page", window, false));
  std::string result;
  EXPECT_TRUE(host.EvalExpression("typeof title + ' ' + page.title", result));
  EXPECT_EQ(result, "undefined start");
}

}  // namespace
}  // namespace qp
