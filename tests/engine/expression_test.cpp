// The arithmetic evaluator of operands, through Evaluate and its parts.
#include <gtest/gtest.h>

#include "engine/expression.h"
#include "fake_ui.h"

namespace qp::test {
namespace {

struct Case {
  const char* text;
  const char* accuracy;
  const char* expected;
};

TEST(Evaluate, Table) {
  const Case cases[] = {
      {"(1+2*3)", "", "7"},
      {"(7/2)", "", "4"},
      {"(7/2)", "2", "3.50"},
      {"(2>=2&&1!=0)", "", "1"},
      {"(2>=2&&1!=0)", "2", "1.00"},
      {"(5/0)", "", "0"},
      {"(-3+1)", "", "-2"},
      {"(word)", "", "(word)"},
      {"()", "", "()"},
      {"1+2", "", "1+2"},
      {"(1+2", "", "(1+2"},
      {"(page 2)", "", "2"},
      {"(1 2)", "", "12"},
      {"(1.5*2)", "", "3"},
      {"(1.25)", "1", "1.3"},     // a tie rounds away from zero
      {"(5/2)", "", "3"},
      {"(-5/2)", "", "-3"},
      {"(1/3)", "4", "0.3333"},
      {"((1+2)*3)", "", "9"},
      {"(2*(3+4)-1)", "", "13"},
      {"(10-2-3)", "", "5"},
      {"(8/2/2)", "", "2"},
      {"(1<2)", "", "1"},
      {"(2<1)", "", "0"},
      {"(3==3)", "", "1"},
      {"(3<=2)", "", "0"},
      {"(0||0)", "", "0"},
      {"(0||2)", "", "1"},
      {"(1+1==2&&3>2)", "", "1"},
      {"(2*-3)", "", "-6"},
      {"(1-(-2))", "", "3"},
      {"(+1)", "", "(+1)"},       // an operator without a left operand
      {"(1+)", "", "(1+)"},
      {"(1))", "", "(1))"},       // unbalanced ")"
      {"((1)", "", "((1)"},       // unclosed "("
      {"(50%)", "", "50"},        // "%" is skipped
      {"(3)", " 2 ", "3.00"},     // accuracy is trimmed
      {"(3)", "x", "3"},          // not a number: precision 0
      {"(3)", "-1", "3"},
      {"(3)", "12345", "3"},
  };
  for (const Case& c : cases) {
    FakeUi ui;
    auto runner = MakeRunner("", ui);
    runner->variables.Set("accuracy", c.accuracy);
    std::string text = c.text;
    Evaluate(*runner, text);
    EXPECT_EQ(text, c.expected) << c.text << " with accuracy '" << c.accuracy << "'";
  }
}

TEST(Evaluate, AccuracyIsTrimmedInPlaceAndCreated) {
  FakeUi ui;
  auto runner = MakeRunner("", ui);
  std::string text = "(1)";
  Evaluate(*runner, text);
  EXPECT_TRUE(runner->variables.Has("accuracy"));
  runner->variables.Set("accuracy", "  1\t");
  text = "(1)";
  Evaluate(*runner, text);
  EXPECT_EQ(text, "1.0");
  EXPECT_EQ(runner->variables.Get("accuracy"), "1");
}

TEST(Evaluate, OperatorRewritingOrder) {
  EXPECT_EQ(RewriteOperators("a>=b<=c==d!=e||f&&g"), "a}b{c=d^e|f&g");
  // "==" goes before "!=", so "!==" becomes "!=" and then "^".
  EXPECT_EQ(RewriteOperators("!=="), "^");
}

TEST(Evaluate, FormatNumber) {
  EXPECT_EQ(FormatNumber(2.5, ""), "3");
  EXPECT_EQ(FormatNumber(3.5, ""), "4");
  EXPECT_EQ(FormatNumber(-0.5, ""), "-1");
  EXPECT_EQ(FormatNumber(9.5, ""), "10");
  EXPECT_EQ(FormatNumber(0.125, "2"), "0.13");
  EXPECT_EQ(FormatNumber(1.005, "2"), "1.00");  // below the tie in binary
  EXPECT_EQ(FormatNumber(2.4, ""), "2");
  EXPECT_EQ(FormatNumber(1e6, ""), "1000000");
}

TEST(Evaluate, OnlyParenthesisedOperands) {
  double value = 0;
  EXPECT_FALSE(EvaluateExpression("", value));
  EXPECT_TRUE(EvaluateExpression("1+2", value));
  EXPECT_EQ(value, 3);
  EXPECT_FALSE(EvaluateExpression("+", value));
}

}  // namespace
}  // namespace qp::test
