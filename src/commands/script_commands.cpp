#include "commands/script_commands.h"

#include "db/commands/db_commands.h"
#include "engine/command_table.h"
#include "native/native_calls.h"
#include "net/commands/http_commands.h"

namespace qp {

void RegisterScriptCommands() {
  RegisterCommandFamily(CommandFamily::Http, &RunHttpCommand);
  RegisterCommandFamily(CommandFamily::Database, &RunDatabaseCommand);
  RegisterCommandFamily(CommandFamily::Native, &RunNativeCommand);
  // The overload that takes the items as the substitution cut them.
  std::string (*reader)(ScriptRunner&, const std::vector<std::string>&, const std::string&) =
      &CallNativeFunction;
  RegisterNativeCallReader(reader);
}

}  // namespace qp
