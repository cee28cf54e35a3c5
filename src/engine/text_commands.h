// `var` and the text commands on the runner's named patterns
// (text_commands.cpp).
#pragma once

#include <string>

#include "engine/script_runner.h"

namespace qp {

// The command `var`: "[#name] value".
void AssignVariable(ScriptRunner& runner, const std::string& operand);
// Text commands on the runner's named patterns; operands as compiled.
void RegexCommand(ScriptRunner& runner, const std::string& operand);
void MatchCommand(ScriptRunner& runner, const std::string& operand);
void UnregexCommand(ScriptRunner& runner, const std::string& operand);
void ReplaceCommand(ScriptRunner& runner, const std::string& operand);

}  // namespace qp
