#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "support/run_shell.h"

namespace {

using qp::testing::RunShell;
using qp::testing::ShellOutput;

ShellOutput RunQvrc(const std::string& arguments) {
  return RunShell(std::string(QP_BINARY_DIR) + "/src/qvrc " + arguments + " 2>/dev/null");
}

class QvrcTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("qp-qvrc-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    std::filesystem::create_directories(dir_ / "Script");
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string Write(const std::string& name, const std::string& text) {
    std::ofstream(dir_ / name, std::ios::binary) << text;
    return (dir_ / name).string();
  }
  std::filesystem::path dir_;
};

TEST_F(QvrcTest, ListsTheNineLineExample) {
  std::string file = Write("nine.qvr", "<main>\nif 1\n{\nnote yes\n}\nelse\n{\nnote no\n}\n");
  ShellOutput result = RunQvrc(file);
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.out,
            "0\t1\tif\t1\n1\t24\t{\t\n2\t15\tnote\tyes\n3\t25\t}\t\n4\t2\telse\t\n"
            "5\t24\t{\t\n6\t15\tnote\tno\n7\t25\t}\t\n8\t22\texit\t\nlabel\t<main>\t0\n");
}

TEST_F(QvrcTest, EscapesOperandsAndResolvesIncludesFromHome) {
  Write("Script/inc.qvr", "<inc>\n");
  std::string file =
      Write("x.qvr", "eval a\\b\tc \r\r\n  next line\nusing inc\n");
  ShellOutput result = RunQvrc("--home " + dir_.string() + " " + file);
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.out,
            "0\t4\teval\ta\\\\b\\tc \\r\\nnext line\n1\t22\texit\t\nlabel\t<inc>\t1\n");
}

TEST_F(QvrcTest, UnreadableFileExitsWithStatusTwo) {
  ShellOutput result = RunQvrc((dir_ / "missing.qvr").string());
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_EQ(result.out, "");
}

// A folder, a device or a missing file is no script: exit status 2, nothing
// listed, and an include that is a folder is an empty include.
TEST_F(QvrcTest, FoldersAndDevicesAreFilesThatCannotBeRead) {
  std::filesystem::create_directories(dir_ / "Script" / "lib.qvr");
  for (const std::string& path : {dir_.string(), std::string("/dev/null/x"),
                                  (dir_ / "missing.qvr").string(), std::string("/dev/zero")}) {
    ShellOutput result = RunQvrc(path);
    EXPECT_EQ(result.exitCode, 2) << path;
    EXPECT_EQ(result.out, "") << path;
    EXPECT_EQ(RunQvrc("--match a " + path).exitCode, 2) << path;
  }
  std::string file = Write("uses.qvr", "using lib\nnote after\n");
  ShellOutput result = RunQvrc("--home " + dir_.string() + " " + file);
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.out.find("note\tafter"), result.out.find("note"));
  EXPECT_NE(result.out.find("note\tafter"), std::string::npos) << result.out;
}

}  // namespace
