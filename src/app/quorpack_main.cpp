// quorpack: runs every script of the home folder's boot file, each on its own
// thread, and ends when the last one has ended. Scripts come only from the
// boot file; the command line only says where the home folder is:
//   quorpack                 the home is QUORPACK_HOME, else the executable's folder
//   quorpack --home DIR      the home is DIR
//   quorpack --help | --version
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/quorpack_app.h"
#include "commands/script_commands.h"

#ifndef QP_VERSION
#define QP_VERSION "0"
#endif

namespace {

constexpr const char* kUsage =
    "usage: quorpack [--home DIR]\n"
    "       quorpack --help | --version\n"
    "\n"
    "Runs every script named in the home folder's Quorvant.boot, each on its own\n"
    "thread, and ends when the last one has ended. The home folder holds\n"
    "Config.ini, Quorvant.boot, Script/ and Temp/: DIR, else $QUORPACK_HOME, else\n"
    "the folder of the executable. Start one with: qvrc --init DIR\n"
    "\n"
    "  --home DIR   use DIR as the home folder (as QUORPACK_HOME=DIR would)\n"
    "  --help       show this text\n"
    "  --version    show the version\n"
    "\n"
    "Set trace=1 in Config.ini or QUORPACK_TRACE=1 to see every instruction run.\n";

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--version") {
      std::printf("quorpack %s\n", QP_VERSION);
      return 0;
    }
    if (arg == "--home" && i + 1 < argc && argv[i + 1][0] != '\0') {
      // Exactly what QUORPACK_HOME says, for this process and what it starts.
      setenv("QUORPACK_HOME", argv[++i], 1);
      continue;
    }
    std::fprintf(stderr, "quorpack: unknown option or argument \"%s\"\n%s", arg.c_str(), kUsage);
    return 2;
  }
  qp::RegisterScriptCommands();
  qp::CQuorPackApp app;
  return app.Run();
}
