#include "db/commands/db_commands.h"

#include "engine/script_runner.h"

namespace qp {

// Until the back ends land: every database command fails.
void RunDatabaseCommand(ScriptRunner& runner, CommandCode code, const std::string&) {
  if (code != kCloseDb) runner.variables.Set("status", "0");
}

}  // namespace qp
