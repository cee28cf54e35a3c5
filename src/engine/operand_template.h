// Operand templates: an operand compiled once per run into literal pieces and
// references, substituted by walking the pieces instead of re-reading the
// text on every use.
//
// Text that a substitution inserts is never read again as a reference, so
// the brackets of an operand are fixed by the script's own text: which own
// "[" pairs with which own "]", and which references nest in which, is known
// before anything is inserted. A template replays the substitution's passes
// on that structure, with every rule of the text-based substitution kept: the
// pass limit, the order in which references are resolved (side effects and
// error reports included), a reference resolved once for all its equal
// occurrences in a pass, unresolved references left as written. An operand
// whose structure an insert could change (an own "[" right before a
// reference, whose sigil would come from the inserted value) keeps the
// text-based path.
//
// A "#" reference to a fixed name holds the variable's storage directly
// (variables are never deleted, so the handle stays valid for the run). An
// operand written as a parenthesised expression has its operator structure
// parsed once and is evaluated on the inserted numbers.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/expression.h"

namespace qp {

class ScriptRunner;

class OperandTemplate {
 public:
  explicit OperandTemplate(std::string source);
  OperandTemplate(const OperandTemplate&) = delete;
  OperandTemplate& operator=(const OperandTemplate&) = delete;

  const std::string& source() const { return source_; }
  // What Substitute (substitution.h) gives for the source text.
  void Substitute(ScriptRunner& runner, std::string& out);
  // What Expand gives: the substitution, then the evaluation.
  void Expand(ScriptRunner& runner, std::string& out);
  // False when the operand keeps the text-based path (for tests).
  bool compiled() const { return shape_ != Shape::TextBased; }

 private:
  enum class Shape : uint8_t {
    NoReference,  // no own "[": the text is its own result
    Leaves,       // references, none inside another: one pass
    Nested,       // references inside references: pass after pass
    TextBased,    // the structure is not fixed by the own text
  };
  struct Node {
    uint32_t open = 0;   // the own "["
    uint32_t close = 0;  // one past the own "]"
    char sigil = 0;
    int32_t group = 0;   // Leaves: the first node with the same text
    std::vector<int32_t> children;
    std::string* slot = nullptr;  // "#" of a fixed name, once resolved
  };
  struct State;  // the per-pass state of a nested substitution

  void Compile();
  void CompileExpression();
  std::string_view NodeText(const Node& node) const {
    return std::string_view(source_).substr(node.open, node.close - node.open);
  }
  // The value of a leaf as the substitution resolves it.
  void ResolveLeaf(ScriptRunner& runner, Node& node, std::string& value);
  // Leaves: resolves every reference in order; `values_` then holds each
  // group's value, unless every node is a fixed-name "#" (`pure_`), whose
  // values are read straight from their slots.
  void ResolveLeaves(ScriptRunner& runner);
  std::string_view LeafValue(const Node& node) const;
  void AssembleLeaves(std::string& out) const;
  void SubstituteNested(ScriptRunner& runner, std::string& out);

  std::string source_;
  Shape shape_ = Shape::NoReference;
  std::vector<Node> nodes_;  // in text order of their "["
  std::vector<int32_t> top_;  // the nodes inside no other
  bool pure_ = false;
  bool singleFirst_ = false;  // Leaves: exactly one node
  std::vector<std::string> values_;  // by node (Leaves) 
  // The expression: the top-level nodes are its holes.
  bool expression_ = false;  // the source is "(" ... ")" and its structure is fixed
  ExpressionProgram program_;
  std::vector<double> holes_;
  bool busy_ = false;  // a nested use of this template takes the text-based path
};

// `var` compiled: the operand split once into the target's name and the
// value, each a template. A name that substitutes to itself (no own "[",
// not an expression) holds the variable's storage.
struct AssignmentPlan {
  explicit AssignmentPlan(const std::string& operand);
  std::string source;
  bool valid = false;  // false: the text-based `var`, which reports the error
  std::unique_ptr<OperandTemplate> name;
  std::unique_ptr<OperandTemplate> value;
  bool fixedName = false;
  std::string* target = nullptr;
  std::string scratch;  // the value being built; then trades places with the target's
};

// The templates of one runner, one per operand text of the program, found by
// the operand's address (an instruction's operand lives as long as the
// program) and checked against its text.
class OperandCache {
 public:
  OperandTemplate& For(const std::string& operand);
  AssignmentPlan& Assignment(const std::string& operand);
  // The storage of "accuracy", which every evaluation reads.
  std::string* accuracy = nullptr;

 private:
  std::unordered_map<const std::string*, std::unique_ptr<OperandTemplate>> templates_;
  std::unordered_map<const std::string*, std::unique_ptr<AssignmentPlan>> assignments_;
};

// Expand (script_runner.h) of an instruction's operand through its template.
void ExpandOperand(ScriptRunner& runner, const std::string& operand, std::string& out);
// AssignVariable (script_runner.h) through the operand's plan.
void AssignCompiled(ScriptRunner& runner, AssignmentPlan& plan);

}  // namespace qp
