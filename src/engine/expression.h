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

}  // namespace qp
