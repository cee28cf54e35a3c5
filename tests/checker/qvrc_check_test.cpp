// qvrc --check and --lines on the command line: output form, exit codes,
// home folders given as arguments.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

struct Output {
  std::string out;
  int status = -1;
};

Output Qvrc(const std::string& arguments) {
  std::string command = "timeout 20 " QP_BINARY_DIR "/src/qvrc " + arguments + " 2>&1";
  Output result;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return result;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) result.out.append(buffer, n);
  int status = pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

class QvrcCheck : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "qp-qvrc-check-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    home_ = pattern;
    std::filesystem::create_directories(home_ + "/Script/lib");
  }
  void TearDown() override { std::filesystem::remove_all(home_); }
  std::string Write(const std::string& relative, const std::string& text) {
    std::ofstream(home_ + "/" + relative, std::ios::binary) << text;
    return home_ + "/" + relative;
  }
  std::string home_;
};

TEST_F(QvrcCheck, ErrorsExitOneWarningsZeroCleanPrintsNothing) {
  std::string clean = Write("Script/clean.qvr", "<main>\nvar [#a] 1\nalert [#a]\n");
  Output ok = Qvrc("--check " + clean);
  EXPECT_EQ(ok.status, 0);
  EXPECT_EQ(ok.out, "");
  std::string warned = Write("Script/warned.qvr", "note a\n  b\n");
  Output warning = Qvrc("--check " + warned);
  EXPECT_EQ(warning.status, 0);
  EXPECT_EQ(warning.out, warned + ":2: warning: line joined to the operand of \"note\" on line 1: b\n");
  std::string bad = Write("Script/bad.qvr", "}\n");
  Output error = Qvrc("--check " + clean + " " + bad);
  EXPECT_EQ(error.status, 1);
  EXPECT_EQ(error.out, bad + ":1: error: \"}\" without its \"{\"\n");
}

TEST_F(QvrcCheck, IncludesComeFromTheFolderAboveScriptOrFromHome) {
  Write("Script/lib/x.qvr", "<x>\nreturn\n");
  std::string main = Write("Script/main.qvr", "using lib.x\ncall <x>\n");
  EXPECT_EQ(Qvrc("--check " + main).status, 0);
  std::string outside = Write("main.qvr", "using lib.x\ncall <x>\n");
  EXPECT_EQ(Qvrc("--check " + outside).status, 1);
  EXPECT_EQ(Qvrc("--home " + home_ + " --check " + outside).status, 0);
}

TEST_F(QvrcCheck, AHomeFolderChecksTheScriptsOfItsBootFile) {
  Write("Quorvant.boot", "a^one.qvr^\nnot a boot line\nb^gone.qvr^x\n");
  Write("Script/one.qvr", "goto <nowhere>\n");
  Output result = Qvrc("--check " + home_ + "/");
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, home_ + "/Quorvant.boot:3: error: the script " + home_ +
                            "/Script/gone.qvr does not exist\n" + home_ +
                            "/Script/one.qvr:1: error: \"goto <nowhere>\": no file defines the label <nowhere>\n");
}

TEST_F(QvrcCheck, UnreadableFileAndUsageErrors) {
  Output missing = Qvrc("--check " + home_ + "/Script/none.qvr");
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.out, home_ + "/Script/none.qvr:0: error: cannot read the file\n");
  EXPECT_EQ(Qvrc("--check").status, 2);
  EXPECT_EQ(Qvrc("--check --match x " + home_).status, 2);
  EXPECT_EQ(Qvrc("a.qvr b.qvr").status, 2);
}

TEST_F(QvrcCheck, LinesAddsTheFileAndLineOfEachInstruction) {
  Write("Script/lib/x.qvr", "// x\nnote x\n");
  std::string main = Write("Script/main.qvr", "using lib.x\n\nnote a\n  b\n");
  Output result = Qvrc("--home " + home_ + " --lines " + main);
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(result.out, "0\t15\tnote\tx\t" + home_ + "/Script/lib/x.qvr:2\n" +
                            "1\t15\tnote\ta\\nb\t" + main + ":3\n" +
                            "2\t22\texit\t\t" + main + ":5\n");
}

}  // namespace
