#include "app/main_dialog.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <system_error>

#include "compiler/compiler.h"
#include "compiler/text_file.h"
#include "engine/executor.h"
#include "engine/trace.h"
#include "support/files.h"
#include "support/messages.h"
#include "support/settings.h"
#include "ui/js_host_service.h"

namespace qp {

CQuorPackDlg::CQuorPackDlg(GMainContext* context, UiBackend& backend,
                           std::function<void(int)> quit)
    : backend_(backend),
      quit_(std::move(quit)),
      server_(state_, backend),
      dispatcher_(context, backend,
                  [this](ScriptRunner& runner, UiRequestKind kind, const std::string& text,
                         UiDispatcher::Finish finish) {
                    server_.Serve(runner, kind, text, std::move(finish));
                  }) {
  backend_.SetEventSink([this](const WindowEvent& event) { OnWindowEvent(event); });
  backend_.SetHomePageSource(&CQuorPackDlg::HomePage);
}

// Normally Shutdown has joined every thread. A runner whose thread still runs
// cannot be destroyed safely, so it is left to the process's end.
CQuorPackDlg::~CQuorPackDlg() {
  backend_.SetEventSink(nullptr);
  for (auto& script : runningScripts_) {
    if (!script->thread.joinable()) continue;
    if (script->active) {
      script->thread.detach();
      script->runner.release();
    } else {
      script->thread.join();
    }
  }
}

std::string CQuorPackDlg::HomePage() { return ReadSetting("homepage", kDefaultHomePage); }

void CQuorPackDlg::Initialize() {
  hotkeyText_ = ReadSetting("hotkey", "CTRL + 9");
  backend_.RegisterHotkey(hotkeyText_);  // a failure is not reported
  std::string errorText;
  if (!InitJsHost(errorText)) backend_.ShowAlert(errorText);
  state_.trayTip = ReadSetting("appname", "");
  startedCount_ = 0;
  endedCount_ = 0;
  trace_ = TraceEnabled();
  LoadBootFile();
}

void CQuorPackDlg::LoadBootFile() {
  std::vector<BootLine> lines = ParseBootFile(ReadTextFile(ProgramPath("Quorvant.boot")));
  for (const BootLine& line : lines) {
    if (StopPending()) return;
    StartScript(line.tag, line.script, line.param);
  }
  if (!lines.empty()) return;
  backend_.ShowAlert(Msg(MessageId::kBootFileInvalid));
  Shutdown();
}

// Every start compiles its own program, so a runner never sees its program
// replaced by a later start of the same path.
void CQuorPackDlg::StartScript(const std::string&, const std::string& name,
                               const std::string& param) {
  std::string path = ProgramPath("Script/" + name);
  auto program = std::make_shared<ScriptProgram>();
  auto lines = std::make_shared<SourceMap>();
  CompileOptions options;
  options.homeDir = ProgramDir();
  options.rootPath = path;
  options.sourceMap = lines.get();
  options.stopRequested = stopRequested_;
  CompileSummary summary = Compile(ReadTextFile(path), *program, options);
  if (summary.stopped) return;  // the program is ending: the script never starts
  if (summary.cappedIncludes > 0 && cappedScripts_.insert(path).second)
    std::fprintf(stderr,
                 "quorpack: %s: more than %d files included; %d later includes skipped\n",
                 path.c_str(), kMaxIncludedFiles, summary.cappedIncludes);
  programs_[path] = program;
  StartThread(path, param, std::move(program), std::move(lines));
}

void CQuorPackDlg::StartThread(const std::string& path, const std::string& param,
                               std::shared_ptr<const ScriptProgram> program,
                               std::shared_ptr<const SourceMap> lines) {
  auto script = std::make_unique<ScriptThread>();
  script->runner = std::make_unique<ScriptRunner>();
  ScriptRunner& runner = *script->runner;
  std::lock_guard lock(state_.runnerLock);
  runner.scriptPath = path;
  runner.param = param;
  runner.listIndex = static_cast<int32_t>(runningScripts_.size());
  runner.variables.Set("param", param);
  // The path is the file system's (UTF-8); scripts see it in the code page.
  runner.variables.Set("source", ScriptPath(path));
  runner.id = ++startedCount_;
  runner.Load(std::move(program));
  runner.sourceMap = std::move(lines);
  runner.trace = trace_;
  runner.ui = &dispatcher_;
  script->active = true;
  runningScripts_.reserve(runningScripts_.size() + 1);  // the append below cannot fail
  try {
    script->thread = std::thread(ThreadProcedure, this, script.get());
  } catch (const std::system_error&) {
    --startedCount_;  // undone silently; the runner goes with `script`
    return;
  }
  runner.suspended = 0;
  runningScripts_.push_back(std::move(script));
}

void CQuorPackDlg::ThreadProcedure(CQuorPackDlg* dialog, ScriptThread* script) {
  Run(*script->runner);
  script->active = false;
  dialog->dispatcher_.Notify();
  // The dispatcher goes with the dialog, and its closures with it.
  dialog->dispatcher_.Post([dialog] { dialog->OnScriptEnded(); });
}

void CQuorPackDlg::OnScriptEnded() {
  if (shutDown_) return;
  ++endedCount_;
  if (endedCount_ == startedCount_) Shutdown();
}

void CQuorPackDlg::ResumeRunner(ScriptRunner& runner) {
  runner.suspended = runner.control.Resume() > 1 ? 1 : 0;
}

// A script held by its prompt is not resumed: it takes the wake-up once it
// has its answer, so an event never cuts a prompt short.
void CQuorPackDlg::OnWindowEvent(const WindowEvent& event) {
  if (shutDown_) return;
  state_.lastEvent = event;
  std::lock_guard lock(state_.runnerLock);
  for (auto it = runningScripts_.rbegin(); it != runningScripts_.rend(); ++it) {
    ScriptThread& script = **it;
    if (!script.active) continue;
    ScriptRunner& runner = *script.runner;
    runner.control.PostMessage(WM_SCRIPT_WAKE);
    if (runner.suspended && !runner.inputDialog) ResumeRunner(runner);
    runner.control.SignalSleep();
  }
}

bool CQuorPackDlg::AllScriptsEnded() const {
  for (const auto& script : runningScripts_)
    if (script->active) return false;
  return true;
}

// Every script gets its stop message before the first wait, so that they all
// stop at once: one after the other, a few hundred busy scripts would take
// the sum of their times. Each still gets its full wait, counted from the end
// of the previous one. While it waits, the UI thread goes on serving
// requests, so a script that asks for something while it is being stopped
// still ends in time.
void CQuorPackDlg::StopScripts() {
  std::lock_guard lock(state_.runnerLock);
  for (auto it = runningScripts_.rbegin(); it != runningScripts_.rend(); ++it) {
    ScriptThread& script = **it;
    if (!script.active) continue;
    ScriptRunner& runner = *script.runner;
    runner.control.PostMessage(WM_SCRIPT_STOP);
    if (runner.inputDialog) {
      backend_.EndPrompt(runner);
      runner.inputDialog = nullptr;
    }
    if (runner.suspended) ResumeRunner(runner);
    runner.control.SignalSleep();
  }
  for (auto it = runningScripts_.rbegin(); it != runningScripts_.rend(); ++it) {
    ScriptThread& script = **it;
    if (!script.active) continue;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStopWaitMs);
    dispatcher_.WaitServing([&script] { return !script.active; }, deadline);
  }
}

