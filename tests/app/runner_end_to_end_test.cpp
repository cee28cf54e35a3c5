// The quorpack program end to end: a temporary home per test, the real
// executable, its standard streams and exit code.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "app/home_fixture.h"

namespace qp::testing {
namespace {

const std::string kBootMessage = "提示窗口: 启动文件(Quorvant.boot)无法打开或者格式无效!\n";

std::string Alert(const std::string& text) { return "提示窗口: " + text + "\n"; }

// Scripts are GBK by default; these tests write UTF-8 homes for readability.
void UseUtf8(const HomeFixture& home, const std::string& extra = "") {
  home.Write("Config.ini", "[setting]\r\ncodepage=utf-8\r\n" + extra);
}

TEST(Runner, BootFileProblemsShowTheMessageAndEnd) {
  struct Case {
    const char* name;
    bool writeBoot;
    const char* boot;
  } cases[] = {
      {"missing", false, ""},
      {"empty", true, ""},
      {"two fields only", true, "a^b\n"},
      {"blank lines", true, "\r\n\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HomeFixture home;
    if (c.writeBoot) home.WriteBoot(c.boot);
    RunResult run = home.Run();
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.err, kBootMessage);
  }
}

TEST(Runner, MissingScriptEndsAtOnceWithoutOutput) {
  HomeFixture home;
  home.WriteBoot("x^nowhere.qvr^\n");
  auto start = std::chrono::steady_clock::now();
  RunResult run = home.Run();
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out, "");
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
}

// Ids follow the boot lines; the program waits for the slowest script,
// whichever line it is on.
TEST(Runner, ThreeScriptsGetIdsInBootOrderAndTheLastEndEndsTheProgram) {
  HomeFixture home;
  UseUtf8(home);
  home.WriteScript("s.qvr",
                   "<main>\npause [#param]\nalert id [@robotid] after [#param]\n");
  home.WriteBoot("a^s.qvr^400\r\nb^s.qvr^900\r\nc^s.qvr^10\r\n");
  RunResult run = home.Run();
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.err, Alert("id 3 after 10") + Alert("id 1 after 400") + Alert("id 2 after 900"));
}

TEST(Runner, ScriptsReceiveParamAndSource) {
  HomeFixture home;
  UseUtf8(home);
  home.WriteScript("show.qvr", "alert [[#param]] [#source]\n");
  home.WriteScript("sub/job.qvr", "alert job [[#param]] [#source]\n");
  home.WriteBoot("x^show.qvr^\nt^sub\\job.qvr^1^2\ny^show.qvr^参数 with blanks\n");
  RunResult run = home.Run();
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_NE(run.err.find(Alert("[] " + home.Path("Script/show.qvr"))), std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find(Alert("job [1] " + home.Path("Script/sub/job.qvr"))), std::string::npos)
      << run.err;
  EXPECT_NE(run.err.find(Alert("[参数 with blanks] " + home.Path("Script/show.qvr"))),
            std::string::npos)
      << run.err;
}

TEST(Runner, NotesReplaceEachOtherPerScriptAndGetCrLf) {
  HomeFixture home;
  UseUtf8(home);
  home.WriteScript("n.qvr", "<main>\nnote first [#param]\nnote second [#param]\nline two\n");
  home.WriteBoot("a^n.qvr^A\nb^n.qvr^B\n");
  RunResult run = home.Run();
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(home.Read("Temp/note_1.txt"), "second A\r\nline two");
  EXPECT_EQ(home.Read("Temp/note_2.txt"), "second B\r\nline two");
  // The console's "open" names each note on standard output, once per note.
  std::string one = home.Path("Temp/note_1.txt") + "\n";
  std::string two = home.Path("Temp/note_2.txt") + "\n";
  EXPECT_EQ(run.out.size(), 2 * one.size() + 2 * two.size()) << run.out;
  EXPECT_NE(run.out.find(one), std::string::npos);
  EXPECT_NE(run.out.find(two), std::string::npos);
}

TEST(Runner, ErrorReportIsPrintedExactlyInUtf8FromGbk) {
  HomeFixture home;  // default code page: GBK
  home.WriteScript("e.qvr", "<main>\ncall <nowhere>\nalert not reached\n");
  home.WriteBoot("a^e.qvr^\n");
  RunResult run = home.Run();
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.err, Alert("出错：\"CALL <nowhere>\"\n原因：使用了未定义的代码段名称．"));
}

