// Operand splitting, bracket substitution and the evaluation of operands
// (substitution.cpp, expression.cpp); operand_template.h holds the compiled
// form of the same rules.
#pragma once

#include <string>

#include "engine/script_runner.h"

namespace qp {

// Operand helpers of every command handler.
struct SplitResult {
  std::string first;
  std::string rest;
  bool found = false;
};
// At the first occurrence of `separator`; with an empty separator at the
// first blank, else the first tab. The rest loses its leading white space;
// when not found, `first` is the text without trailing white space.
SplitResult Split(const std::string& text, const std::string& separator = std::string());

// Replaces the bracket references of `text` in place.
void Substitute(ScriptRunner& runner, std::string& text);
// Replaces a parenthesised expression by its value, in place.
void Evaluate(ScriptRunner& runner, std::string& text);
// Writes an evaluated value with the precision held in "accuracy" (whose
// surrounding blanks are trimmed in place, as Evaluate does).
void WriteNumber(ScriptRunner& runner, double value, std::string& text);
// Substitute, then Evaluate: "substitute the operand".
void Expand(ScriptRunner& runner, std::string& text);
std::string Expanded(ScriptRunner& runner, std::string text);

}  // namespace qp
