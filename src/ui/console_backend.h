// The console back end, for machines without a desktop: message boxes become
// lines on standard error, a prompt asks on standard error and reads its
// answer from standard input, the shell's "open" prints the path on standard
// output, and HTML windows are records that keep what scripts set, so that
// scripts written for a desktop run unchanged. The tray icon does nothing.
#pragma once

#include <cstdio>
#include <deque>
#include <string>

#include <glib.h>

#include "ui/ui_backend.h"

namespace qp {

// What a console HTML window remembers.
struct ConsoleWindowState {
  std::string name;
  std::string url;
  std::string title;
  std::string document;
  WindowShowState show = WindowShowState::Shown;
  int x = 0, y = 0, width = 0, height = 0;
  bool border = true;
  bool taskbar = true;
};

class ConsoleWindow : public HtmlWindowView {
 public:
  ConsoleWindow(std::string name, std::string url);
  void SetTitle(const std::string& caption) override { state_.title = caption; }
  void Navigate(const std::string& url) override;
  void Write(const std::string& html) override { state_.document += html; }
  void Clear() override { state_.document.clear(); }
  void Move(int x, int y, int width, int height) override;
  void SetShowState(WindowShowState state) override { state_.show = state; }
  void SetBorder(bool shown) override { state_.border = shown; }
  void SetTaskbar(bool shown) override { state_.taskbar = shown; }
  // There is no page to run it in: fails with an empty result.
  bool RunScript(const std::string& source, std::string& result) override;
  const ConsoleWindowState& state() const { return state_; }

 private:
  ConsoleWindowState state_;
};

// Formats a message box for the console: the title, ": ", the text with
// CR LF turned into LF, a line feed; UTF-8. `text` is in the active code page.
std::string ConsoleAlertLine(const std::string& text);

class ConsoleBackend : public UiBackend {
 public:
  // Reads answers from `inputFd`; writes to `errors` and `output`.
  explicit ConsoleBackend(int inputFd = 0, FILE* errors = stderr, FILE* output = stdout);
  ~ConsoleBackend() override;
  ConsoleBackend(const ConsoleBackend&) = delete;
  ConsoleBackend& operator=(const ConsoleBackend&) = delete;

  void ShowAlert(const std::string& text) override;
  void OpenFile(const std::string& path) override;
  void* BeginPrompt(ScriptRunner& runner, const std::string& html, PromptAnswer answer) override;
  void EndPrompt(ScriptRunner& runner) override;
  std::unique_ptr<HtmlWindowView> CreateHtmlWindow(const std::string& name,
                                                   const std::string& url) override;
  void ShowTrayIcon(const std::string&, bool) override {}
  void HideTrayIcon() override {}

 private:
  // Prompts are answered in the order they were asked; only the oldest
  // waiting one shows its question, so answers cannot be mixed up.
  struct Waiting {
    ScriptRunner* runner;
    std::string question;  // UTF-8, ready to print
    PromptAnswer answer;
  };

  static gboolean OnInput(gint fd, GIOCondition condition, gpointer self);
  static gboolean OnReady(gpointer self);
  void ReadInput();
  void AnswerReady();
  bool HasAnswer() const;
  std::string TakeAnswer();
  void AskOldest();
  void ScheduleAnswer();
  void Watch(bool on);

  int inputFd_;
  FILE* errors_;
  FILE* output_;
  std::deque<Waiting> waiting_;
  bool asked_ = false;        // the oldest prompt's question has been printed
  std::string input_;         // bytes read but not yet used as answers
  bool inputEnded_ = false;   // end of input: every later answer is empty
  guint inputWatch_ = 0;
  guint readySource_ = 0;
};

}  // namespace qp
