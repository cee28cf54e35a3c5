// The arithmetic evaluator of operands: an operand that begins with "(" and
// ends with ")" is computed as an expression over doubles and replaced by its
// value, formatted with the precision held in the variable "accuracy".
//
// The dialect is deliberately forgiving: characters other than digits, "."
// and the operator characters are skipped, so "(page 2)" is 2. An expression
// that cannot be reduced to one value leaves the operand unchanged.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qp {

// Rewrites the two-character operators to the one-character forms the
// evaluator reads: ">=" "}", "<=" "{", "==" "=", "!=" "^", "||" "|", "&&" "&"
// (each for all occurrences, in that order).
std::string RewriteOperators(std::string_view text);

// Operator-precedence evaluation of a rewritten expression. False when the
// text does not reduce to exactly one value (no number, a missing operand,
// unbalanced parentheses); `value` is then unspecified.
bool EvaluateExpression(std::string_view expression, double& value);

// The value as "%.<precision>f" would print it, except that a value exactly
// half-way between two results rounds away from zero. `accuracy` must be a
// decimal number of at most four digits to set the precision; anything else
// (the empty text included) means precision 0.
std::string FormatNumber(double value, std::string_view accuracy);
// The same, written into `out` (whole numbers without the C library).
void FormatNumberInto(double value, std::string_view accuracy, std::string& out);

// An expression whose operator structure is fixed by the script's own text,
// parsed once: the text is given as literal pieces and holes, where each hole
// stands for a number that a substitution inserts. Run gives exactly what
// EvaluateExpression gives on the whole text (rewritten operators included)
// whenever every hole's text is a plain number (ReadPlainNumber).
class ExpressionProgram {
 public:
  struct Piece {
    std::string_view literal;  // used when hole < 0
    int32_t hole = -1;         // index into the hole values of Run
  };
  // False when the structure is not fixed by the pieces: a hole that is not
  // set apart from the digits around it by operators, or two two-character
  // operators that a hole could join. `reduces()` then means nothing.
  bool Compile(const std::vector<Piece>& pieces);
  // Whether the expression reduces to one value (else the operand is left
  // unchanged, as EvaluateExpression's false).
  bool reduces() const { return reduces_; }
  // The value, given the holes' numbers as ReadPlainNumber read them.
  double Run(const double* holes) const;

 private:
  enum class Op : uint8_t { Constant, Hole, Apply };
  struct Step {
    Op op;
    char apply = 0;       // the operator of Apply
    bool negative = false;  // Hole: the number is negated (a unary minus before it)
    int32_t hole = 0;
    double constant = 0;
  };
  std::vector<Step> steps_;
  bool reduces_ = false;
  size_t depth_ = 0;  // the most values Run holds at once
  // "(hole op constant)", the shape of most loop conditions and counters:
  // Run applies the one operator without walking the steps.
  bool holeOpConstant_ = false;
};

// True when the text reads, in an expression, as one number and nothing
// else (digits and "." only, at least one of them); `magnitude` is then the
// number, by the evaluator's own digit arithmetic.
bool ReadPlainNumber(std::string_view text, double& magnitude);

}  // namespace qp
