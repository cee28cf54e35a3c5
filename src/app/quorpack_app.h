// CQuorPackApp: the program as a whole. It picks the code page and the user
// interface back end from Config.ini, runs the UI thread's main loop around
// the main dialog, turns SIGINT and SIGTERM into a shutdown, and returns the
// exit code.
#pragma once

#include <memory>
#include <string>

#include "ui/ui_backend.h"

namespace qp {

// The back end named by the "ui" setting. Only the console back end exists
// so far, so every value (and a desktop) gets the console.
std::unique_ptr<UiBackend> MakeUiBackend(const std::string& setting);

class CQuorPackApp {
 public:
  // Runs until the last script has ended, or a signal has stopped them.
  int Run();
};

}  // namespace qp
