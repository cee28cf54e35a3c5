// CQuorPackDlg: the UI thread's hub. It owns the programs compiled from the
// script files, the runners of every script started (ended or not, until
// shutdown), the UI state that requests use, and it counts the scripts as
// they end. Everything here runs on the UI thread, except the script threads'
// own procedure.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <glib.h>

#include "compiler/script_program.h"
#include "engine/script_runner.h"
#include "ui/ui_backend.h"
#include "ui/ui_dispatcher.h"
#include "ui/ui_request_server.h"
#include "ui/ui_state.h"

namespace qp {

// How long a shutdown waits for each script to end after its stop message.
inline constexpr int kStopWaitMs = 6000;
// Used when Config.ini names no home page.
inline constexpr const char* kDefaultHomePage = "https://quorpack.example.org/";

// One started script: its runner and the thread that runs it. The thread
// counts as active until its procedure has finished the run.
struct ScriptThread {
  std::unique_ptr<ScriptRunner> runner;
  std::thread thread;
  std::atomic<bool> active{false};
};

class CQuorPackDlg {
 public:
  // `quit` is called once, with the exit code, when the program should end.
  CQuorPackDlg(GMainContext* context, UiBackend& backend, std::function<void(int)> quit);
  ~CQuorPackDlg();
  CQuorPackDlg(const CQuorPackDlg&) = delete;
  CQuorPackDlg& operator=(const CQuorPackDlg&) = delete;

  // Dialog initialisation: settings, JavaScript host, tray tip, counters, and
  // the boot file, which starts the scripts.
  void Initialize();
  // A flag that a stop signal sets (StopSignals): once it holds true, no
  // further script is compiled or started, and a compilation under way ends
  // early. The signal's own loop source then runs Shutdown.
  void SetStopFlag(const std::atomic<bool>* stopRequested) { stopRequested_ = stopRequested; }
  void LoadBootFile();
  void StartScript(const std::string& tag, const std::string& name, const std::string& param);

  void OnScriptEnded();
  // Keeps the event as the last one and wakes every active script.
  void OnWindowEvent(const WindowEvent& event);
  bool AllScriptsEnded() const;
  // Stops what still runs, destroys the runners, closes the windows and ends
  // the program.
  void Shutdown();

  UiService& uiService() { return dispatcher_; }
  // The "homepage" setting, read at each use (the tray menu's support item).
  static std::string HomePage();
  int startedCount() const { return startedCount_; }
  int endedCount() const { return endedCount_; }
  const std::string& hotkeyText() const { return hotkeyText_; }

 private:
  void StartThread(const std::string& path, const std::string& param,
                   std::shared_ptr<const ScriptProgram> program,
                   std::shared_ptr<const SourceMap> lines);
  static void ThreadProcedure(CQuorPackDlg* dialog, ScriptThread* script);
  // Resumes a runner that the UI thread holds suspended, keeping `suspended`
  // in step with its suspend count. Caller holds the runner lock.
  static void ResumeRunner(ScriptRunner& runner);
  void StopScripts();
  void ForceEnd();
  bool StopPending() const {
    return stopRequested_ && stopRequested_->load(std::memory_order_relaxed);
  }

  UiBackend& backend_;
  std::function<void(int)> quit_;
  UiState state_;
  UiRequestServer server_;
  UiDispatcher dispatcher_;
  // Program table (with the label tables inside): full path -> program of
  // the latest start. Each runner keeps its own program alive.
  std::map<std::string, std::shared_ptr<const ScriptProgram>> programs_;
  std::vector<std::unique_ptr<ScriptThread>> runningScripts_;
  int startedCount_ = 0;
  int endedCount_ = 0;
  bool trace_ = false;  // "trace" setting or QUORPACK_TRACE, read at start
  std::string hotkeyText_;
  bool shutDown_ = false;
  const std::atomic<bool>* stopRequested_ = nullptr;
  // Scripts whose include cap has been reported on standard error.
  std::set<std::string> cappedScripts_;
};

}  // namespace qp
