// qvrc --check and --lines on the command line: output form, exit codes,
// home folders given as arguments.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "support/run_shell.h"

namespace {

using qp::testing::RunShell;
using qp::testing::ShellOutput;

ShellOutput Qvrc(const std::string& arguments) {
  return RunShell(QP_BINARY_DIR "/src/qvrc " + arguments + " 2>&1");
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
  ShellOutput ok = Qvrc("--check " + clean);
  EXPECT_EQ(ok.exitCode, 0);
  EXPECT_EQ(ok.out, "");
  std::string warned = Write("Script/warned.qvr", "note a\n  b\n");
  ShellOutput warning = Qvrc("--check " + warned);
  EXPECT_EQ(warning.exitCode, 0);
  EXPECT_EQ(warning.out, warned + ":2: warning: line joined to the operand of \"note\" on line 1: b\n");
  std::string bad = Write("Script/bad.qvr", "}\n");
  ShellOutput error = Qvrc("--check " + clean + " " + bad);
  EXPECT_EQ(error.exitCode, 1);
  EXPECT_EQ(error.out, bad + ":1: error: \"}\" without its \"{\"\n");
}

TEST_F(QvrcCheck, IncludesComeFromTheFolderAboveScriptOrFromHome) {
  Write("Script/lib/x.qvr", "<x>\nreturn\n");
  std::string main = Write("Script/main.qvr", "using lib.x\ncall <x>\n");
  EXPECT_EQ(Qvrc("--check " + main).exitCode, 0);
  std::string outside = Write("main.qvr", "using lib.x\ncall <x>\n");
  EXPECT_EQ(Qvrc("--check " + outside).exitCode, 1);
  EXPECT_EQ(Qvrc("--home " + home_ + " --check " + outside).exitCode, 0);
}

TEST_F(QvrcCheck, AHomeFolderChecksTheScriptsOfItsBootFile) {
  Write("Quorvant.boot", "a^one.qvr^\nnot a boot line\nb^gone.qvr^x\n");
  Write("Script/one.qvr", "goto <nowhere>\n");
  ShellOutput result = Qvrc("--check " + home_ + "/");
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.out, home_ + "/Quorvant.boot:3: error: the script " + home_ +
                            "/Script/gone.qvr does not exist\n" + home_ +
                            "/Script/one.qvr:1: error: \"goto <nowhere>\": no file defines the label <nowhere>\n");
}

TEST_F(QvrcCheck, UnreadableFileAndUsageErrors) {
  ShellOutput missing = Qvrc("--check " + home_ + "/Script/none.qvr");
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_EQ(missing.out, home_ + "/Script/none.qvr:0: error: cannot read the file\n");
  EXPECT_EQ(Qvrc("--check").exitCode, 2);
  EXPECT_EQ(Qvrc("--check --match x " + home_).exitCode, 2);
  EXPECT_EQ(Qvrc("a.qvr b.qvr").exitCode, 2);
}

TEST_F(QvrcCheck, LinesAddsTheFileAndLineOfEachInstruction) {
  Write("Script/lib/x.qvr", "// x\nnote x\n");
  std::string main = Write("Script/main.qvr", "using lib.x\n\nnote a\n  b\n");
  ShellOutput result = Qvrc("--home " + home_ + " --lines " + main);
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.out, "0\t15\tnote\tx\t" + home_ + "/Script/lib/x.qvr:2\n" +
                            "1\t15\tnote\ta\\nb\t" + main + ":3\n" +
                            "2\t22\texit\t\t" + main + ":5\n");
}

}  // namespace

namespace {

// An include fan-out (each level includes the next twice, 40 levels): the
// checker and the listing both end, and each says once that includes were
// left out.
TEST_F(QvrcCheck, IncludeFanOutIsCappedAndSaidOnce) {
  constexpr int kDepth = 40;
  for (int i = 0; i < kDepth; ++i) {
    std::string next = "using lib.f" + std::to_string(i + 1) + "\n";
    Write("Script/lib/f" + std::to_string(i) + ".qvr", "note " + std::to_string(i) + "\n" + next + next);
  }
  Write("Script/lib/f" + std::to_string(kDepth) + ".qvr", "note leaf\n");
  std::string root = Write("Script/fan.qvr", "using lib.f0\nnote end\n");

  ShellOutput check = Qvrc("--check " + root);
  EXPECT_EQ(check.exitCode, 0);
  // Includes are read depth first: the 1001st is the second line of a f39.
  EXPECT_EQ(check.out, home_ + "/Script/lib/f39.qvr:3: warning: using: more than 1000 files "
                               "included; this include and every later one are skipped\n");

  ShellOutput listing = Qvrc("--home " + home_ + " " + root);
  EXPECT_EQ(listing.exitCode, 0);
  const std::string said = "qvrc: " + root + ": more than 1000 files included; ";
  size_t at = listing.out.find(said);
  ASSERT_NE(at, std::string::npos) << listing.out.substr(0, 400);
  EXPECT_EQ(listing.out.find(said, at + 1), std::string::npos);
  // 1000 included notes, the root's note and the exit, then no labels.
  EXPECT_NE(listing.out.find("1001\t22\texit\t\n"), std::string::npos);
  EXPECT_EQ(listing.out.find("1002\t"), std::string::npos);
}

}  // namespace