// A script that did not end after its stop message is still using its runner
// (a blocked network read or library call), so nothing can be destroyed: the
// program names it and ends the process at once. The threads that have
// ended are joined first, so only the blocked ones are left behind.
void CQuorPackDlg::ForceEnd() {
  for (const auto& script : runningScripts_) {
    if (!script->active) {
      if (script->thread.joinable()) script->thread.join();
      continue;
    }
    std::fprintf(stderr, "quorpack: script %d (%s) did not stop within %d ms; ending anyway\n",
                 script->runner->id, script->runner->scriptPath.c_str(), kStopWaitMs);
  }
  std::fflush(nullptr);
  _exit(1);
}

void CQuorPackDlg::Shutdown() {
  if (shutDown_) return;
  shutDown_ = true;
  state_.shuttingDown = true;
  // A script inside a message box must get out of it to meet its stop message.
  backend_.CloseDialogs();
  if (!AllScriptsEnded()) StopScripts();
  if (!AllScriptsEnded()) ForceEnd();
  {
    std::lock_guard lock(state_.runnerLock);
    for (auto it = runningScripts_.rbegin(); it != runningScripts_.rend(); ++it) {
      if ((*it)->thread.joinable()) (*it)->thread.join();
      it->reset();
    }
    runningScripts_.clear();
  }
  {
    std::lock_guard lock(state_.windowTableLock);
    for (auto& [name, view] : state_.htmlWindows)
      if (view) view->SetShowState(WindowShowState::Minimized);
    state_.htmlWindows.clear();
  }
  if (state_.trayShown) {
    backend_.HideTrayIcon();
    state_.trayShown = 0;
  }
  backend_.UnregisterHotkey();
  quit_(0);
}

}  // namespace qp
