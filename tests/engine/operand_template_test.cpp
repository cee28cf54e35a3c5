// Operand templates and the parse-once evaluator against the text-based
// substitution and evaluator they replace, over generated operands: the
// results, the variables, the error reports and the generator state must be
// the same, use after use.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "engine/operand_template.h"
#include "fake_ui.h"
#include "regex/regex_pattern.h"
#include "support/codepage.h"

namespace qp::test {
namespace {

// Two runners in the same state: one for the text-based path, one for the
// templates.
struct Twin {
  FakeUi ui;
  std::unique_ptr<ScriptRunner> runner = MakeRunner("", ui);

  Twin() {
    VariableStore& v = runner->variables;
    v.Set("a", "1");
    v.Set("b", "-2");
    v.Set("i", "2");
    v.Set("w", "12.5");
    v.Set("x1", "a");
    v.Set("x2", "[#a]");
    v.Set("x", "<<<");
    v.Set("c", "#a");
    v.Set("d", "1,2,3");
    v.Set("e", "");
    v.Set("h", "\x81");
    v.Set("u", "\xe4\xb8");
    v.Set("ai", "i");
    runner->randomState = 7;
    auto pattern = std::make_unique<RegexPattern>("(a)(b)");
    pattern->MatchAll("abab");
    runner->regexes["r"] = std::move(pattern);
    runner->queryResults["q"] = {{"1", "2"}, {"x"}};
  }
};

void ExpectSameState(Twin& text, Twin& compiled, const std::string& operand) {
  EXPECT_EQ(text.runner->variables.all(), compiled.runner->variables.all()) << operand;
  EXPECT_EQ(text.runner->errorCount, compiled.runner->errorCount) << operand;
  EXPECT_EQ(text.ui.Alerts(), compiled.ui.Alerts()) << operand;
  EXPECT_EQ(text.runner->randomState, compiled.runner->randomState) << operand;
}

// Pieces that make references, nestings, stray brackets, calls, expressions
// and bytes of multibyte characters.
const char* const kFragments[] = {
    "[",  "]",   "[#",  "[@",    "[$",      "[%",     "[!",     "[~",      "#",      "@",
    "a",  "b",   "i",   "w",     "x",       "c",      "d",      "e",       "h",      "u",
    "1",  "2",   "x1",  "ai",    "len<<<",  "split<<<", "rand<<<9", "<<<", ",",   "r.0",
    "r.count", "q.0.1", "q.count", "m.f",  "(",      ")",      "+",       "-",      "*",
    "/",  "<",   ">",   "=",     "==",      ">=",     "&&",     "||",      " ",      ".",
    "\x81", "\xe4\xb8\xad", "\xad", "[#a]", "[#i]", "[#x[#i]]", "[#[#c]]", "[#w]", "[#b]",
    "[#e]", "[#h]", "[@len<<<[#x]]", "[#a][#a]", "[@rand<<<9]",
};

std::string RandomOperand(std::mt19937& gen) {
  std::uniform_int_distribution<size_t> pick(0, std::size(kFragments) - 1);
  std::uniform_int_distribution<int> length(0, 9);
  std::string text;
  for (int n = length(gen); n > 0; --n) text += kFragments[pick(gen)];
  if (gen() % 3 == 0) text = "(" + text + ")";
  return text;
}

// Expressions over numbers and references to numbers (plain ones, a
// negative one, an empty one).
std::string RandomExpression(std::mt19937& gen) {
  static const char* const kTerms[] = {"1", "0", "2.5", "10", "[#a]", "[#w]", "[#i]",
                                       "[#b]", "[#e]", "-[#a]", "([#i]*2)", ".5", "x"};
  static const char* const kOps[] = {"+", "-", "*", "/", "<", ">", "==", "!=", ">=", "<=",
                                     "&&", "||", " ", ""};
  std::string text = "(";
  int terms = 1 + static_cast<int>(gen() % 5);
  for (int k = 0; k < terms; ++k) {
    if (k > 0) text += kOps[gen() % std::size(kOps)];
    text += kTerms[gen() % std::size(kTerms)];
  }
  return text + ")";
}

void CheckAgreement(const std::string& operand) {
  Twin text;
  Twin compiled;
  OperandTemplate plan(operand);
  // Twice: the second use reads through the slots the first one bound, and
  // sees the variables as the first one left them.
  for (int use = 0; use < 2; ++use) {
    std::string expected = Expanded(*text.runner, operand);
    std::string actual;
    plan.Expand(*compiled.runner, actual);
    ASSERT_EQ(expected, actual) << "operand: " << operand << " use " << use;
    ExpectSameState(text, compiled, operand);
    text.runner->variables.Set("a", "3");
    compiled.runner->variables.Set("a", "3");
  }
  std::string expected = operand;
  Substitute(*text.runner, expected);
  std::string actual;
  plan.Substitute(*compiled.runner, actual);
  ASSERT_EQ(expected, actual) << "operand: " << operand;
  ExpectSameState(text, compiled, operand);
}

class OperandTemplateAgreement : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override {
    saved_ = ActiveCodePage();
    SetActiveCodePage(GetParam());
  }
  void TearDown() override { SetActiveCodePage(saved_); }
  int saved_ = 0;
};

TEST_P(OperandTemplateAgreement, GeneratedOperands) {
  std::mt19937 gen(12345);
  int compiled = 0;
  for (int k = 0; k < 4000; ++k) {
    std::string operand = RandomOperand(gen);
    compiled += OperandTemplate(operand).compiled() ? 1 : 0;
    CheckAgreement(operand);
    if (HasFatalFailure()) return;
  }
  // Most operands have a structure of their own text: the templates are
  // what is being compared, not the text-based fallback.
  EXPECT_GT(compiled, 3000);
}

TEST_P(OperandTemplateAgreement, GeneratedExpressions) {
  std::mt19937 gen(777);
  for (int k = 0; k < 4000; ++k) {
    CheckAgreement(RandomExpression(gen));
    if (HasFatalFailure()) return;
  }
}

TEST_P(OperandTemplateAgreement, WrittenCases) {
  const char* const kCases[] = {
      "",
      "plain text",
      "[#a]",
      "<[#a]> [#a] [#b]",
      "[#x[#i]]",
      "[#x[#[#ai]]]!",
      "[!x][#a]",
      "[#a[!x]]",
      "[x] [#] [#a [b] ]",
      "[#unclosed",
      "[@len<<<[#x]]",
      "[@len<<<[#d]<<<x]",
      "[@split<<<[#d]<<<,][#_0][#_2]",
      "[#_0][@split<<<[#d]<<<,]",
      "[@rand<<<1000]-[@rand<<<1000]",
      "[$r.0][$r.count][$r.9][$nope.0]",
      "[%q.0.1][%q.count][%q.5.0]",
      "[[#c]]",
      "[[#e]#a]",
      "([#a]+1)",
      "([#i]<1000000)",
      "([#i]==-1)",
      "([#w]*[#w])",
      "([#b]+1)",
      "([#a][#a])",
      "([#a]5)",
      "(1+)",
      "([#e]+1)",
      "[#h]]",
      "[#u]]",
      "[#x1[#a]][#x1a]",
      "[#x[#i]] [#x2]",
  };
  for (const char* c : kCases) {
    CheckAgreement(c);
    if (HasFatalFailure()) return;
  }
}

INSTANTIATE_TEST_SUITE_P(CodePages, OperandTemplateAgreement,
                         ::testing::Values(kCodePageUtf8, kCodePageGbk));

TEST(OperandTemplate, StructureFixedByTheOwnTextIsCompiled) {
  EXPECT_TRUE(OperandTemplate("[#x[#i]]").compiled());
  EXPECT_TRUE(OperandTemplate("([#i]+1)").compiled());
  // The sigil of the outer reference would come from the inserted value.
  EXPECT_FALSE(OperandTemplate("[[#c]]").compiled());
}

TEST(OperandTemplate, SlotsFollowLaterAssignments) {
  FakeUi ui;
  auto runner = MakeRunner("", ui);
  OperandTemplate plan("[#n]+[#n]");
  std::string out;
  plan.Expand(*runner, out);
  EXPECT_EQ(out, "+");
  runner->variables.Set("n", "5");
  plan.Expand(*runner, out);
  EXPECT_EQ(out, "5+5");
}

// The parse-once evaluator on its own: pieces with holes against the whole
// text through EvaluateExpression.
TEST(ExpressionProgram, AgreesWithTheTextEvaluator) {
  std::mt19937 gen(99);
  static const char* const kLiterals[] = {"(", ")", "+", "-", "*", "/", "<", ">", "=", "!",
                                          "|", "&", "1", "0", ".", "5", " ", "x", "2"};
  static const char* const kNumbers[] = {"0", "1", "12", "2.5", ".", "3.", "007", "1.2.3",
                                         "123456789012345678", "0.000001", "999999999999999"};
  int compared = 0;
  for (int k = 0; k < 20000; ++k) {
    std::vector<std::string> texts;
    std::vector<ExpressionProgram::Piece> pieces;
    std::vector<double> holes;
    std::vector<std::string> holeTexts;
    int n = 1 + static_cast<int>(gen() % 8);
    std::string literal = "(";
    for (int p = 0; p < n; ++p) {
      if (gen() % 3 == 0) {
        texts.push_back(literal);
        literal.clear();
        holeTexts.push_back(kNumbers[gen() % std::size(kNumbers)]);
        texts.push_back(std::string());
      } else {
        literal += kLiterals[gen() % std::size(kLiterals)];
      }
    }
    texts.push_back(literal + ")");
    std::string whole;
    int hole = 0;
    for (size_t t = 0; t < texts.size(); ++t) {
      if (t % 2 == 1) {
        pieces.push_back({std::string_view(), hole});
        whole += holeTexts[static_cast<size_t>(hole++)];
      } else {
        pieces.push_back({texts[t]});
        whole += texts[t];
      }
    }
    for (const std::string& h : holeTexts) {
      holes.push_back(0);
      ASSERT_TRUE(ReadPlainNumber(h, holes.back())) << h;
    }
    ExpressionProgram program;
    if (!program.Compile(pieces)) continue;
    double expected = 0;
    bool reduces = EvaluateExpression(RewriteOperators(whole), expected);
    ASSERT_EQ(program.reduces(), reduces) << whole;
    if (reduces) {
      double actual = program.Run(holes.data());
      ASSERT_TRUE(actual == expected || (std::isnan(actual) && std::isnan(expected))) << whole;
    }
    ++compared;
  }
  EXPECT_GT(compared, 5000);
}

}  // namespace
}  // namespace qp::test
