// CQuorPackApp: the program as a whole. It picks the code page and the user
// interface back end from Config.ini, runs the UI thread's main loop around
// the main dialog, turns SIGINT and SIGTERM into a shutdown, and returns the
// exit code.
#pragma once

#include <memory>
#include <string>

#include "ui/ui_backend.h"

namespace qp {

// The desktop back end when DISPLAY or WAYLAND_DISPLAY is set and the "ui"
// setting is not "console"; the console back end otherwise, and also when
// the display cannot be opened (said once on standard error).
std::unique_ptr<UiBackend> MakeUiBackend(const std::string& setting);
// Whether the desktop back end is asked for (before trying the display).
bool WantsDesktop(const std::string& setting, const char* display, const char* waylandDisplay);

class CQuorPackApp {
 public:
  // Runs until the last script has ended, or a signal has stopped them.
  int Run();
};

}  // namespace qp
