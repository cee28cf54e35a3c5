// Atomic replacement: the target changes only once the new content is whole,
// failures leave it as it was, and temporary files of killed writers go.
#include "support/atomic_file.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utime.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/small_disk.h"

namespace qp {
namespace {

namespace fs = std::filesystem;

class AtomicFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "qp-atomic-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string File(const std::string& name) const { return dir_ + "/" + name; }
  static void Write(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
  }
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  // Names in the folder other than `except`.
  std::vector<std::string> Others(const std::string& except) const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_))
      if (entry.path().filename() != except) names.push_back(entry.path().filename());
    return names;
  }
  // A pid whose process has ended.
  static long DeadPid() {
    pid_t child = fork();
    if (child == 0) _exit(0);
    waitpid(child, nullptr, 0);
    return child;
  }
  static void SetModified(const std::string& path, time_t when) {
    utimbuf times = {when, when};
    utime(path.c_str(), &times);
  }

  std::string dir_;
};

TEST_F(AtomicFileTest, ReplacementKeepsPermissionsAndLeavesNoTemporary) {
  const std::string path = File("cookies.txt");
  ASSERT_TRUE(ReplaceFileAtomically(path, "first", 0600));
  EXPECT_EQ(fs::status(path).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
  chmod(path.c_str(), 0640);
  ASSERT_TRUE(ReplaceFileAtomically(path, "second", 0600));
  EXPECT_EQ(Read(path), "second");
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_TRUE(Others("cookies.txt").empty());
}

TEST_F(AtomicFileTest, MissingFolderFailsWithItsReason) {
  errno = 0;
  EXPECT_FALSE(ReplaceFileAtomically(File("missing/x.txt"), "text"));
  EXPECT_EQ(errno, ENOENT);
  AtomicFileWriter writer;
  EXPECT_FALSE(writer.Open(File("missing/x.txt")));
  EXPECT_FALSE(writer.Write("text"));
  EXPECT_FALSE(writer.Commit());
}

TEST_F(AtomicFileTest, StreamedFileAppearsOnlyAtCommit) {
  const std::string path = File("download.bin");
  Write(path, "earlier");
  {
    AtomicFileWriter writer;
    ASSERT_TRUE(writer.Open(path));
    EXPECT_TRUE(writer.Write("new "));
    EXPECT_TRUE(writer.Write("content"));
    EXPECT_EQ(Read(path), "earlier");
    EXPECT_EQ(Others("download.bin").size(), 1u);  // the temporary file beside it
  }  // destroyed without Commit: nothing changes
  EXPECT_EQ(Read(path), "earlier");
  EXPECT_TRUE(Others("download.bin").empty());
  AtomicFileWriter writer;
  ASSERT_TRUE(writer.Open(path));
  writer.Write("new content");
  ASSERT_TRUE(writer.Commit());
  EXPECT_EQ(Read(path), "new content");
  EXPECT_TRUE(Others("download.bin").empty());
}

TEST_F(AtomicFileTest, OrphansOfDeadOrEarlierProcessesGoAtTheNextWrite) {
  const std::string path = File("note_1.txt");
  const std::string dead = TemporaryPrefix(path, DeadPid()) + "Ab3dE9";
  // Our own pid, last written long before this process started: a process
  // of an earlier boot or container run that had the same pid.
  const std::string reused = TemporaryPrefix(path, getpid()) + "reused";
  const std::string live = TemporaryPrefix(path, getpid()) + "Live01";
  const std::string parent = TemporaryPrefix(path, getppid()) + "Live02";
  const std::string otherFile = TemporaryPrefix(File("note_2.txt"), DeadPid()) + "Other1";
  const std::string notOurs = path + ".qptmp.x.123456";
  for (const std::string& file : {dead, reused, live, parent, otherFile, notOurs}) Write(file, "x");
  SetModified(reused, std::time(nullptr) - 10 * 365 * 86400);
  ASSERT_TRUE(ReplaceFileAtomically(path, "note"));
  EXPECT_FALSE(fs::exists(dead));
  EXPECT_FALSE(fs::exists(reused));
  EXPECT_TRUE(fs::exists(live)) << "a running writer's file stays";
  EXPECT_TRUE(fs::exists(parent));
  EXPECT_TRUE(fs::exists(otherFile)) << "another file's orphans wait for that file";
  EXPECT_TRUE(fs::exists(notOurs));
  // The sweep of a whole folder (at the program's start) takes every orphan.
  RemoveOrphanedTemporariesIn(dir_);
  EXPECT_FALSE(fs::exists(otherFile));
  EXPECT_TRUE(fs::exists(live));
  EXPECT_TRUE(fs::exists(notOurs));
  EXPECT_EQ(Read(path), "note");
}

TEST_F(AtomicFileTest, LongNamesGetATemporaryThatFitsAndIsCleanedUp) {
  const std::string path = File(std::string(250, 'n'));
  const std::string orphan = TemporaryPrefix(path, DeadPid()) + "Zz0000";
  Write(orphan, "x");
  ASSERT_TRUE(fs::exists(orphan));
  ASSERT_TRUE(ReplaceFileAtomically(path, "long"));
  EXPECT_EQ(Read(path), "long");
  EXPECT_FALSE(fs::exists(orphan));
}

TEST_F(AtomicFileTest, LinksStayAndDevicesAreWrittenInPlace) {
  const std::string real = File("real.txt");
  const std::string link = File("link.txt");
  Write(real, "earlier");
  fs::create_symlink(real, link);
  ASSERT_TRUE(ReplaceFileAtomically(link, "through the link"));
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(Read(real), "through the link");
  // A null device of our own: where devices can be made, it must stay one
  // (a saveto of /dev/null discards the body and leaves /dev/null alone).
  const std::string device = File("null");
  if (mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0) {
    GTEST_SKIP() << "no device can be made here";
  }
  AtomicFileWriter writer;
  ASSERT_TRUE(writer.Open(device));
  EXPECT_TRUE(writer.Write("discarded"));
  EXPECT_TRUE(writer.Commit());
  EXPECT_TRUE(fs::is_character_file(device));
  EXPECT_EQ(Others("null").size(), 2u);  // the file and the link, no temporary
}

// A full disk and a file-size limit fail the write part-way; the earlier file
// stays and no temporary file is left.
TEST_F(AtomicFileTest, WriteThatFailsPartWayKeepsTheEarlierFile) {
  const std::string big(200 * 1024, 'b');
  testing::SmallDisk disk(64);
  if (disk.mounted()) {
    const std::string path = disk.File("page.html");
    Write(path, "earlier");
    errno = 0;
    EXPECT_FALSE(ReplaceFileAtomically(path, big));
    EXPECT_EQ(errno, ENOSPC);
    AtomicFileWriter writer;
    ASSERT_TRUE(writer.Open(path));
    EXPECT_FALSE(writer.Write(big));
    EXPECT_TRUE(writer.failed());
    EXPECT_FALSE(writer.Commit());
    EXPECT_EQ(errno, ENOSPC);
    EXPECT_EQ(Read(path), "earlier");
    EXPECT_EQ(std::distance(fs::directory_iterator(disk.dir()), fs::directory_iterator()), 1);
  } else {
    std::printf("no tmpfs can be mounted here; only the file-size limit is tried\n");
  }
  const std::string path = File("page.html");
  Write(path, "earlier");
  int code = testing::RunWithFileSizeLimit(64 * 1024, [&] {
    if (ReplaceFileAtomically(path, big)) return 1;
    return errno == EFBIG ? 0 : 2;
  });
  EXPECT_EQ(code, 0);
  EXPECT_EQ(Read(path), "earlier");
  EXPECT_TRUE(Others("page.html").empty());
}

}  // namespace
}  // namespace qp
