#include "app/quorpack_app.h"

#include <fcntl.h>
#include <glib.h>

#include <csignal>
#include <cstdlib>
#include <cstdio>

#include "app/event_fifo.h"
#include "app/main_dialog.h"
#include "app/stop_signals.h"
#include "net/cookie_store.h"
#include "support/atomic_file.h"
#include "support/codepage.h"
#include "support/settings.h"
#include "support/text.h"
#include "ui/console_backend.h"
#include "ui/gtk_backend.h"

namespace qp {
namespace {

struct LoopState {
  GMainLoop* loop = nullptr;
  bool quit = false;
  int exitCode = 0;
};

void OpenEventFifo(EventFifo& fifo, CQuorPackDlg& dialog) {
  std::string path = EventFifoPath();
  if (path.empty()) return;
  std::string errorText;
  auto deliver = [&dialog](const WindowEvent& event) { dialog.OnWindowEvent(event); };
  if (!fifo.Open(path, deliver, errorText))
    std::fprintf(stderr, "quorpack: no events: %s\n", errorText.c_str());
}

// A standard stream that was closed at start would be reused by the next
// open (the event pipe, a note file) and read or written by mistake.
void KeepStandardStreamsOpen() {
  for (int fd = 0; fd <= 2; ++fd)
    if (fcntl(fd, F_GETFD) == -1) open("/dev/null", O_RDWR);
}

}  // namespace

bool WantsDesktop(const std::string& setting, const char* display, const char* waylandDisplay) {
  if (AsciiLower(setting) == "console") return false;
  return (display && *display) || (waylandDisplay && *waylandDisplay);
}

// A script never fails because there is no desktop.
std::unique_ptr<UiBackend> MakeUiBackend(const std::string& setting) {
  if (WantsDesktop(setting, std::getenv("DISPLAY"), std::getenv("WAYLAND_DISPLAY"))) {
    if (auto desktop = GtkBackend::Create()) return desktop;
    std::fprintf(stderr, "quorpack: cannot open the display; running on the console\n");
  }
  return std::make_unique<ConsoleBackend>();
}

int CQuorPackApp::Run() {
  KeepStandardStreamsOpen();
  std::signal(SIGPIPE, SIG_IGN);
  SetActiveCodePage(CodePageFromSetting(ReadSetting("codepage", "")));
  // Temporary files of replacements that a killed run left in the program's
  // own folders (those beside other files go at the next write of the file).
  RemoveOrphanedTemporariesIn(ProgramPath("Temp"));
  RemoveOrphanedTemporaries(CookieStore::DefaultPath());
  std::unique_ptr<UiBackend> backend = MakeUiBackend(ReadSetting("ui", ""));

  LoopState state;
  state.loop = g_main_loop_new(nullptr, FALSE);
  int exitCode = 0;
  {
    CQuorPackDlg dialog(nullptr, *backend, [&state](int code) {
      state.quit = true;
      state.exitCode = code;
      g_main_loop_quit(state.loop);
    });
    StopSignals stopSignals;
    if (stopSignals.Install([&dialog] { dialog.Shutdown(); }))
      dialog.SetStopFlag(&stopSignals.requested());
    else
      std::fprintf(stderr, "quorpack: cannot watch for stop signals\n");
    EventFifo fifo;
    OpenEventFifo(fifo, dialog);
    dialog.Initialize();
    // A boot-file failure has already asked to quit: the loop must not start.
    if (!state.quit) g_main_loop_run(state.loop);
    exitCode = state.exitCode;
  }
  g_main_loop_unref(state.loop);
  return exitCode;
}

}  // namespace qp
