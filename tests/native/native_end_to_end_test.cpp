// `js`, `loaddll`, "~" calls and `unloaddll` through the real quorpack.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "app/home_fixture.h"

namespace qp::testing {
namespace {

// A UTF-8 home whose only script is `script`.
void PrepareHome(const HomeFixture& home, const std::string& script) {
  home.Write("Config.ini", "[setting]\r\ncodepage=utf-8\r\n");
  home.WriteBoot("x^calls.qvr^\n");
  home.WriteScript("calls.qvr", "<main>\nloaddll util " + std::string(QP_NATIVE_TESTLIB) + "\n" + script);
}

// Runs the home to a clean end; the text the script left in Temp/result.txt.
std::string RunForResult(const HomeFixture& home) {
  RunResult run = home.Run();
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.err, "");
  return home.Read("Temp/result.txt");
}

// The console shows the report's CR LF as a plain line end.
std::string Alert(const std::string& command, const std::string& reason) {
  return "提示窗口: 出错：\"" + command + "\"\n原因：" + reason + "\n";
}

TEST(NativeEndToEnd, ScriptUsesJavaScriptAndNativeCalls) {
  HomeFixture home;
  PrepareHome(home,
              "js 1+2\n"
              "var [#a] [#return] [#status]\n"
              "js this is not javascript\n"
              "var [#b] [#return] [#status]\n"
              "var [#sum] [~(int)util.add<<<(int)2<<<(int)40]\n"
              "var [#hi] [~util.greeting]\n"
              "var [#w] [~(bstr)util.wide_text]\n"
              "js '[#w]'.length + ':' + [#sum] * 2\n"
              "var [#d] [#return]\n"
              "unloaddll util\n"
              "eval [@writefile<<<[@userpath]/Temp/result.txt<<<"
              "a=[#a];b=[#b];sum=[#sum];hi=[#hi];w=[#w];d=[#d]<<<w]\n");
  EXPECT_EQ(RunForResult(home), "a=3 1;b=3 0;sum=42;hi=hello;w=中文A;d=3:84");
}

TEST(NativeEndToEnd, EndlessJavaScriptFailsAndTheScriptGoesOn) {
  HomeFixture home;
  PrepareHome(home,
              "var [#return] before\n"
              "js for (;;) {}\n"
              "eval [@writefile<<<[@userpath]/Temp/result.txt<<<[#return] [#status]<<<w]\n");
  const auto start = std::chrono::steady_clock::now();
  RunResult run = home.Run({}, std::chrono::milliseconds(30000));
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(home.Read("Temp/result.txt"), "before 0");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

TEST(NativeEndToEnd, CallsAfterUnloadAndUnknownUnloadsAreReported) {
  const struct {
    const char* name;
    const char* script;
    std::string err;
  } cases[] = {
      {"unknown unload", "unloaddll nope\n",
       Alert("UNLOADDLL nope", "释放了未定义的DLL．")},
      {"call after unload",
       "unloaddll util\nvar [#x] [~util.greeting]\nvar [#never] reached\n",
       Alert("util.greeting", "util DLL文件不存在．")},
      {"missing function", "var [#x] [~(int)util.absent<<<(int)1]\n",
       Alert("(int)util.absent<<<(int)1", "util.absent DLL中不存在该函数名．")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    HomeFixture home;
    PrepareHome(home, std::string(c.script) +
                          "eval [@writefile<<<[@userpath]/Temp/after.txt<<<ran on<<<w]\n");
    RunResult run = home.Run();
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.err, c.err);
    EXPECT_FALSE(home.Exists("Temp/after.txt"));  // the error report ended the run
  }
}

// A value's "<<<" is part of one argument; the script's own "<<<" separate.
// A library whose file name is Chinese loads from a GBK path.
TEST(NativeEndToEnd, InsertedSeparatorsStayInOneArgumentAndGbkPathsLoad) {
  HomeFixture home;
  std::filesystem::copy_file(QP_NATIVE_TESTLIB, home.Path("Temp/\xE4\xB8\xAD.so"));
  home.WriteBoot("x^calls.qvr^\n");
  home.WriteScript("calls.qvr",
                   "loaddll zh [@userpath]\\Temp\\\xD6\xD0.so\n"
                   "var [#page] a<<<bc\n"
                   "var [#n] [~(int)zh.length<<<[#page]]\n"
                   "var [#m] [~(int)zh.length<<<x[#page]y]\n"
                   "eval [@writefile<<<[@userpath]/Temp/result.txt<<<n=[#n];m=[#m]<<<w]\n");
  EXPECT_EQ(RunForResult(home), "n=6;m=8");
}

}  // namespace
}  // namespace qp::testing
