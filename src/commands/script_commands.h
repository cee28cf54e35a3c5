// The layer above the engine that connects the command families of the HTTP
// client, the database back ends and the native-call subsystem to the
// engine's command table. A program that runs scripts calls this once at
// start-up, before the first script thread starts.
#pragma once

namespace qp {

// Registers every subsystem's handlers and the "~" reader; calling it again
// changes nothing.
void RegisterScriptCommands();

}  // namespace qp
