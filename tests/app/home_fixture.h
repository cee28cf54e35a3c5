// End-to-end test helper: a temporary home folder, files written into it, and
// the real quorpack executable run on it with QUORPACK_HOME, standard input
// fed from a text, standard output and standard error captured, and every
// wait bounded. Header-only so that any test folder can include it as
// "app/home_fixture.h" (its program then needs `add_dependencies(test_<x>
// quorpack)` in its extra.cmake).
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <algorithm>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

namespace qp::testing {

using namespace std::chrono_literals;

inline std::string QuorpackBinary() { return QP_BINARY_DIR "/src/quorpack"; }

struct RunResult {
  int exitCode = -1;       // exit status, or -1 when killed
  int signal = 0;          // the signal that ended it, if any
  bool timedOut = false;   // the run was killed at its time-out
  std::string out;         // standard output
  std::string err;         // standard error
  long peakKiB = 0;        // the largest resident size it reached (ru_maxrss)
  std::chrono::milliseconds stopTook{-1};  // from the signal to the end (Stop)
};

// Environment variables set for the child; the display variables are always
// removed first, so a run is on the console unless a test names a display.
using ChildEnvironment = std::vector<std::pair<std::string, std::string>>;

// A running quorpack. Output is collected while the waits run.
class QuorpackProcess {
 public:
  QuorpackProcess(const std::string& home, std::string stdinText, bool keepStdinOpen,
                  const std::string& binary = QuorpackBinary(),
                  const ChildEnvironment& environment = {})
      : input_(std::move(stdinText)), keepStdinOpen_(keepStdinOpen) {
    int in[2], out[2], err[2];
    if (pipe(in) || pipe(out) || pipe(err)) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(in[0], 0);
      dup2(out[1], 1);
      dup2(err[1], 2);
      for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) close(fd);
      setenv("QUORPACK_HOME", home.c_str(), 1);
      unsetenv("DISPLAY");
      unsetenv("WAYLAND_DISPLAY");
      for (const auto& [name, value] : environment) setenv(name.c_str(), value.c_str(), 1);
      execl(binary.c_str(), binary.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    inFd_ = in[1];
    outFd_ = out[0];
    errFd_ = err[0];
    fcntl(inFd_, F_SETFL, O_NONBLOCK);
    signal(SIGPIPE, SIG_IGN);
  }

  ~QuorpackProcess() {
    if (!exited_ && pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    for (int fd : {inFd_, outFd_, errFd_})
      if (fd >= 0) close(fd);
  }
  QuorpackProcess(const QuorpackProcess&) = delete;
  QuorpackProcess& operator=(const QuorpackProcess&) = delete;

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  const std::string& err() const { return result_.err; }
  const std::string& out() const { return result_.out; }

  void Signal(int sig) {
    if (pid_ > 0 && !exited_) kill(pid_, sig);
  }
  // Sends `sig` and waits for the end, timing how long the stop took.
  RunResult Stop(int sig, std::chrono::milliseconds timeout) {
    auto start = std::chrono::steady_clock::now();
    Signal(sig);
    RunResult run = Finish(timeout);
    run.stopTook = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    return run;
  }
  // Adds text to standard input (when it was kept open).
  void WriteInput(std::string_view text) { input_ += text; }
  void CloseInput() {
    keepStdinOpen_ = false;
    Pump(0ms);
  }

  // Waits until standard error holds `text`; false at the time-out.
  bool WaitForErr(std::string_view text, std::chrono::milliseconds timeout) {
    return WaitUntil([&] { return result_.err.find(text) != std::string::npos; }, timeout);
  }
  bool WaitForOut(std::string_view text, std::chrono::milliseconds timeout) {
    return WaitUntil([&] { return result_.out.find(text) != std::string::npos; }, timeout);
  }
  // Waits until `path` exists.
  bool WaitForFile(const std::string& path, std::chrono::milliseconds timeout) {
    return WaitUntil([&] { return std::filesystem::exists(path); }, timeout);
  }
  // Waits for the end of the process; kills it at the time-out.
  RunResult Finish(std::chrono::milliseconds timeout) {
    if (!WaitUntil([&] { return exited_ && outFd_ < 0 && errFd_ < 0; }, timeout)) {
      result_.timedOut = true;
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      exited_ = true;
      Pump(0ms);
    }
    return result_;
  }
  bool exited() {
    Pump(0ms);
    return exited_;
  }

 private:
  template <class Done>
  bool WaitUntil(Done done, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      Pump(0ms);
      if (done()) return true;
      auto now = std::chrono::steady_clock::now();
      if (now >= deadline) return false;
      Pump(std::min<std::chrono::milliseconds>(
          20ms, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now)));
    }
  }

