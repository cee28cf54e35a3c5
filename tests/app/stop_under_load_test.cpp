// The program under load: hundreds of scripts that keep the UI thread busy
// with requests still stop at once on a signal and still get the events of
// the event pipe; a signal that comes while the boot file's scripts are
// being compiled ends the compilation.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "app/home_fixture.h"

namespace qp::testing {
namespace {

constexpr int kBusyScripts = 200;

// Never pauses: every round asks the UI thread for a message box, a note and
// a JavaScript evaluation.
constexpr const char* kBusyScript =
    "<main>\nvar [#i] 0\nwhile 1\n{\nvar [#i] ([#i]+1)\nalert busy [@robotid] [#i]\n"
    "note n [#i]\njs 6*7\n}\n";

std::string Alert(const std::string& text) { return "提示窗口: " + text + "\n"; }

void UseUtf8(const HomeFixture& home, const std::string& extra = "") {
  home.Write("Config.ini", "[setting]\r\ncodepage=utf-8\r\n" + extra);
}

std::string Repeat(const std::string& line, int times) {
  std::string text;
  for (int i = 0; i < times; ++i) text += line;
  return text;
}

// Waits until the note of the script with id `lastId` has been written, so
// every script before it is running too.
bool WaitUntilAllAreBusy(QuorpackProcess& quorpack, const HomeFixture& home, int lastId) {
  bool busy = quorpack.WaitForOut(home.Path("Temp/note_" + std::to_string(lastId) + ".txt"), 60000ms);
  // A little longer, so the queue of requests is as full as it gets.
  quorpack.WaitForErr("\x01 never printed", 300ms);
  return busy;
}

TEST(StopUnderLoad, SignalStopsTwoHundredBusyScriptsWithinASecond) {
  for (int sig : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(sig);
    HomeFixture home;
    UseUtf8(home);
    home.WriteScript("busy.qvr", kBusyScript);
    home.WriteBoot(Repeat("b^busy.qvr^\r\n", kBusyScripts));
    auto quorpack = home.Start();
    ASSERT_TRUE(WaitUntilAllAreBusy(*quorpack, home, kBusyScripts)) << quorpack->err().substr(0, 400);
    RunResult run = quorpack->Stop(sig, 20000ms);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.signal, 0);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_LT(run.stopTook, 1000ms) << run.stopTook.count();
    // Every script took its stop message: none was named for not stopping,
    // and none reported an error on its way out.
    EXPECT_EQ(run.err.find("did not stop"), std::string::npos);
    EXPECT_EQ(run.err.find("出错"), std::string::npos);
    for (int id : {1, kBusyScripts / 2, kBusyScripts})
      EXPECT_NE(run.err.find(Alert("busy " + std::to_string(id) + " 1")), std::string::npos) << id;
  }
}

// The script that waits for events gets each one while 200 others keep the
// UI thread busy. An event that comes while its handler still runs (after
// its alert, before its `return`) is dropped by design, so an event not
// answered within a moment is sent again; without the pipe being read under
// load, no answer would ever come.
TEST(StopUnderLoad, EventPipeIsReadWhileScriptsAreBusy) {
  HomeFixture home;
  UseUtf8(home, "eventfifo=Temp/events\r\n");
  home.WriteScript("busy.qvr", kBusyScript);
  home.WriteScript("listen.qvr",
                   "<main>\nsuspend\n<on_test_ping>\nalert got [#window_value]\nreturn\n");
  home.WriteBoot("l^listen.qvr^\r\n" + Repeat("b^busy.qvr^\r\n", kBusyScripts));
  auto quorpack = home.Start();
  ASSERT_TRUE(WaitUntilAllAreBusy(*quorpack, home, kBusyScripts + 1))
      << quorpack->err().substr(0, 400);
  auto send = [&](int k) {
    std::string line = "test\tping\t" + std::to_string(k) + "\n";
    int fd = open(home.Path("Temp/events").c_str(), O_WRONLY | O_NONBLOCK);
    if (fd < 0) return false;
    bool sent = write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    close(fd);
    return sent;
  };
  constexpr int kEvents = 10;
  int seen = 0, sends = 0;
  for (int k = 1; k <= kEvents; ++k) {
    bool answered = false;
    for (int attempt = 0; attempt < 60 && !answered; ++attempt) {
      ASSERT_TRUE(send(k));
      ++sends;
      answered = quorpack->WaitForErr(Alert("got " + std::to_string(k)), 250ms);
    }
    if (!answered) break;
    ++seen;
  }
  EXPECT_EQ(seen, kEvents) << sends << " lines sent";
  RunResult run = quorpack->Stop(SIGTERM, 20000ms);
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 0);
}

// The scripts after the first include a file of 20,000 comment lines a
// thousand times each: seconds of compiling, which a stop signal cuts short.
// None of them starts.
TEST(StopUnderLoad, SignalDuringCompilationEndsItAndStartsNothingMore) {
  HomeFixture home;
  UseUtf8(home);
  home.WriteScript("lib/comments.qvr", Repeat("// a comment\n", 20000));
  home.WriteScript("heavy.qvr", Repeat("using lib.comments\n", 1000) + "alert heavy ran\n");
  const std::string started = home.Path("Temp/started");
  home.WriteScript("first.qvr", "<main>\neval [@writefile<<<" + started + "<<<1]\npause 60000\n");
  home.WriteBoot("f^first.qvr^\r\n" + Repeat("h^heavy.qvr^\r\n", 5));
  auto quorpack = home.Start();
  // The first script runs once its start is over: the signal handlers are
  // in place and the heavy compiles have begun.
  ASSERT_TRUE(quorpack->WaitForFile(started, 20000ms));
  RunResult run = quorpack->Stop(SIGTERM, 30000ms);
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_LT(run.stopTook, 1000ms) << run.stopTook.count();
}

}  // namespace
}  // namespace qp::testing
