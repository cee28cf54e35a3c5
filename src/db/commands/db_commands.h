// The script database commands: openaccess, openmssql, openmysql, closedb,
// query and execute.
#pragma once

#include <string>

#include "compiler/script_program.h"

namespace qp {

class ScriptRunner;

// Carries out one database command with its operand as compiled.
void RunDatabaseCommand(ScriptRunner& runner, CommandCode code, const std::string& operand);

}  // namespace qp
