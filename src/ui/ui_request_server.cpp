#include "ui/ui_request_server.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "engine/substitution.h"
#include "support/atomic_file.h"
#include "support/settings.h"
#include "support/text.h"
#include "ui/js_host_service.h"

namespace qp {

void UiRequestServer::Serve(ScriptRunner& runner, UiRequestKind kind, const std::string& text) {
  switch (kind) {
    case UiRequestKind::Note: Note(runner, text); break;
    case UiRequestKind::Alert: backend_.ShowAlert(text); break;
    case UiRequestKind::Js: Js(runner, text); break;
    case UiRequestKind::Prompt: Prompt(runner, text); break;
    case UiRequestKind::InputReply: InputReply(runner, text); break;
    case UiRequestKind::OpenWindow: OpenWindow(text); break;
    case UiRequestKind::SetWindow: SetWindow(text); break;
    case UiRequestKind::ShowWindow: ShowHideWindow(text, true); break;
    case UiRequestKind::HideWindow: ShowHideWindow(text, false); break;
    case UiRequestKind::CloseWindow: CloseWindow(text); break;
    case UiRequestKind::JsWindow: JsWindow(runner, text); break;
    case UiRequestKind::Suspend: Suspend(runner); break;
    case UiRequestKind::ShowTray: ShowTray(); break;
    case UiRequestKind::HideTray: HideTray(); break;
    case UiRequestKind::FetchWindowEvent: FetchWindowEvent(runner); break;
    default: break;  // status texts (2 to 5) have no window to show them
  }
}

// A message box holds up only the script that asked. Once the program is
// stopping its scripts nobody is there to close it, so it does not wait.
void UiRequestServer::Serve(ScriptRunner& runner, UiRequestKind kind, const std::string& text,
                            std::function<void()> finish) {
  if (kind == UiRequestKind::Alert && !state_.shuttingDown) {
    backend_.BeginAlert(text, std::move(finish));
    return;
  }
  if (kind == UiRequestKind::JsWindow && !state_.shuttingDown) {
    BeginJsWindow(runner, text, std::move(finish));
    return;
  }
  Serve(runner, kind, text);
  finish();
}

std::string NoteFileText(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
    out += text[i];
  }
  return out;
}

std::string NotePath(int32_t id) { return ProgramPath("Temp/note_" + ToDecimal(id) + ".txt"); }

// The note replaces the earlier one only once it is whole, so a full disk
// keeps the earlier note instead of a cut one; the failure is said on
// standard error. The Temp folder is not created here: a home without one
// gets no note file, and the open request still runs.
void UiRequestServer::Note(ScriptRunner& runner, const std::string& text) {
  std::string path = NotePath(runner.id);
  if (!ReplaceFileAtomically(path, NoteFileText(text), 0666, false)) {
    std::fprintf(stderr, "quorpack: cannot write the note %s: %s\n", path.c_str(),
                 std::strerror(errno));
  }
  backend_.OpenFile(path);
}

void UiRequestServer::Js(ScriptRunner& runner, const std::string& text) {
  std::lock_guard lock(state_.scriptHostLock);
  std::string result;
  if (EvaluateJs(text, result)) {
    runner.variables.Set("return", std::move(result));
    runner.variables.Set("status", "1");
  } else {
    runner.variables.Set("status", "0");
  }
}

// Holds the script at its "prompt" until the answer arrives. Once the program
// is stopping its scripts nobody would answer, so the script goes on at once
// and meets its stop message.
void UiRequestServer::Prompt(ScriptRunner& runner, const std::string& text) {
  if (state_.shuttingDown) return;
  std::lock_guard lock(state_.runnerLock);
  runner.inputDialog = backend_.BeginPrompt(
      runner, text, [this](ScriptRunner& r, const std::string& answer) { InputReply(r, answer); });
  runner.control.Suspend();
  runner.suspended = 1;
}

// Resumes only a script that its prompt holds: a late answer must not wake a
// script that waits for events.
void UiRequestServer::InputReply(ScriptRunner& runner, const std::string& answer) {
  std::lock_guard lock(state_.runnerLock);
  runner.variables.Set("input", answer);
  if (!runner.inputDialog) return;
  backend_.EndPrompt(runner);
  runner.inputDialog = nullptr;
  runner.suspended = runner.control.Resume() > 1 ? 1 : 0;
}

HtmlWindowView* UiRequestServer::FindWindow(const std::string& name) {
  auto it = state_.htmlWindows.find(name);
  return it == state_.htmlWindows.end() ? nullptr : it->second.get();
}

void UiRequestServer::OpenWindow(const std::string& text) {
  SplitResult parts = Split(text);
  std::lock_guard lock(state_.windowTableLock);
  if (FindWindow(parts.first)) return;
  std::string url = parts.rest.empty() ? "about:blank" : parts.rest;
  auto view = backend_.CreateHtmlWindow(parts.first, url);
  if (view) state_.htmlWindows[parts.first] = std::move(view);
}

