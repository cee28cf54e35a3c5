// Test programs that run scripts register the subsystems' command families
// before any test starts, as quorpack does at start-up.
#include "commands/script_commands.h"

namespace {
const bool registered = (qp::RegisterScriptCommands(), true);
}  // namespace
