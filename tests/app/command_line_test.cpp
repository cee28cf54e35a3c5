// quorpack's command-line options, qvrc --init followed by quorpack --home,
// and the trace of what a script runs, on the real programs.
#include <gtest/gtest.h>

#include <string>

#include "app/home_fixture.h"
#include "support/run_shell.h"

namespace qp::testing {
namespace {

// quorpack with the given arguments, without a display and with no home or
// trace from the environment the tests run in.
std::string Quorpack(const std::string& arguments) {
  return "env -u DISPLAY -u WAYLAND_DISPLAY -u QUORPACK_HOME -u QUORPACK_TRACE " + QuorpackBinary() +
         " " + arguments;
}
std::string Qvrc(const std::string& arguments) { return QP_BINARY_DIR "/src/qvrc " + arguments; }

TEST(CommandLine, HelpAndVersionAnswerWithoutRunningScripts) {
  ShellOutput help = RunShell(Quorpack("--help 2>&1"));
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_EQ(help.out.rfind("usage: quorpack [--home DIR]\n", 0), 0u) << help.out;
  ShellOutput version = RunShell(Quorpack("--version 2>&1"));
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out, "quorpack " QP_VERSION "\n");
  EXPECT_EQ(RunShell(Qvrc("--version")).out, "qvrc " QP_VERSION "\n");
}

TEST(CommandLine, UnknownOptionsAndArgumentsAreErrorsWithTheUsage) {
  const char* bad[] = {"--bogus", "script.qvr", "--home", "--home ''", "-x --help"};
  for (const char* arguments : bad) {
    SCOPED_TRACE(arguments);
    ShellOutput run = RunShell(Quorpack(std::string(arguments) + " 2>&1 >/dev/null"));
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.out.find("usage: quorpack"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.rfind("quorpack: unknown option or argument", 0), 0u) << run.out;
  }
}

TEST(CommandLine, HomeOptionActsAsTheEnvironmentVariable) {
  HomeFixture home;
  home.Write("Config.ini", "[setting]\r\ncodepage=utf-8\r\n");
  home.WriteScript("s.qvr", "alert home [@userpath]\n");
  home.WriteBoot("a^s.qvr^\n");
  ShellOutput run = RunShell(Quorpack("--home " + home.dir() + " 2>&1"));
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out, "提示窗口: home " + home.dir() + "\n");
  // Without an argument the environment still names the home, as before.
  ShellOutput plain = RunShell("env -u DISPLAY -u WAYLAND_DISPLAY QUORPACK_HOME=" + home.dir() + " " +
                         QuorpackBinary() + " 2>&1");
  EXPECT_EQ(plain.exitCode, 0);
  EXPECT_EQ(plain.out, run.out);
}

TEST(CommandLine, InitMakesAHomeThatRuns) {
  HomeFixture scratch;
  const std::string dir = scratch.Path("new-home");
  ShellOutput init = RunShell(Qvrc("--init " + dir));
  ASSERT_EQ(init.exitCode, 0) << init.out;
  for (const char* file : {"Config.ini", "Quorvant.boot", "Script/hello.qvr"})
    EXPECT_TRUE(scratch.Exists(std::string("new-home/") + file)) << file;
  EXPECT_TRUE(std::filesystem::is_directory(dir + "/Temp"));
  // Every setting appears, commented where it is only an example.
  const std::string config = scratch.Read("new-home/Config.ini");
  for (const char* key : {";appname=", ";hotkey=", ";homepage=", "codepage=utf-8", ";ui=",
                          ";eventfifo=", ";tlsverify=",
                          ";requesttimeout=", ";bodylimit=", ";trace=", ";jet=", ";sqloledb="})
    EXPECT_NE(config.find(key), std::string::npos) << key;
  ShellOutput run = RunShell(Quorpack("--home " + dir + " 2>&1"));
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out, "提示窗口: hello, world!\n");
  // The new home is clean for the checker too.
  ShellOutput check = RunShell(Qvrc("--check " + dir));
  EXPECT_EQ(check.exitCode, 0);
  EXPECT_EQ(check.out, "");
  // A second --init keeps what is there.
  scratch.Write("new-home/Script/hello.qvr", "alert mine\n");
  EXPECT_EQ(RunShell(Qvrc("--init " + dir)).exitCode, 0);
  EXPECT_EQ(scratch.Read("new-home/Script/hello.qvr"), "alert mine\n");
}