WindowPlacement ParsePlacement(std::string_view value) {
  std::vector<std::string> items = SplitAll(value, "<<<");
  WindowPlacement placement;
  if (items.size() >= 2) {
    placement.x = LeadingInt(items[0]);
    placement.y = LeadingInt(items[1]);
  }
  if (items.size() >= 4) {
    placement.width = LeadingInt(items[2]);
    placement.height = LeadingInt(items[3]);
  }
  return placement;
}

namespace {

// "normal" -> 1, "none" -> 0, anything else -> -1 (ignored).
int NormalOrNone(const std::string& value) {
  std::string lower = AsciiLower(value);
  if (lower == "normal") return 1;
  if (lower == "none") return 0;
  return -1;
}

void ApplyProperty(HtmlWindowView& view, const std::string& property, const std::string& value) {
  if (property == "title") {
    view.SetTitle(value + kWindowTitleSuffix);
  } else if (property == "url") {
    view.Navigate(value);
  } else if (property == "write") {
    view.Write(value);
  } else if (property == "clear") {
    view.Clear();
  } else if (property == "pos") {
    WindowPlacement p = ParsePlacement(value);
    view.Move(p.x, p.y, p.width, p.height);
  } else if (property == "minimize") {
    view.SetShowState(WindowShowState::Minimized);
  } else if (property == "maximize") {
    view.SetShowState(WindowShowState::Maximized);
  } else if (property == "restore") {
    view.SetShowState(WindowShowState::Restored);
  } else if (property == "border") {
    int flag = NormalOrNone(value);
    if (flag >= 0) view.SetBorder(flag == 1);
  } else if (property == "taskbar") {
    int flag = NormalOrNone(value);
    if (flag >= 0) view.SetTaskbar(flag == 1);
  }
}

}  // namespace

void UiRequestServer::SetWindow(const std::string& text) {
  SplitResult parts = Split(text);
  if (parts.rest.empty()) return;
  std::lock_guard lock(state_.windowTableLock);
  HtmlWindowView* view = FindWindow(parts.first);
  if (!view) return;
  SplitResult setting = Split(parts.rest);
  ApplyProperty(*view, AsciiLower(setting.first), setting.rest);
}

void UiRequestServer::ShowHideWindow(const std::string& name, bool show) {
  std::lock_guard lock(state_.windowTableLock);
  if (HtmlWindowView* view = FindWindow(name))
    view->SetShowState(show ? WindowShowState::Shown : WindowShowState::Hidden);
}

void UiRequestServer::CloseWindow(const std::string& name) {
  std::lock_guard lock(state_.windowTableLock);
  auto it = state_.htmlWindows.find(name);
  if (it == state_.htmlWindows.end()) return;
  if (it->second) it->second->SetShowState(WindowShowState::Minimized);
  state_.htmlWindows.erase(it);
}

void UiRequestServer::JsWindow(ScriptRunner& runner, const std::string& text) {
  SplitResult parts = Split(text);
  if (parts.rest.empty()) return;
  std::lock_guard windows(state_.windowTableLock);
  std::lock_guard runners(state_.runnerLock);
  HtmlWindowView* view = FindWindow(parts.first);
  if (!view) return;
  std::string result;
  bool ok = view->RunScript(parts.rest, result);
  runner.variables.Set("return", std::move(result));
  runner.variables.Set("status", ok ? "1" : "0");
}

// The page answers later: the asking script waits for `finish` while the UI
// thread serves others. The window answers once, also when it goes first.
void UiRequestServer::BeginJsWindow(ScriptRunner& runner, const std::string& text,
                                    std::function<void()> finish) {
  SplitResult parts = Split(text);
  std::lock_guard windows(state_.windowTableLock);
  HtmlWindowView* view = parts.rest.empty() ? nullptr : FindWindow(parts.first);
  if (!view) {
    finish();
    return;
  }
  view->BeginScript(parts.rest, [this, &runner, finish = std::move(finish)](
                                    bool ok, const std::string& result) {
    std::lock_guard windows(state_.windowTableLock);
    std::lock_guard runners(state_.runnerLock);
    runner.variables.Set("return", result);
    runner.variables.Set("status", ok ? "1" : "0");
    finish();
  });
}

void UiRequestServer::Suspend(ScriptRunner& runner) {
  std::lock_guard lock(state_.runnerLock);
  runner.suspended = 1;
}

void UiRequestServer::ShowTray() {
  backend_.ShowTrayIcon(state_.trayTip, state_.trayShown != 0);
  state_.trayShown = 1;
}

void UiRequestServer::HideTray() {
  if (!state_.trayShown) return;
  backend_.HideTrayIcon();
  state_.trayShown = 0;
}

void UiRequestServer::FetchWindowEvent(ScriptRunner& runner) {
  std::lock_guard lock(state_.runnerLock);
  runner.variables.Set("window_name", state_.lastEvent.source);
  runner.variables.Set("window_event", state_.lastEvent.event);
  runner.variables.Set("window_value", state_.lastEvent.value);
}

}  // namespace qp
