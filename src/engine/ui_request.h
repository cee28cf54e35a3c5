// Requests from a script thread to the UI thread, and the private message
// numbers shared by the executor and the application shell.
//
// A script thread never touches the user interface: it hands a request to the
// UiService, which serves it on the UI thread and returns only when done
// (a synchronous send). The engine sees the service through this interface
// only; the application shell supplies the console or desktop back end, and
// tests supply a recording fake.
#pragma once

#include <cstdint>
#include <string>

namespace qp {

class ScriptRunner;

// Private messages (numbers relative to WM_USER = 0x400), kept as named
// constants because peers and logs speak of them by number.
inline constexpr int32_t kWmUser = 0x0400;
inline constexpr int32_t WM_TRAY_NOTIFY = kWmUser + 98;     // 0x462 tray icon callback
inline constexpr int32_t WM_UI_REQUEST = kWmUser + 100;     // 0x464 script -> UI, sent
inline constexpr int32_t WM_WINDOW_EVENT = kWmUser + 101;   // 0x465 event source -> UI
inline constexpr int32_t WM_SCRIPT_STOP = kWmUser + 114;    // 0x472 UI -> script: stop
inline constexpr int32_t WM_SCRIPT_WAKE = kWmUser + 115;    // 0x473 UI -> script: event waiting
inline constexpr int32_t WM_SCRIPT_ENDED = kWmUser + 117;   // 0x475 script -> UI: ended

enum class UiRequestKind : int32_t {
  NoRequest = 0,  // none (the route of a command that sends no request)
#define QP_UI_REQUEST(name, number, returnsAtOnce) name = number,
#include "engine/ui_requests.def"
#undef QP_UI_REQUEST
};

// True for the requests that the dispatcher accepts and drops at once.
constexpr bool ReturnsAtOnce(UiRequestKind kind) {
  switch (kind) {
#define QP_UI_REQUEST(name, number, returnsAtOnce) \
  case UiRequestKind::name:                        \
    return returnsAtOnce;
#include "engine/ui_requests.def"
#undef QP_UI_REQUEST
    default:
      return false;
  }
}

// One user action turned into an event: a window name (or "tray", "system"),
// the event name and a value.
struct WindowEvent {
  std::string source;
  std::string event;
  std::string value;
};

class UiService {
 public:
  virtual ~UiService() = default;
  // Serves one request for `runner` and returns when it has been served. For
  // Prompt the service also raises the runner's suspend count; the executor
  // then waits until InputReply lowers it (RunnerControl).
  virtual void Request(ScriptRunner& runner, UiRequestKind kind, const std::string& text) = 0;
  // Primary screen size in pixels; 0 where there is no screen.
  virtual int ScreenWidth() { return 0; }
  virtual int ScreenHeight() { return 0; }
};

}  // namespace qp
