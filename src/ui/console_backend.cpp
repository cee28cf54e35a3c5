#include "ui/console_backend.h"

#include <glib-unix.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "support/codepage.h"
#include "support/messages.h"
#include "support/text.h"
#include "ui/html_text.h"

namespace qp {

ConsoleWindow::ConsoleWindow(std::string name, std::string url) {
  state_.name = std::move(name);
  state_.url = std::move(url);
}

void ConsoleWindow::Navigate(const std::string& url) {
  state_.url = url;
  state_.document.clear();
}

void ConsoleWindow::Move(int x, int y, int width, int height) {
  state_.x = x;
  state_.y = y;
  state_.width = width;
  state_.height = height;
}

bool ConsoleWindow::RunScript(const std::string&, std::string& result) {
  result.clear();
  return false;
}

std::string ConsoleAlertLine(const std::string& text) {
  std::string body = text;
  ReplaceAll(body, "\r\n", "\n");
  std::string line = MsgUtf8(MessageId::kAppTitle);
  line += ": ";
  line += ActiveToUtf8(body);
  line += '\n';
  return line;
}

ConsoleBackend::ConsoleBackend(int inputFd, FILE* errors, FILE* output)
    : inputFd_(inputFd), errors_(errors), output_(output) {}

ConsoleBackend::~ConsoleBackend() {
  Watch(false);
  if (readySource_) g_source_remove(readySource_);
}

void ConsoleBackend::ShowAlert(const std::string& text) {
  std::string line = ConsoleAlertLine(text);
  std::fwrite(line.data(), 1, line.size(), errors_);
  std::fflush(errors_);
}

void ConsoleBackend::OpenFile(const std::string& path) {
  std::fprintf(output_, "%s\n", path.c_str());
  std::fflush(output_);
}

void* ConsoleBackend::BeginPrompt(ScriptRunner& runner, const std::string& html,
                                  PromptAnswer answer) {
  std::string question = HtmlToConsoleText(ActiveToUtf8(html));
  waiting_.push_back({&runner, std::move(question), std::move(answer)});
  AskOldest();
  ScheduleAnswer();
  return &runner;
}

void ConsoleBackend::EndPrompt(ScriptRunner& runner) {
  auto it = std::find_if(waiting_.begin(), waiting_.end(),
                         [&runner](const Waiting& w) { return w.runner == &runner; });
  if (it == waiting_.end()) return;
  if (it == waiting_.begin()) asked_ = false;
  waiting_.erase(it);
  AskOldest();
  ScheduleAnswer();
}

std::unique_ptr<HtmlWindowView> ConsoleBackend::CreateHtmlWindow(const std::string& name,
                                                                 const std::string& url) {
  return std::make_unique<ConsoleWindow>(name, url);
}

void ConsoleBackend::AskOldest() {
  if (asked_ || waiting_.empty()) return;
  std::string line = MsgUtf8(MessageId::kInputDialogTitle);
  line += ": ";
  line += waiting_.front().question;
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), errors_);
  std::fflush(errors_);
  asked_ = true;
}

bool ConsoleBackend::HasAnswer() const {
  return inputEnded_ || input_.find('\n') != std::string::npos;
}

// One line without its line end; at the end of input the rest (often empty).
std::string ConsoleBackend::TakeAnswer() {
  size_t lf = input_.find('\n');
  std::string line = input_.substr(0, lf);
  input_.erase(0, lf == std::string::npos ? input_.size() : lf + 1);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  // A terminal speaks UTF-8; bytes that are not UTF-8 are taken as they are.
  if (g_utf8_validate(line.data(), static_cast<gssize>(line.size()), nullptr))
    return Utf8ToActive(line);
  return line;
}

// Answers are handed over from the loop, never from inside BeginPrompt: the
// request that asked must have returned before its answer arrives.
void ConsoleBackend::ScheduleAnswer() {
  if (waiting_.empty()) {
    Watch(false);
    return;
  }
  if (HasAnswer()) {
    Watch(false);
    if (!readySource_) readySource_ = g_idle_add(OnReady, this);
  } else {
    Watch(true);
  }
}

gboolean ConsoleBackend::OnReady(gpointer self) {
  auto* backend = static_cast<ConsoleBackend*>(self);
  backend->readySource_ = 0;
  backend->AnswerReady();
  return G_SOURCE_REMOVE;
}

void ConsoleBackend::AnswerReady() {
  if (waiting_.empty() || !HasAnswer()) {
    ScheduleAnswer();
    return;
  }
  Waiting oldest = std::move(waiting_.front());
  waiting_.pop_front();
  asked_ = false;
  oldest.answer(*oldest.runner, TakeAnswer());
  AskOldest();
  ScheduleAnswer();
}

void ConsoleBackend::Watch(bool on) {
  if (on && !inputWatch_) {
    inputWatch_ = g_unix_fd_add(inputFd_, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR),
                                OnInput, this);
  } else if (!on && inputWatch_) {
    g_source_remove(inputWatch_);
    inputWatch_ = 0;
  }
}

gboolean ConsoleBackend::OnInput(gint, GIOCondition, gpointer self) {
  auto* backend = static_cast<ConsoleBackend*>(self);
  backend->ReadInput();
  if (backend->HasAnswer()) {
    backend->inputWatch_ = 0;
    backend->AnswerReady();
    return G_SOURCE_REMOVE;
  }
  return G_SOURCE_CONTINUE;
}

// One read per wake-up: the descriptor was reported readable, so it does not
// block. A closed or failing input counts as its end.
void ConsoleBackend::ReadInput() {
  char buffer[4096];
  ssize_t n = read(inputFd_, buffer, sizeof buffer);
  if (n > 0) {
    input_.append(buffer, static_cast<size_t>(n));
  } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
    inputEnded_ = true;
  }
}

}  // namespace qp
