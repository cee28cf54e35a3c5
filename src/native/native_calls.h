// Native library calls: `loaddll`, `unloaddll` and the "~" reference.
#pragma once

#include <string>
#include <vector>

#include "compiler/script_program.h"

namespace qp {

class ScriptRunner;

// The native family's handler: `loaddll` with its operand as compiled,
// `unloaddll` with it substituted (the command table's routes).
void RunNativeCommand(ScriptRunner& runner, CommandCode code, const std::string& operand);
// `loaddll` with its operand as compiled.
void LoadLibraryCommand(ScriptRunner& runner, const std::string& operand);
// `unloaddll` with the substituted name: frees the library and its cached
// entry points, or reports the undefined-library error.
void UnloadLibraryCommand(ScriptRunner& runner, const std::string& name);
// The "~" reference: calls "lib.func<<<args..." and returns the result text.
// `items` are the call's items as the substitution cut them (only at the
// script's own "<<<"); `inner` is the whole text, for error reports.
std::string CallNativeFunction(ScriptRunner& runner, const std::vector<std::string>& items,
                               const std::string& inner);
// The same for a text that is cut at every "<<<".
std::string CallNativeFunction(ScriptRunner& runner, const std::string& inner);
// Frees every library of the runner (at its destruction).
void FreeLibraries(ScriptRunner& runner);

}  // namespace qp
