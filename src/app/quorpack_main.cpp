// quorpack: runs every script of the home folder's boot file, each on its own
// thread, and ends when the last one has ended. The command line is not read;
// the home folder is QUORPACK_HOME or the executable's folder.
#include "app/quorpack_app.h"
#include "commands/script_commands.h"

int main() {
  qp::RegisterScriptCommands();
  qp::CQuorPackApp app;
  return app.Run();
}
