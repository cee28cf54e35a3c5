#include "engine/expression.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "engine/script_runner.h"
#include "engine/substitution.h"
#include "support/text.h"

namespace qp {
namespace {

// The end of the input, also the bottom of the operator stack.
constexpr char kEnd = '#';

bool IsOperatorChar(char c) {
  switch (c) {
    case '(': case ')': case '+': case '-': case '*': case '/': case '<': case '>':
    case '=': case '^': case '{': case '}': case '&': case '|':
      return true;
    default:
      return false;
  }
}

int Level(char op) {
  switch (op) {
    case '*': case '/': return 4;
    case '+': case '-': return 3;
    case '&': case '|': return 1;
    default: return 2;  // the six comparisons
  }
}

enum class Action { Push, Reduce, Cancel, Fail };

// What the operator on top of the stack does with the incoming one.
Action Compare(char top, char incoming) {
  if (top == kEnd) {
    if (incoming == kEnd) return Action::Cancel;
    return incoming == ')' ? Action::Fail : Action::Push;
  }
  if (top == '(') {
    if (incoming == ')') return Action::Cancel;
    return incoming == kEnd ? Action::Fail : Action::Push;
  }
  if (incoming == '(') return Action::Push;
  if (incoming == ')' || incoming == kEnd) return Action::Reduce;
  return Level(incoming) > Level(top) ? Action::Push : Action::Reduce;
}

double Apply(char op, double left, double right) {
  switch (op) {
    case '+': return left + right;
    case '-': return left - right;
    case '*': return left * right;
    case '/': return right == 0 ? 0 : left / right;
    case '<': return left < right;
    case '>': return left > right;
    case '=': return left == right;
    case '^': return left != right;
    case '{': return left <= right;
    case '}': return left >= right;
    case '&': return left != 0 && right != 0;
    default: return left != 0 || right != 0;  // '|'
  }
}

class Evaluator {
 public:
  // The stacks are borrowed so that their storage outlives one evaluation.
  Evaluator(std::vector<double>& values, std::vector<char>& operators)
      : values_(values), operators_(operators) {
    values_.assign(1, 0.0);
    operators_.assign(1, kEnd);
  }

  bool Run(std::string_view expression, double& value) {
    for (char c : expression) {
      if (c >= '0' && c <= '9') {
        Digit(c - '0');
      } else if (c == '.') {
        Dot();
      } else if (IsOperatorChar(c) && !Operator(c)) {
        return false;
      }
    }
    if (!Operator(kEnd) || !operators_.empty() || values_.size() < 2) return false;
    value = values_.back();
    return true;
  }

 private:
  void StartNumber() {
    magnitude_ = 0;
    fractionScale_ = 0;
    negative_ = negativePending_;
    negativePending_ = false;
    values_.push_back(0);
    inNumber_ = true;
  }
  void Digit(int digit) {
    if (!inNumber_) StartNumber();
    if (fractionScale_ == 0) {
      magnitude_ = magnitude_ * 10 + digit;
    } else {
      fractionScale_ /= 10;
      magnitude_ += digit * fractionScale_;
    }
    values_.back() = negative_ ? -magnitude_ : magnitude_;
    previous_ = '0';
  }
  void Dot() {
    if (!inNumber_) StartNumber();
    if (fractionScale_ == 0) fractionScale_ = 1;
    previous_ = '0';
  }
  // False when the expression cannot be reduced.
  bool Operator(char c) {
    if (c == '-' && previous_ != ')' && previous_ != '0') {
      negativePending_ = true;
      previous_ = c;
      return true;
    }
    inNumber_ = false;
    fractionScale_ = 0;
    previous_ = c;
    for (;;) {
      if (operators_.empty()) return false;
      switch (Compare(operators_.back(), c)) {
        case Action::Push: operators_.push_back(c); return true;
        case Action::Cancel: operators_.pop_back(); return true;
        case Action::Fail: return false;
        case Action::Reduce:
          if (!Reduce()) return false;
      }
    }
  }
  bool Reduce() {
    if (values_.size() < 2) return false;
    char op = operators_.back();
    operators_.pop_back();
    double right = values_.back();
    values_.pop_back();
    values_.back() = Apply(op, values_.back(), right);
    return true;
  }

