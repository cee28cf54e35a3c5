// A private X session for desktop tests: Xvfb with a 1280x1024 screen (on a
// display number it picks itself, so tests can run in parallel) and icewm as
// the window manager and notification area, with its task bar at the top so
// that the screen's bottom edge is free. Tools (xdotool, import) run against
// it with bounded waits, and screenshots go to <build>/ui-screenshots/.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/home_fixture.h"

namespace qp::testing {

// For a sanitizer build: the suppressions of third-party leaks, matched on
// whole stacks (the fast unwinder stops at the first library built without
// frame pointers, so a stack would show g_malloc and nothing of its callers).
inline constexpr const char* kLeakOptions =
    "suppressions=" QP_SOURCE_DIR "/tests/ui/lsan.supp:print_suppressions=0:"
    "fast_unwind_on_malloc=0";

// The sanitizer options of the test run, with whole stacks at every
// allocation (read from ASAN_OPTIONS in an AddressSanitizer build).
inline std::string AsanOptions() {
  const char* options = std::getenv("ASAN_OPTIONS");
  std::string text = options ? options : "";
  if (!text.empty()) text += ':';
  return text + "fast_unwind_on_malloc=0";
}

struct ToolResult {
  int exitCode = -1;
  std::string out;
};

// Runs `argv` with DISPLAY set (when given), standard output captured; killed
// after `timeout`.
inline ToolResult RunTool(const std::vector<std::string>& argv, const std::string& display,
                          std::chrono::milliseconds timeout = std::chrono::milliseconds(10000)) {
  ToolResult result;
  int out[2];
  if (pipe(out)) return result;
  pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 2);
    close(out[0]);
    close(out[1]);
    if (!display.empty()) setenv("DISPLAY", display.c_str(), 1);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  close(out[1]);
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      kill(pid, SIGKILL);
      break;
    }
    pollfd fd{out[0], POLLIN, 0};
    if (poll(&fd, 1, static_cast<int>(left.count())) <= 0) continue;
    char buffer[4096];
    ssize_t n = read(out[0], buffer, sizeof buffer);
    if (n <= 0) break;
    result.out.append(buffer, static_cast<size_t>(n));
  }
  close(out[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  return result;
}

// Polls `done` every 50 ms until it holds or `timeout` passes.
template <class Done>
bool PollUntil(Done done, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

struct WindowGeometry {
  int x = 0, y = 0, width = 0, height = 0;
};

class DesktopSession {
 public:
  DesktopSession() {
    std::string pattern = (std::filesystem::temp_directory_path() / "qp-x-XXXXXX").string();
    if (mkdtemp(pattern.data())) dir_ = pattern;
    std::ofstream(dir_ + "/preferences")
        << "TaskBarAtTop=1\n"
           "TaskBarShowCPUStatus=0\nTaskBarShowNetStatus=0\nTaskBarShowMEMStatus=0\n"
           "TaskBarShowClock=0\nShowTaskBar=1\n"
           // Window titles are Chinese; the default title font has no such glyphs.
           "TitleFontNameXft=\"WenQuanYi Zen Hei:size=10\"\n";
    if (StartServer())
      StartWindowManager();
    else
      problem_ = "Xvfb gave no display within 15 s";
  }
  ~DesktopSession() {
    for (pid_t pid : {wm_, server_}) {
      if (pid <= 0) continue;
      kill(pid, SIGTERM);
      if (!PollUntil([pid] { return waitpid(pid, nullptr, WNOHANG) == pid; },
                     std::chrono::milliseconds(3000))) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
      }
    }
    std::error_code ignored;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
  }
  DesktopSession(const DesktopSession&) = delete;
  DesktopSession& operator=(const DesktopSession&) = delete;

  bool ready() const { return ready_; }
  // Why the session is not ready.
  const std::string& problem() const { return problem_; }
  const std::string& display() const { return display_; }

  ToolResult Xdotool(std::vector<std::string> args) const {
    args.insert(args.begin(), "xdotool");
    return RunTool(args, display_);
  }

  // Visible windows of quorpack whose title is exactly `title`.
  std::vector<std::string> FindWindows(const std::string& title) const {
    std::vector<std::string> found;
    std::istringstream ids(Xdotool({"search", "--onlyvisible", "--class", "quorpack"}).out);
    for (std::string id; ids >> id;) {
      std::string name = Xdotool({"getwindowname", id}).out;
      if (!name.empty() && name.back() == '\n') name.pop_back();
      if (name == title) found.push_back(id);
    }
    return found;
  }
  std::optional<std::string> WaitForWindow(const std::string& title,
                                           std::chrono::milliseconds timeout) const {
    std::optional<std::string> id;
    PollUntil(
        [&] {
          auto found = FindWindows(title);
          if (!found.empty()) id = found.front();
          return id.has_value();
        },
        timeout);
    return id;
  }
  bool WaitForNoWindow(const std::string& title, std::chrono::milliseconds timeout) const {
    return PollUntil([&] { return FindWindows(title).empty(); }, timeout);
  }

  WindowGeometry Geometry(const std::string& id) const {
    WindowGeometry g;
    std::istringstream lines(Xdotool({"getwindowgeometry", "--shell", id}).out);
    for (std::string line; std::getline(lines, line);) {
      size_t eq = line.find('=');
      if (eq == std::string::npos) continue;
      std::string key = line.substr(0, eq);
      int value = std::atoi(line.c_str() + eq + 1);
      if (key == "X") g.x = value;
      if (key == "Y") g.y = value;
      if (key == "WIDTH") g.width = value;
      if (key == "HEIGHT") g.height = value;
    }
    return g;
  }

  // Clicks `button` at (x, y) inside window `id`.
  void Click(const std::string& id, int x, int y, int button = 1) const {
    Xdotool({"mousemove", "--window", id, std::to_string(x), std::to_string(y)});
    Xdotool({"click", std::to_string(button)});
  }
  std::string FocusedWindow() const {
    std::string id = Xdotool({"getwindowfocus"}).out;
    if (!id.empty() && id.back() == '\n') id.pop_back();
    return id;
  }

  // Saves the whole screen as <build>/ui-screenshots/<name>.png; returns the path.
  std::string Screenshot(const std::string& name) const {
    std::string folder = QP_BINARY_DIR "/ui-screenshots";
    std::filesystem::create_directories(folder);
    std::string path = folder + "/" + name + ".png";
    RunTool({"import", "-window", "root", path}, display_);
    return path;
  }

  // Share of pixels in `area` of a screenshot that have `color` (0..1).
  static double ColorShare(const std::string& png, const WindowGeometry& area,
                           const std::string& color) {
    std::string crop = std::to_string(area.width) + "x" + std::to_string(area.height) + "+" +
                       std::to_string(area.x) + "+" + std::to_string(area.y);
    ToolResult r = RunTool({"convert", png, "-crop", crop, "+repage", "-fuzz", "10%", "-fill",
                            "black", "+opaque", color, "-fill", "white", "-opaque", color,
                            "-colorspace", "gray", "-format", "%[fx:mean]", "info:"},
                           "");
    return r.exitCode == 0 ? std::atof(r.out.c_str()) : -1;
  }

  // Share of pixels in `area` that differ between two screenshots (0..1).
  static double DifferenceShare(const std::string& before, const std::string& after,
                                const WindowGeometry& area) {
    std::string crop = std::to_string(area.width) + "x" + std::to_string(area.height) + "+" +
                       std::to_string(area.x) + "+" + std::to_string(area.y);
    ToolResult r = RunTool({"convert", before, after, "-compose", "difference", "-composite",
                            "-crop", crop, "+repage", "-colorspace", "gray", "-threshold", "5%",
                            "-format", "%[fx:mean]", "info:"},
                           "");
    return r.exitCode == 0 ? std::atof(r.out.c_str()) : -1;
  }

  // The environment for a quorpack on this display. Files that it opens go
  // to a handler of the test's own, which appends their URIs to `openedLog`.
  ChildEnvironment Environment(const HomeFixture& home, const std::string& openedLog) const {
    std::string xdg = home.Path("xdg");
    home.Write("xdg/open.sh", "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + openedLog + "'\n");
    chmod((xdg + "/open.sh").c_str(), 0755);
    home.Write("xdg/data/applications/qp-test-open.desktop",
               "[Desktop Entry]\nType=Application\nName=qp test open\nExec=" + xdg +
                   "/open.sh %u\nMimeType=text/plain;x-scheme-handler/http;"
                   "x-scheme-handler/https;\n");
    home.Write("xdg/config/mimeapps.list",
               "[Default Applications]\ntext/plain=qp-test-open.desktop\n"
               "x-scheme-handler/http=qp-test-open.desktop\n"
               "x-scheme-handler/https=qp-test-open.desktop\n");
    return {{"DISPLAY", display_},
            {"XDG_DATA_HOME", xdg + "/data"},
            {"XDG_CONFIG_HOME", xdg + "/config"},
            {"XDG_CACHE_HOME", xdg + "/cache"},
            {"LSAN_OPTIONS", kLeakOptions},
            {"ASAN_OPTIONS", AsanOptions()}};
  }

 private:
  bool StartServer() {
    int fds[2];
    if (pipe(fds)) return false;
    server_ = fork();
    if (server_ == 0) {
      close(fds[0]);
      int null = open("/dev/null", O_RDWR);
      dup2(null, 0);
      dup2(null, 1);
      dup2(null, 2);
      std::string fd = std::to_string(fds[1]);
      execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24",
             "-nolisten", "tcp", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    std::string number;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (number.find('\n') == std::string::npos &&
           std::chrono::steady_clock::now() < deadline) {
      pollfd p{fds[0], POLLIN, 0};
      if (poll(&p, 1, 200) <= 0) continue;
      char buffer[32];
      ssize_t n = read(fds[0], buffer, sizeof buffer);
      if (n <= 0) break;
      number.append(buffer, static_cast<size_t>(n));
    }
    close(fds[0]);
    if (number.find('\n') == std::string::npos) return false;
    display_ = ":" + number.substr(0, number.find('\n'));
    return true;
  }

  // Starts icewm and waits for its task bar, which holds the notification
  // area. A window manager that dies while it starts (seen on loaded
  // machines) is started again, up to three times; what it printed is kept
  // in the session folder and quoted when it never comes up.
  void StartWindowManager() {
    std::string log = dir_ + "/icewm.log";
    for (int attempt = 1; attempt <= 3 && !ready_; ++attempt) {
      wm_ = fork();
      if (wm_ == 0) {
        int null = open("/dev/null", O_RDWR);
        int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        dup2(null, 0);
        dup2(out >= 0 ? out : null, 1);
        dup2(out >= 0 ? out : null, 2);
        setenv("DISPLAY", display_.c_str(), 1);
        setenv("ICEWM_PRIVCFG", dir_.c_str(), 1);
        setenv("HOME", dir_.c_str(), 1);
        execlp("icewm", "icewm", static_cast<char*>(nullptr));
        _exit(127);
      }
      bool gone = false;
      ready_ = PollUntil(
          [&] {
            if (waitpid(wm_, nullptr, WNOHANG) == wm_) gone = true;
            return gone || !Xdotool({"search", "--name", "^TaskBar$"}).out.empty();
          },
          std::chrono::seconds(20)) &&
               !gone;
      if (gone) wm_ = -1;
      if (!ready_ && !gone) break;  // running but no task bar: starting again will not help
    }
    if (!ready_) {
      std::string printed;
      std::ifstream in(log);
      printed.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
      if (printed.size() > 2000) printed.erase(0, printed.size() - 2000);
      problem_ = "display " + display_ + ": no task bar after 20 s; icewm " +
                 (wm_ > 0 ? "running" : "gone") + "; it printed: " + printed;
    }
  }

  std::string dir_;
  std::string display_;
  pid_t server_ = -1;
  pid_t wm_ = -1;
  bool ready_ = false;
  std::string problem_;
};

}  // namespace qp::testing
