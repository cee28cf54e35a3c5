// File names and folders end to end: homes named with Chinese characters in
// a GBK and a UTF-8 home, and every path that names a folder where a file is
// expected, with the real program.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "app/home_fixture.h"

namespace qp::testing {
namespace {

const std::string kZhongUtf8 = "\xE4\xB8\xAD";  // 中
const std::string kZhongGbk = "\xD6\xD0";

std::string Alert(const std::string& text) { return "提示窗口: " + text + "\n"; }

RunResult RunIn(const std::string& dir) {
  QuorpackProcess process(dir, std::string(), false);
  return process.Finish(std::chrono::milliseconds(15000));
}

struct HomeCase {
  const char* name;
  bool utf8;
  std::string zhong;  // 中 as the home's scripts write it
};

// The home folder is "<tmp>/用户中" on disk (UTF-8); the scripts see it in
// their code page, write through it with "\" separators, and a boot line and
// an include name files whose names are Chinese.
TEST(Paths, ChineseHomeFolderInGbkAndUtf8Homes) {
  const HomeCase cases[] = {{"GBK home", false, kZhongGbk}, {"UTF-8 home", true, kZhongUtf8}};
  for (const HomeCase& c : cases) {
    SCOPED_TRACE(c.name);
    HomeFixture base;
    const std::string folder = "\xE7\x94\xA8\xE6\x88\xB7" + kZhongUtf8;  // 用户中
    const std::string dir = base.Path(folder);
    base.Write(folder + "/Temp/.keep", "");
    if (c.utf8) base.Write(folder + "/Config.ini", "[setting]\r\ncodepage=utf-8\r\n");
    base.Write(folder + "/Script/" + kZhongUtf8 + ".qvr",
               "using lib." + c.zhong + "\n"
               "alert home [@userpath]\n"
               "alert source [#source]\n"
               "alert len [@len<<<[@userpath]]\n"
               "alert written [@writefile<<<[@userpath]\\Temp\\" + c.zhong + ".txt<<<hi<<<w]\n"
               "alert read [@readfile<<<[@userpath]\\Temp\\" + c.zhong + ".txt<<<1]\n"
               "alert [#included]\n");
    base.Write(folder + "/Script/lib/" + kZhongUtf8 + ".qvr", "var [#included] included\n");
    base.Write(folder + "/Quorvant.boot", "x^" + c.zhong + ".qvr^\n");
    RunResult run = RunIn(dir);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(run.err.find(Alert("home " + dir)), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(Alert("source " + dir + "/Script/" + kZhongUtf8 + ".qvr")),
              std::string::npos)
        << run.err;
    // The length counts the code page's bytes: 2 per Chinese character in GBK.
    const size_t chinese = 3;
    const size_t length = dir.size() - (c.utf8 ? 0 : chinese);
    EXPECT_NE(run.err.find(Alert("len " + std::to_string(length))), std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find(Alert("written 1")), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(Alert("read hi")), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(Alert("included")), std::string::npos) << run.err;
    EXPECT_EQ(base.Read(folder + "/Temp/" + kZhongUtf8 + ".txt"), "hi");
    EXPECT_EQ(run.err.find("quorpack:"), std::string::npos) << run.err;
  }
}

// A folder where a file is expected is a file that cannot be opened: the
// script concerned ends or reads nothing, and every other script runs.
TEST(Paths, FoldersWhereFilesAreExpectedNeverEndTheProgram) {
  HomeFixture home;
  std::filesystem::create_directories(home.Path("Script/p"));
  std::filesystem::create_directories(home.Path("Script/sub"));
  std::filesystem::create_directories(home.Path("Script/lib.qvr"));
  std::filesystem::create_directories(home.Path("Temp/folder"));
  home.WriteScript("uses.qvr", "using lib\nalert uses ran\n");
  home.WriteScript("reads.qvr",
                   "alert read [[@readfile<<<[@userpath]\\Temp\\folder]] "
                   "[@readfile<<<[@userpath]/Temp/folder<<<0] "
                   "[@writefile<<<[@userpath]/Temp/folder<<<x]\n");
  home.WriteScript("ok.qvr", "alert ok [#param]\n");
  home.WriteBoot("x^p^\nx^sub^\nx^uses.qvr^\nx^reads.qvr^\nx^ok.qvr^last\n");
  RunResult run = home.Run();
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.signal, 0);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.err.find("terminate"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find(Alert("uses ran")), std::string::npos) << run.err;
  EXPECT_NE(run.err.find(Alert("read [] 0 0")), std::string::npos) << run.err;
  EXPECT_NE(run.err.find(Alert("ok last")), std::string::npos) << run.err;
}

TEST(Paths, BootFileThatIsAFolderIsABootFileThatCannotBeOpened) {
  HomeFixture home;
  std::filesystem::create_directories(home.Path("Quorvant.boot"));
  std::filesystem::create_directories(home.Path("Config.ini"));
  RunResult run = home.Run();
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.err, "提示窗口: 启动文件(Quorvant.boot)无法打开或者格式无效!\n");
}

}  // namespace
}  // namespace qp::testing
