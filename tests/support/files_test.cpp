// File names between the code page and the file system, and the one reader
// of whole files.
#include "support/files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "support/code_page_guard.h"
#include "support/codepage.h"
#include "support/settings.h"

namespace qp {
namespace {

const std::string kZhongUtf8 = "\xE4\xB8\xAD";  // 中
const std::string kZhongGbk = "\xD6\xD0";

class FileNamesTest : public ::testing::Test {
 protected:
  CodePageGuard restore{kCodePageGbk};
};

TEST_F(FileNamesTest, GbkPathsBecomeUtf8Names) {
  SetActiveCodePage(kCodePageGbk);
  EXPECT_EQ(FileSystemPath("Temp\\" + kZhongGbk + ".txt"), "Temp/" + kZhongUtf8 + ".txt");
  // A GBK character whose trail byte is "\" stays one character.
  EXPECT_EQ(FileSystemPath("a\\\x81\x5C.txt"),
            "a/" + ConvertCodePage("\x81\x5C", kCodePageGbk, kCodePageUtf8) + ".txt");
  EXPECT_EQ(ScriptPath("/home/" + kZhongUtf8), "/home/" + kZhongGbk);
}

TEST_F(FileNamesTest, Utf8HomeKeepsTheBytes) {
  SetActiveCodePage(kCodePageUtf8);
  EXPECT_EQ(FileSystemPath("Temp\\" + kZhongUtf8), "Temp/" + kZhongUtf8);
  EXPECT_EQ(ScriptPath("/home/" + kZhongUtf8 + "/\x85"), "/home/" + kZhongUtf8 + "/\x85");
}

TEST_F(FileNamesTest, NamesTheCodePageCannotHoldAreReportedOnce) {
  SetActiveCodePage(kCodePageGbk);
  // Korean Hangul has no GBK form.
  const std::string hangul = "/home/\xED\x95\x9C";
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(ScriptPath(hangul), "/home/?");
  EXPECT_EQ(ScriptPath(hangul), "/home/?");
  std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("GBK cannot hold"), std::string::npos) << err;
  EXPECT_EQ(err.find("GBK cannot hold"), err.rfind("GBK cannot hold")) << "reported twice";
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(FileSystemPath("x\xFF.txt"), "x?.txt");
  err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("no GBK text"), std::string::npos) << err;
}

// Regression (fuzzing): a NUL byte would end the name early for the system,
// which would then reach another file; it becomes "?" like any byte that
// names no file, and is reported.
TEST_F(FileNamesTest, NulBytesNameNoFile) {
  for (int page : {kCodePageGbk, kCodePageUtf8}) {
    SetActiveCodePage(page);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(FileSystemPath(std::string("Temp\\a") + '\0' + "b.txt"), "Temp/a?b.txt");
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(page == kCodePageUtf8 || err.find("NUL byte") != std::string::npos) << err;
  }
}

// Regression (fuzzing): every distinct name reported was remembered for the
// life of the process, so a script (or a fuzzer) making ever new bad names
// grew the table without end. Past 1000 names one line says so, and no more.
TEST_F(FileNamesTest, ReportsStopAfterAThousandNames) {
  SetActiveCodePage(kCodePageGbk);
  ::testing::internal::CaptureStderr();
  for (int i = 0; i < 1100; ++i) FileSystemPath("bad\xFF" + std::to_string(i));
  const std::string err = ::testing::internal::GetCapturedStderr();
  size_t reports = 0;
  for (size_t at = err.find("no GBK text"); at != std::string::npos; at = err.find("no GBK text", at + 1))
    ++reports;
  EXPECT_LE(reports, 1000u);
  EXPECT_GE(reports, 990u);  // earlier tests of this process may have reported a few
  EXPECT_NE(err.find("1000 file names were reported; further ones are not"), std::string::npos);
  EXPECT_EQ(err.find("further ones"), err.rfind("further ones"));
}

TEST_F(FileNamesTest, ProgramPathAndProgramDirText) {
  SetActiveCodePage(kCodePageGbk);
  const std::string saved = ProgramDir();
  SetProgramDir("/tmp/" + kZhongUtf8);
  EXPECT_EQ(ProgramDirText(), "/tmp/" + kZhongGbk);
  EXPECT_EQ(ProgramPath("Script\\" + kZhongGbk + ".qvr"),
            "/tmp/" + kZhongUtf8 + "/Script/" + kZhongUtf8 + ".qvr");
  SetProgramDir(saved);
}

TEST(ReadWholeFile, OnlyRegularFilesAreRead) {
  auto dir = std::filesystem::temp_directory_path() / ("qp_files_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "a.txt", std::ios::binary) << "one\r\ntwo";
  const std::string fifo = (dir / "pipe").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::string content = "stale";
  EXPECT_TRUE(ReadWholeFile((dir / "a.txt").string(), content));
  EXPECT_EQ(content, "one\r\ntwo");
  EXPECT_TRUE(IsReadableFile((dir / "a.txt").string()));
  // The part before the NUL byte names a file, the whole path does not.
  const std::string notFiles[] = {dir.string(), fifo, "/dev/zero", (dir / "missing").string(), "",
                                  (dir / "a.txt").string() + std::string(1, '\0') + "x"};
  for (const std::string& path : notFiles) {
    content = "stale";
    EXPECT_FALSE(ReadWholeFile(path, content)) << path;
    EXPECT_EQ(content, "") << path;
    EXPECT_FALSE(IsReadableFile(path)) << path;
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace qp
