// The UI request service: serves one request of a script on the UI thread.
// It holds the logic that every back end shares (note files, text splitting,
// the window table, the suspended flags, event hand-over) and leaves drawing
// to the UiBackend.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "engine/script_runner.h"
#include "ui/ui_backend.h"
#include "ui/ui_state.h"

namespace qp {

// Caption suffix of every HTML window.
inline constexpr const char* kWindowTitleSuffix = " - Powered by QuorPack";

class UiRequestServer {
 public:
  UiRequestServer(UiState& state, UiBackend& backend) : state_(state), backend_(backend) {}

  // Serves `kind` for `runner` and returns when it is done. Kinds 2 to 5 and
  // kinds without a meaning do nothing.
  void Serve(ScriptRunner& runner, UiRequestKind kind, const std::string& text);
  // The same, for a dispatcher: `finish` runs once the request is done, which
  // for an Alert is when the user has closed the box.
  void Serve(ScriptRunner& runner, UiRequestKind kind, const std::string& text,
             std::function<void()> finish);

  // The answer to a Prompt (what the input dialog sends as InputReply).
  void InputReply(ScriptRunner& runner, const std::string& answer);

 private:
  void Note(ScriptRunner& runner, const std::string& text);
  void Js(ScriptRunner& runner, const std::string& text);
  void Prompt(ScriptRunner& runner, const std::string& text);
  void OpenWindow(const std::string& text);
  void SetWindow(const std::string& text);
  void ShowHideWindow(const std::string& name, bool show);
  void CloseWindow(const std::string& name);
  void JsWindow(ScriptRunner& runner, const std::string& text);
  void BeginJsWindow(ScriptRunner& runner, const std::string& text, std::function<void()> finish);
  void Suspend(ScriptRunner& runner);
  void ShowTray();
  void HideTray();
  void FetchWindowEvent(ScriptRunner& runner);
  HtmlWindowView* FindWindow(const std::string& name);

  UiState& state_;
  UiBackend& backend_;
};

// The bytes of a note file: every line end becomes CR LF (a CR LF already
// there stays one line end).
std::string NoteFileText(std::string_view text);

// Path of the note file of script `id`.
std::string NotePath(int32_t id);

// A "pos" value: items cut at "<<<"; x and y from items 1 and 2 when there
// are at least two, width and height from items 3 and 4 when there are at
// least four; anything else stays 0.
struct WindowPlacement {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};
WindowPlacement ParsePlacement(std::string_view value);

}  // namespace qp