TEST(Runner, PromptReadsOneLinePerQuestionAndEndOfInputIsEmpty) {
  HomeFixture home;
  UseUtf8(home);
  home.WriteScript("p.qvr",
                   "<main>\nprompt <b>Name</b>&amp;<br>code:\nalert got [[#input]]\n"
                   "prompt again\nalert got [[#input]]\nprompt third\nalert got [[#input]]\n");
  home.WriteBoot("a^p.qvr^\n");
  RunResult run = home.Run("Tom\r\n李\n");
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.err, "请输入..: Name&\ncode:\n" + Alert("got [Tom]") + "请输入..: again\n" +
                         Alert("got [李]") + "请输入..: third\n" + Alert("got []"));
}

// Prompts of two scripts are asked one after the other; each answer goes to
// the script whose question was shown, whichever asked first.
TEST(Runner, PromptsOfTwoScriptsAreAnsweredInTurn) {
  HomeFixture home;
  UseUtf8(home);
  home.WriteScript("p.qvr", "<main>\nprompt q[@robotid]\nalert [@robotid] got [#input]\n");
  home.WriteBoot("a^p.qvr^\nb^p.qvr^\n");
  RunResult run = home.Run("one\ntwo\n");
  EXPECT_EQ(run.exitCode, 0);
  size_t question = run.err.find("请输入..: q");
  ASSERT_NE(question, std::string::npos) << run.err;
  char first = run.err[question + std::string("请输入..: q").size()];
  char second = first == '1' ? '2' : '1';
  EXPECT_NE(run.err.find(Alert(std::string(1, first) + " got one")), std::string::npos) << run.err;
  EXPECT_NE(run.err.find(Alert(std::string(1, second) + " got two")), std::string::npos)
      << run.err;
}

class FifoRunner : public ::testing::Test {
 protected:
  void SetUp() override { UseUtf8(home_, "eventfifo=Temp/events\r\n"); }

  // Writes events the way a shell's printf would.
  bool Send(const std::string& lines) {
    int fd = open(home_.Path("Temp/events").c_str(), O_WRONLY | O_NONBLOCK);
    if (fd < 0) return false;
    bool ok = write(fd, lines.data(), lines.size()) == static_cast<ssize_t>(lines.size());
    close(fd);
    return ok;
  }

  HomeFixture home_;
};

TEST_F(FifoRunner, SuspendedScriptRunsItsHandlerForAnEvent) {
  home_.WriteScript("w.qvr",
                    "<main>\nalert ready\nsuspend\nalert not reached\n"
                    "<on_tray_click_quit>\nalert quit from [#window_name] [[#window_value]]\nexit\n");
  home_.WriteBoot("a^w.qvr^\n");
  auto quorpack = home_.Start();
  ASSERT_TRUE(quorpack->WaitForErr(Alert("ready"), 5000ms)) << quorpack->err();
  ASSERT_TRUE(Send("tray\tclick_quit\t\n"));
  RunResult run = quorpack->Finish(5000ms);
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.err, Alert("ready") + Alert("quit from tray []"));
  EXPECT_FALSE(home_.Exists("Temp/events"));  // the program removes the pipe it made
}

TEST_F(FifoRunner, OfTwoQuickEventsTheScriptSeesOnlyTheSecond) {
  home_.WriteScript("w.qvr",
                    "<main>\nalert ready\nsuspend\n"
                    "<on_win_click>\nalert got [#window_value]\nexit\n");
  home_.WriteBoot("a^w.qvr^\n");
  auto quorpack = home_.Start();
  ASSERT_TRUE(quorpack->WaitForErr(Alert("ready"), 5000ms)) << quorpack->err();
  ASSERT_TRUE(Send("win\tclick\tfirst\nwin\tclick\tsecond\n"));
  RunResult run = quorpack->Finish(5000ms);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_NE(run.err.find(Alert("got second")), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find("first"), std::string::npos) << run.err;
}

TEST_F(FifoRunner, EventWithoutHandlerLeavesTheScriptWaiting) {
  home_.WriteScript("w.qvr",
                    "<main>\nalert ready\nsuspend\n"
                    "<on_tray_click_quit>\nalert quit\nexit\n");
  home_.WriteBoot("a^w.qvr^\n");
  auto quorpack = home_.Start();
  ASSERT_TRUE(quorpack->WaitForErr(Alert("ready"), 5000ms)) << quorpack->err();
  ASSERT_TRUE(Send("tray\tclick\t\nsystem\thotkey\t\n"));
  EXPECT_FALSE(quorpack->WaitForErr("quit", 500ms));
  EXPECT_FALSE(quorpack->exited());
  ASSERT_TRUE(Send("tray\tclick_quit\t\n"));
  RunResult run = quorpack->Finish(5000ms);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.err, Alert("ready") + Alert("quit"));
}

