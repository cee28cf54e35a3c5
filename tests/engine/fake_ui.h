// A recording UI service for driving real compiled scripts through Run: it
// keeps every request with a copy of the continuation stack at that moment,
// answers prompts and window-event fetches, and lets a test act at a given
// request (post a message, raise the suspend count, ...).
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "compiler/compiler.h"
#include "engine/builtins.h"
#include "engine/executor.h"
#include "engine/script_runner.h"
#include "engine/substitution.h"
#include "engine/text_commands.h"
#include "support/messages.h"

namespace qp::test {

struct Recorded {
  UiRequestKind kind;
  std::string text;
  std::deque<int32_t> stack;  // continuations while the request was served
};

class FakeUi : public UiService {
 public:
  void Request(ScriptRunner& runner, UiRequestKind kind, const std::string& text) override {
    {
      std::lock_guard lock(mutex_);
      requests.push_back({kind, text, runner.continuations});
    }
    if (kind == UiRequestKind::FetchWindowEvent) {
      runner.variables.Set("window_name", event.source);
      runner.variables.Set("window_event", event.event);
      runner.variables.Set("window_value", event.value);
    }
    if (kind == UiRequestKind::Prompt) {
      std::string answer = answers.empty() ? std::string() : answers.front();
      if (!answers.empty()) answers.pop_front();
      runner.variables.Set("input", answer);
    }
    if (onRequest) onRequest(runner, kind, text);
  }
  int ScreenWidth() override { return width; }
  int ScreenHeight() override { return height; }

  // Texts of every request of one kind, in order.
  std::vector<std::string> Texts(UiRequestKind kind) {
    std::lock_guard lock(mutex_);
    std::vector<std::string> out;
    for (const Recorded& r : requests)
      if (r.kind == kind) out.push_back(r.text);
    return out;
  }
  std::vector<std::string> Notes() { return Texts(UiRequestKind::Note); }
  std::vector<std::string> Alerts() { return Texts(UiRequestKind::Alert); }
  std::vector<std::string> States() { return Texts(UiRequestKind::State); }

  std::vector<Recorded> requests;
  WindowEvent event;
  std::deque<std::string> answers;
  int width = 0;
  int height = 0;
  std::function<void(ScriptRunner&, UiRequestKind, const std::string&)> onRequest;

 private:
  std::mutex mutex_;
};

// A runner loaded with the compiled `text` (lines written with LF; script
// files end them with CR LF), its requests going to `ui`.
inline std::unique_ptr<ScriptRunner> MakeRunner(const std::string& text, FakeUi& ui) {
  std::string crlf;
  for (char c : text) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  auto program = std::make_shared<ScriptProgram>();
  Compile(crlf, *program);
  auto runner = std::make_unique<ScriptRunner>();
  runner->id = 1;
  runner->ui = &ui;
  runner->Load(program);
  return runner;
}

// The error report's text for `command` and `reason`.
inline std::string ErrorText(const std::string& command, const std::string& reason) {
  return Msg(MessageId::kErrorPrefix) + "\"" + command + "\"\r\n" +
         Msg(MessageId::kReasonPrefix) + reason;
}

}  // namespace qp::test