  // Feeds standard input, reads both outputs, notices the end of the child.
  void Pump(std::chrono::milliseconds wait) {
    FeedInput();
    pollfd fds[3] = {{outFd_, POLLIN, 0}, {errFd_, POLLIN, 0}, {inFd_, POLLOUT, 0}};
    int n = poll(fds, 3, static_cast<int>(wait.count()));
    if (n > 0) {
      ReadFrom(outFd_, result_.out, fds[0].revents);
      ReadFrom(errFd_, result_.err, fds[1].revents);
    }
    FeedInput();
    Reap();
  }

  void FeedInput() {
    if (inFd_ < 0) return;
    while (written_ < input_.size()) {
      ssize_t n = write(inFd_, input_.data() + written_, input_.size() - written_);
      if (n <= 0) break;
      written_ += static_cast<size_t>(n);
    }
    if (written_ == input_.size() && !keepStdinOpen_) {
      close(inFd_);
      inFd_ = -1;
    }
  }

  static void ReadFrom(int& fd, std::string& into, short revents) {
    if (fd < 0 || !(revents & (POLLIN | POLLHUP | POLLERR))) return;
    char buffer[4096];
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) {
      into.append(buffer, static_cast<size_t>(n));
    } else {
      close(fd);
      fd = -1;
    }
  }

  void Reap() {
    if (exited_ || pid_ <= 0) return;
    int status = 0;
    rusage usage{};
    if (wait4(pid_, &status, WNOHANG, &usage) != pid_) return;
    exited_ = true;
    result_.peakKiB = usage.ru_maxrss;
    if (WIFEXITED(status)) result_.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result_.signal = WTERMSIG(status);
  }

  pid_t pid_ = -1;
  int inFd_ = -1, outFd_ = -1, errFd_ = -1;
  std::string input_;
  size_t written_ = 0;
  bool keepStdinOpen_;
  bool exited_ = false;
  RunResult result_;
};

// A temporary home folder with Script/ and Temp/, removed afterwards.
class HomeFixture {
 public:
  HomeFixture() {
    std::string pattern = (std::filesystem::temp_directory_path() / "qp-home-XXXXXX").string();
    if (mkdtemp(pattern.data())) dir_ = pattern;
    std::filesystem::create_directories(dir_ + "/Script");
    std::filesystem::create_directories(dir_ + "/Temp");
  }
  ~HomeFixture() {
    std::error_code ignored;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
  }
  HomeFixture(const HomeFixture&) = delete;
  HomeFixture& operator=(const HomeFixture&) = delete;

  const std::string& dir() const { return dir_; }
  std::string Path(std::string_view relative) const { return dir_ + "/" + std::string(relative); }

  // Writes bytes exactly as given, creating folders on the way.
  void Write(std::string_view relative, std::string_view content) const {
    std::filesystem::path path = Path(relative);
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
  }
  // Quorvant.boot from the given text.
  void WriteBoot(std::string_view content) const { Write("Quorvant.boot", content); }
  void WriteScript(std::string_view name, std::string_view content) const {
    Write("Script/" + std::string(name), content);
  }
  std::string Read(std::string_view relative) const {
    std::ifstream in(Path(relative), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  bool Exists(std::string_view relative) const { return std::filesystem::exists(Path(relative)); }

  // Runs quorpack to its end with `stdinText` as standard input (closed after
  // it), killing it after `timeout`.
  RunResult Run(std::string_view stdinText = {},
                std::chrono::milliseconds timeout = std::chrono::milliseconds(15000)) const {
    QuorpackProcess process(dir_, std::string(stdinText), false);
    return process.Finish(timeout);
  }
  // Starts quorpack and returns at once, for tests that act while it runs.
  std::unique_ptr<QuorpackProcess> Start(std::string_view stdinText = {},
                                         bool keepStdinOpen = false,
                                         const ChildEnvironment& environment = {}) const {
    return std::make_unique<QuorpackProcess>(dir_, std::string(stdinText), keepStdinOpen,
                                             QuorpackBinary(), environment);
  }

 private:
  std::string dir_;
};

}  // namespace qp::testing