// An event does not cut a prompt short: its handler runs once the answer is
// in, on top of the rest of the script.
TEST_F(FifoRunner, EventDuringPromptWaitsForTheAnswer) {
  home_.WriteScript("w.qvr",
                    "<main>\nprompt name?\nalert answer [#input]\nexit\n"
                    "<on_tray_click>\nalert handler [#input]\nreturn\n");
  home_.WriteBoot("a^w.qvr^\n");
  auto quorpack = home_.Start("", true);
  ASSERT_TRUE(quorpack->WaitForErr("name?\n", 5000ms)) << quorpack->err();
  ASSERT_TRUE(Send("tray\tclick\t\n"));
  EXPECT_FALSE(quorpack->WaitForErr("提示窗口", 400ms)) << quorpack->err();
  quorpack->WriteInput("Ann\n");
  RunResult run = quorpack->Finish(5000ms);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.err, "请输入..: name?\n" + Alert("handler Ann") + Alert("answer Ann"));
}

TEST(Runner, StopSignalsEndALongPausePromptly) {
  for (int sig : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(sig);
    HomeFixture home;
    UseUtf8(home);
    home.WriteScript("long.qvr", "<main>\nalert ready\npause 60000\nalert not reached\n");
    home.WriteScript("idle.qvr", "<main>\nsuspend\n");
    home.WriteBoot("a^long.qvr^\nb^idle.qvr^\n");
    auto quorpack = home.Start();
    ASSERT_TRUE(quorpack->WaitForErr(Alert("ready"), 5000ms)) << quorpack->err();
    auto start = std::chrono::steady_clock::now();
    quorpack->Signal(sig);
    RunResult run = quorpack->Finish(5000ms);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.err, Alert("ready"));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
  }
}

TEST(Runner, StopSignalEndsAScriptWaitingForItsAnswer) {
  HomeFixture home;
  UseUtf8(home);
  home.WriteScript("p.qvr", "<main>\nprompt q\nalert got [#input]\n");
  home.WriteBoot("a^p.qvr^\n");
  auto quorpack = home.Start("", true);
  ASSERT_TRUE(quorpack->WaitForErr("q\n", 5000ms)) << quorpack->err();
  RunResult run = quorpack->Stop(SIGTERM, 5000ms);
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.err.find("got"), std::string::npos) << run.err;
}

}  // namespace
}  // namespace qp::testing

namespace qp::testing {
namespace {

// A server on 127.0.0.1 that accepts connections (the kernel does) and never
// answers, so a script's request blocks in its read.
class SilentServer {
 public:
  SilentServer() {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(fd_, reinterpret_cast<sockaddr*>(&address), length) == 0 && listen(fd_, 8) == 0 &&
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0)
      port_ = ntohs(address.sin_port);
  }
  ~SilentServer() { close(fd_); }
  int port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
};

// A script that cannot take its stop message within the wait: the program
// names it and ends anyway, with exit code 1.
TEST(Runner, ScriptThatDoesNotStopInTimeIsNamedAndTheProgramEnds) {
  SilentServer server;
  ASSERT_NE(server.port(), 0);
  HomeFixture home;
  UseUtf8(home);
  home.WriteScript("g.qvr", "<main>\nalert ready\nget http://127.0.0.1:" +
                                std::to_string(server.port()) + "/\nalert got\n");
  home.WriteScript("p.qvr", "<main>\npause 60000\n");
  home.WriteBoot("a^p.qvr^\nb^g.qvr^\n");
  auto quorpack = home.Start();
  ASSERT_TRUE(quorpack->WaitForErr(Alert("ready"), 5000ms)) << quorpack->err();
  std::this_thread::sleep_for(200ms);  // let the request reach its read
  RunResult run = quorpack->Stop(SIGTERM, 12000ms);
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("quorpack: script 2 (" + home.Path("Script/g.qvr") +
                         ") did not stop within 6000 ms"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(run.err.find("script 1"), std::string::npos) << run.err;
  EXPECT_GE(run.stopTook, 5500ms);
  EXPECT_LT(run.stopTook, 9000ms);
}

}  // namespace
}  // namespace qp::testing
