// What a user-interface back end must offer the UI request service: message
// boxes, the shell's "open", the input dialog, HTML windows and the tray icon.
// The console back end (servers, CI) and a desktop back end implement it; the
// request service holds all the logic that does not depend on which one runs.
// Every call is made on the UI thread. Texts are in the active code page.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "engine/ui_request.h"

namespace qp {

class ScriptRunner;

enum class WindowShowState { Shown, Hidden, Minimized, Maximized, Restored };

// One open HTML window. Destroying the object closes the window.
class HtmlWindowView {
 public:
  virtual ~HtmlWindowView() = default;
  virtual void SetTitle(const std::string& caption) = 0;
  virtual void Navigate(const std::string& url) = 0;
  virtual void Write(const std::string& html) = 0;
  virtual void Clear() = 0;
  virtual void Move(int x, int y, int width, int height) = 0;
  virtual void SetShowState(WindowShowState state) = 0;
  virtual void SetBorder(bool shown) = 0;
  virtual void SetTaskbar(bool shown) = 0;
  // Runs JavaScript in the window's page: true with the value in `result`,
  // false with the host's error text in `result`.
  virtual bool RunScript(const std::string& source, std::string& result) = 0;
  // The same without holding up the UI thread: `done` runs exactly once, on
  // the UI thread, also when the window goes first. A view that answers at
  // once calls it before returning, as this default does.
  using ScriptDone = std::function<void(bool ok, const std::string& result)>;
  virtual void BeginScript(const std::string& source, ScriptDone done) {
    std::string result;
    bool ok = RunScript(source, result);
    done(ok, result);
  }
};

// Where a back end sends the events of its tray icon, menu, hotkey and
// windows; called on the UI thread.
using EventSink = std::function<void(const WindowEvent& event)>;

// Called on the UI thread with the user's answer to a prompt.
using PromptAnswer = std::function<void(ScriptRunner& runner, const std::string& answer)>;

class UiBackend {
 public:
  virtual ~UiBackend() = default;
  // Set once by the main dialog before any other call.
  virtual void SetEventSink(EventSink) {}
  // The global hotkey from its setting text ("CTRL + 9"); false when it could
  // not be registered. Unregistered at shutdown.
  virtual bool RegisterHotkey(const std::string&) { return false; }
  virtual void UnregisterHotkey() {}
  // A message box with the application title; returns when it is closed.
  virtual void ShowAlert(const std::string& text) = 0;
  // The same box for a script's request: returns at once, and `closed` runs
  // on the UI thread once the user has closed it, so that other requests are
  // served meanwhile. A back end whose boxes do not wait closes at once.
  virtual void BeginAlert(const std::string& text, std::function<void()> closed) {
    ShowAlert(text);
    closed();
  }
  // Shutdown: closes every open message box (their `closed` runs); later
  // message boxes do not wait for the user.
  virtual void CloseDialogs() {}
  // Where the tray menu's support item finds the home page (read at each use).
  virtual void SetHomePageSource(std::function<std::string()>) {}
  // The shell's "open" of a file.
  virtual void OpenFile(const std::string& path) = 0;
  // Shows the input dialog with `html` as the question and returns at once;
  // the answer arrives later through `answer`. Returns a non-null handle of
  // the open dialog (kept in the runner's `inputDialog`).
  virtual void* BeginPrompt(ScriptRunner& runner, const std::string& html,
                            PromptAnswer answer) = 0;
  // Closes the runner's input dialog, if any, without an answer.
  virtual void EndPrompt(ScriptRunner& runner) = 0;
  virtual std::unique_ptr<HtmlWindowView> CreateHtmlWindow(const std::string& name,
                                                           const std::string& url) = 0;
  // Adds the tray icon, or updates it when `alreadyShown`.
  virtual void ShowTrayIcon(const std::string& tip, bool alreadyShown) = 0;
  virtual void HideTrayIcon() = 0;
  // Primary screen size; 0 where there is no screen. Any thread may ask.
  virtual int ScreenWidth() const { return 0; }
  virtual int ScreenHeight() const { return 0; }
};

}  // namespace qp
