#include "native/native_calls.h"

#include "engine/script_runner.h"

namespace qp {

// Until native calls land: libraries are never loaded.
void LoadLibraryCommand(ScriptRunner&, const std::string&) {}
void UnloadLibraryCommand(ScriptRunner&, const std::string&) {}
std::string CallNativeFunction(ScriptRunner&, const std::string&) { return std::string(); }
void FreeLibraries(ScriptRunner& runner) { runner.libraries.clear(); }

}  // namespace qp
