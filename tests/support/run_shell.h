// Runs a command line through the shell for tests of the programs
// themselves, bounded by timeout(1) so that a hung program fails its test
// instead of stalling the suite.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace qp::testing {

struct ShellOutput {
  std::string out;    // standard output; "2>&1" in the line adds standard error
  int exitCode = -1;  // -1 when the program did not exit normally
};

inline ShellOutput RunShell(const std::string& line, int seconds = 20) {
  ShellOutput result;
  FILE* pipe = popen(("timeout " + std::to_string(seconds) + " " + line).c_str(), "r");
  if (!pipe) return result;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) result.out.append(buffer, n);
  int status = pclose(pipe);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

}  // namespace qp::testing