  std::vector<double>& values_;    // starts holding one 0
  std::vector<char>& operators_;   // starts holding the end marker
  char previous_ = kEnd;  // last accepted character; '0' stands for any digit or "."
  bool inNumber_ = false;
  bool negative_ = false;
  bool negativePending_ = false;
  double magnitude_ = 0;
  double fractionScale_ = 0;  // 0 in the integer part, else the place of the last digit
};

int PrecisionOf(std::string_view accuracy) {
  if (accuracy.empty() || accuracy.size() > 4) return 0;
  int precision = 0;
  for (char c : accuracy) {
    if (c < '0' || c > '9') return 0;
    precision = precision * 10 + (c - '0');
  }
  return precision;
}

std::string Printf(double value, int precision) {
  char small[64];
  int n = std::snprintf(small, sizeof small, "%.*f", precision, value);
  if (n < static_cast<int>(sizeof small)) return std::string(small, n);
  std::string big(static_cast<size_t>(n) + 1, '\0');
  std::snprintf(big.data(), big.size(), "%.*f", precision, value);
  big.resize(static_cast<size_t>(n));
  return big;
}

// Adds one unit in the last place to a printed magnitude ("-" sign kept).
void IncrementLastDigit(std::string& text) {
  size_t i = text.size();
  while (i > 0) {
    char& c = text[--i];
    if (c == '.') continue;
    if (c < '0' || c > '9') break;
    if (c != '9') {
      ++c;
      return;
    }
    c = '0';
  }
  size_t first = (!text.empty() && text[0] == '-') ? 1 : 0;
  text.insert(first, 1, '1');
}

// True when the exact value lies half-way between two results at `precision`.
// Any value that is not a tie differs from one within 17 significant digits,
// so 25 extra digits are enough to tell.
bool IsTie(double value, int precision) {
  std::string wide = Printf(value, precision + 25);
  size_t dot = wide.find('.');
  if (dot == std::string::npos) return false;
  size_t at = dot + 1 + static_cast<size_t>(precision);
  if (at >= wide.size() || wide[at] != '5') return false;
  return wide.find_first_not_of('0', at + 1) == std::string::npos;
}

}  // namespace

namespace {

bool HasTwoCharacterOperator(std::string_view text) {
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    char c = text[i];
    char d = text[i + 1];
    if (d == '=' && (c == '>' || c == '<' || c == '=' || c == '!')) return true;
    if ((c == '|' || c == '&') && d == c) return true;
  }
  return false;
}

}  // namespace

namespace {

// Replaces every occurrence of the pair `first` `second`, left to right, by
// `to`, in place (the text only shrinks).
void ReplacePair(std::string& text, char first, char second, char to) {
  size_t write = 0;
  for (size_t read = 0; read < text.size();) {
    if (text[read] == first && read + 1 < text.size() && text[read + 1] == second) {
      text[write++] = to;
      read += 2;
    } else {
      text[write++] = text[read++];
    }
  }
  text.resize(write);
}

}  // namespace

std::string RewriteOperators(std::string_view text) {
  std::string copy(text);
  if (!HasTwoCharacterOperator(copy)) return copy;
  static constexpr char kPairs[][3] = {{'>', '=', '}'}, {'<', '=', '{'}, {'=', '=', '='},
                                       {'!', '=', '^'}, {'|', '|', '|'}, {'&', '&', '&'}};
  for (const auto& pair : kPairs) {
    if (copy.find(std::string_view(pair, 2)) != std::string::npos)
      ReplacePair(copy, pair[0], pair[1], pair[2]);
  }
  return copy;
}

