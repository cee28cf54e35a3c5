// The main dialog's state that UI requests read and write. The dialog owns
// it; it is touched on the UI thread only, under the lock named beside each
// field. The locks are recursive like the critical sections they stand for:
// the UI thread serves requests while it waits for script threads in a
// shutdown, and it holds the runner lock then.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "engine/ui_request.h"
#include "ui/ui_backend.h"

namespace qp {

struct UiState {
  std::recursive_mutex runnerLock;       // runners' `suspended`, `inputDialog`, variables
  std::recursive_mutex windowTableLock;  // htmlWindows
  std::recursive_mutex scriptHostLock;   // the JavaScript host

  // HtmlWindowTable: window name (exact) -> open window.
  std::map<std::string, std::unique_ptr<HtmlWindowView>> htmlWindows;
  WindowEvent lastEvent;   // the last event received; events are not queued
  int trayShown = 0;       // the tray icon is currently added
  std::string trayTip;     // the "appname" setting
  bool shuttingDown = false;  // set when the program has begun to stop its scripts
};

}  // namespace qp
