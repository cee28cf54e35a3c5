#include "net/commands/http_commands.h"

#include "engine/script_runner.h"

namespace qp {

// Until the HTTP client lands: requests fail as an unreachable server would.
void RunHttpCommand(ScriptRunner& runner, CommandCode code, const std::string&) {
  if (code == kGet || code == kPost) runner.variables.Set("status", "0");
}

}  // namespace qp