bool EvaluateExpression(std::string_view expression, double& value) {
  thread_local std::vector<double> values;
  thread_local std::vector<char> operators;
  return Evaluator(values, operators).Run(expression, value);
}

void FormatNumberInto(double value, std::string_view accuracy, std::string& out) {
  int precision = PrecisionOf(accuracy);
  // Whole numbers of ordinary size print without the C library's float
  // formatting: digits, then the point and zeros the precision asks for.
  if (std::fabs(value) < 1e15 && value == static_cast<double>(static_cast<int64_t>(value))) {
    out.clear();
    if (std::signbit(value)) out += '-';
    char digits[20];
    char* end = digits + sizeof digits;
    char* p = end;
    for (int64_t n = static_cast<int64_t>(std::fabs(value));;) {
      *--p = static_cast<char>('0' + n % 10);
      n /= 10;
      if (n == 0) break;
    }
    out.append(p, end);
    if (precision > 0) out.append(1, '.').append(static_cast<size_t>(precision), '0');
    return;
  }
  if (!std::isfinite(value) || value == std::floor(value) || !IsTie(value, precision)) {
    out = Printf(value, precision);
    return;
  }
  // Ties round away from zero, as the C library of the scripts' home
  // platform prints them: (5/2) is 3, not the 2 of round-half-even.
  std::string text = Printf(value, precision + 25);
  text.resize(text.find('.') + (precision ? 1 + static_cast<size_t>(precision) : 0));
  IncrementLastDigit(text);
  out = std::move(text);
}

std::string FormatNumber(double value, std::string_view accuracy) {
  std::string text;
  FormatNumberInto(value, accuracy, text);
  return text;
}

bool ReadPlainNumber(std::string_view text, double& magnitude) {
  if (text.empty()) return false;
  // Whole numbers of up to 15 digits: integer arithmetic gives exactly the
  // double that the digit-by-digit sum gives.
  if (text.size() <= 15) {
    int64_t whole = 0;
    size_t i = 0;
    for (; i < text.size(); ++i) {
      const unsigned digit = static_cast<unsigned char>(text[i]) - '0';
      if (digit > 9) break;
      whole = whole * 10 + digit;
    }
    if (i == text.size()) {
      magnitude = static_cast<double>(whole);
      return true;
    }
  }
  double value = 0;
  double fractionScale = 0;
  for (char c : text) {
    if (c == '.') {
      if (fractionScale == 0) fractionScale = 1;
    } else if (c < '0' || c > '9') {
      return false;
    } else if (fractionScale == 0) {
      value = value * 10 + (c - '0');
    } else {
      fractionScale /= 10;
      value += (c - '0') * fractionScale;
    }
  }
  magnitude = value;
  return true;
}