TEST(Trace, EveryInstructionWithFileLineKeywordAndSubstitutedOperand) {
  HomeFixture home;
  home.Write("Config.ini", "[setting]\r\ncodepage=utf-8\r\ntrace=1\r\n");
  home.WriteScript("lib/x.qvr", "<sub>\nvar [#n] ([#n]+1)\nreturn\n");
  home.WriteScript("t.qvr",
                   "using lib.x\n<main>\nvar [#n] 5\ncall <sub>\nregex p {[a-z]+}\n"
                   "eval [@len<<<[#n]] [#n]\n  next line\n");
  home.WriteBoot("a^t.qvr^\n");
  RunResult run = home.Run();
  EXPECT_EQ(run.exitCode, 0);
  const std::string t = home.Path("Script/t.qvr"), x = home.Path("Script/lib/x.qvr");
  EXPECT_EQ(run.err, "1 " + t + ":3 var [#n] 5\n" +
                         "1 " + t + ":4 call <sub>\n" +
                         "1 " + x + ":2 var [#n] (5+1)\n" +
                         "1 " + x + ":3 return\n" +
                         "1 " + t + ":5 regex p {[a-z]+}\n" +
                         "1 " + t + ":6 eval [@len<<<6] 6\\nnext line\n" +
                         "1 " + t + ":8 exit\n");
}

TEST(Trace, EnvironmentSwitchesItAndLongOperandsAreCutInUtf8) {
  HomeFixture home;
  home.Write("Config.ini", "[setting]\r\ncodepage=utf-8\r\ntrace=1\r\n");
  std::string wide;
  for (int k = 0; k < 100; ++k) wide += "é";  // two bytes each
  home.WriteScript("t.qvr", "eval a" + wide + "\n");
  home.WriteBoot("a^t.qvr^\n");
  ShellOutput off = RunShell("env QUORPACK_TRACE=0 QUORPACK_HOME=" + home.dir() + " " + QuorpackBinary() + " 2>&1");
  EXPECT_EQ(off.out, "");
  home.Write("Config.ini", "[setting]\r\ncodepage=utf-8\r\n");
  ShellOutput on = RunShell("env QUORPACK_TRACE=1 QUORPACK_HOME=" + home.dir() + " " + QuorpackBinary() + " 2>&1");
  const std::string prefix = "1 " + home.Path("Script/t.qvr") + ":1 eval ";
  ASSERT_EQ(on.out.rfind(prefix, 0), 0u) << on.out;
  std::string operand = on.out.substr(prefix.size(), on.out.find('\n') - prefix.size());
  EXPECT_EQ(operand, "a" + wide.substr(0, 198));  // 199 bytes: the next "é" would pass 200
}

// In a GBK home whose folder name is Chinese, the file name (a file-system
// name) and the operand (GBK) both reach the trace as UTF-8.
TEST(Trace, GbkHomeInAChineseFolderShowsFileAndOperandInUtf8) {
  HomeFixture base;
  const std::string folder = "\xE7\x94\xA8\xE6\x88\xB7";  // 用户
  base.Write(folder + "/Config.ini", "[setting]\r\ntrace=1\r\n");
  base.Write(folder + "/Temp/.keep", "");
  base.Write(folder + "/Script/t.qvr", "var [#x] \xD6\xD0\n");  // 中 in GBK
  base.Write(folder + "/Quorvant.boot", "a^t.qvr^\n");
  ShellOutput run = RunShell(Quorpack("--home " + base.Path(folder) + " 2>&1"));
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out, "1 " + base.Path(folder) + "/Script/t.qvr:1 var [#x] \xE4\xB8\xAD\n" +
                         "1 " + base.Path(folder) + "/Script/t.qvr:2 exit\n");
}

TEST(Trace, EventsTakenAreTraced) {
  HomeFixture home;
  home.Write("Config.ini", "[setting]\r\ncodepage=utf-8\r\ntrace=1\r\neventfifo=Temp/events\r\n");
  home.WriteScript("w.qvr", "<main>\nsuspend\n<on_tray_click_quit>\nexit\n");
  home.WriteBoot("a^w.qvr^\n");
  auto quorpack = home.Start();
  ASSERT_TRUE(quorpack->WaitForErr(":2 suspend\n", 5000ms)) << quorpack->err();
  int fd = -1;
  for (int k = 0; k < 50 && fd < 0; ++k) {  // the pipe exists once the program has started
    fd = open(home.Path("Temp/events").c_str(), O_WRONLY | O_NONBLOCK);
    if (fd < 0) std::this_thread::sleep_for(100ms);
  }
  ASSERT_GE(fd, 0);
  const std::string event = "tray\tclick_quit\t\n";
  EXPECT_EQ(write(fd, event.data(), event.size()), static_cast<ssize_t>(event.size()));
  close(fd);
  RunResult run = quorpack->Finish(5000ms);
  EXPECT_EQ(run.exitCode, 0);
  const std::string w = home.Path("Script/w.qvr");
  EXPECT_EQ(run.err, "1 " + w + ":2 suspend\n1 event <on_tray_click_quit>\n1 " + w + ":4 exit\n");
}

}  // namespace
}  // namespace qp::testing