// The evaluator's run over the pieces, with the values left symbolic: every
// action it takes depends only on the operator characters, so the steps it
// would take on the values are recorded once, as a postfix program.
bool ExpressionProgram::Compile(const std::vector<Piece>& pieces) {
  steps_.clear();
  reduces_ = false;
  holeOpConstant_ = false;
  depth_ = 1;
  std::vector<char> operators(1, kEnd);
  size_t values = 1;
  steps_.push_back({Op::Constant});
  char previous = kEnd;
  bool inNumber = false;
  bool negativePending = false;
  bool afterHole = false;
  double magnitude = 0;
  double fractionScale = 0;
  bool negative = false;
  bool failed = false;
  auto reduce = [&]() {
    if (values < 2) return false;
    steps_.push_back({Op::Apply, operators.back()});
    operators.pop_back();
    --values;
    return true;
  };
  auto operate = [&](char c) {
    if (c == '-' && previous != ')' && previous != '0') {
      negativePending = true;
      previous = c;
      return true;
    }
    inNumber = false;
    fractionScale = 0;
    previous = c;
    for (;;) {
      if (operators.empty()) return false;
      switch (Compare(operators.back(), c)) {
        case Action::Push: operators.push_back(c); return true;
        case Action::Cancel: operators.pop_back(); return true;
        case Action::Fail: return false;
        case Action::Reduce:
          if (!reduce()) return false;
      }
    }
  };
  auto startNumber = [&]() {
    magnitude = 0;
    fractionScale = 0;
    negative = negativePending;
    negativePending = false;
    steps_.push_back({Op::Constant});
    ++values;
    depth_ = std::max(depth_, values);
    inNumber = true;
  };
  for (const Piece& piece : pieces) {
    if (piece.hole >= 0) {
      if (inNumber) return false;  // the hole's digits would continue a number
      Step step{Op::Hole};
      step.hole = piece.hole;
      step.negative = negativePending;
      negativePending = false;
      steps_.push_back(step);
      ++values;
      depth_ = std::max(depth_, values);
      inNumber = true;
      previous = '0';
      afterHole = true;
      continue;
    }
    // Each literal is rewritten on its own: a hole holds digits, so no
    // two-character operator spans one.
    const std::string text = RewriteOperators(piece.literal);
    for (char c : text) {
      const bool digit = c >= '0' && c <= '9';
      if ((digit || c == '.') && afterHole) return false;
      if (failed) continue;
      if (digit) {
        if (!inNumber) startNumber();
        if (fractionScale == 0) {
          magnitude = magnitude * 10 + (c - '0');
        } else {
          fractionScale /= 10;
          magnitude += (c - '0') * fractionScale;
        }
        steps_.back().constant = negative ? -magnitude : magnitude;
        previous = '0';
      } else if (c == '.') {
        if (!inNumber) startNumber();
        if (fractionScale == 0) fractionScale = 1;
        previous = '0';
      } else if (IsOperatorChar(c)) {
        afterHole = false;
        if (!operate(c)) failed = true;
      }
    }
  }
  if (!failed && operate(kEnd) && operators.empty() && values >= 2) reduces_ = true;
  holeOpConstant_ = steps_.size() == 4 && steps_[1].op == Op::Hole &&
                    steps_[2].op == Op::Constant && steps_[3].op == Op::Apply;
  return true;
}

double ExpressionProgram::Run(const double* holes) const {
  if (holeOpConstant_) {
    const Step& hole = steps_[1];
    const double magnitude = holes[hole.hole];
    return Apply(steps_[3].apply, hole.negative ? -magnitude : magnitude, steps_[2].constant);
  }
  // Expressions of scripts are short: their values fit on the stack.
  constexpr size_t kSmall = 32;
  double small[kSmall];
  std::vector<double> large;
  double* stack = small;
  if (depth_ > kSmall) {
    large.resize(depth_);
    stack = large.data();
  }
  size_t top = 0;
  for (const Step& step : steps_) {
    switch (step.op) {
      case Op::Constant: stack[top++] = step.constant; break;
      case Op::Hole: {
        const double magnitude = holes[step.hole];
        stack[top++] = step.negative ? -magnitude : magnitude;
        break;
      }
      case Op::Apply:
        --top;
        stack[top - 1] = Apply(step.apply, stack[top - 1], stack[top]);
        break;
    }
  }
  return stack[top - 1];
}

void WriteNumber(ScriptRunner& runner, double value, std::string& text) {
  std::string*& slot = runner.operands.accuracy;
  if (!slot) slot = &runner.variables.Ref("accuracy");
  std::string& accuracy = *slot;
  if (!accuracy.empty() && (IsBlank(accuracy.front()) || IsBlank(accuracy.back())))
    accuracy = TrimCopy(accuracy);
  FormatNumberInto(value, accuracy, text);
}

void Evaluate(ScriptRunner& runner, std::string& text) {
  if (text.size() < 2 || text.front() != '(' || text.back() != ')') return;
  double value = 0;
  if (!EvaluateExpression(RewriteOperators(text), value)) return;
  WriteNumber(runner, value, text);
}

}  // namespace qp
