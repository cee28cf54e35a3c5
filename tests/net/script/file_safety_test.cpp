// Whole quorpack runs whose files cannot be written: on a full disk (a small
// tmpfs, where one can be mounted) and past a file-size limit (anywhere).
// "writefile" returns "0", and `note`, `saveto` and `savecookies` keep the
// earlier file; each failure is said once on standard error and no temporary
// file is left. Orphans of killed runs go when the program starts.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <filesystem>
#include <fstream>

#include "app/home_fixture.h"
#include "net/loopback_server.h"
#include "support/atomic_file.h"
#include "support/small_disk.h"

namespace qp {
namespace {

using testing::LoopbackServer;
using testing::ReplyPart;
namespace fs = std::filesystem;

void WriteFile(const std::string& path, const std::string& content) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << content;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

std::vector<std::string> Temporaries(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) {
    std::string name = entry.path().filename();
    if (name.find(".qptmp.") != std::string::npos) names.push_back(name);
  }
  return names;
}

long DeadPid() {
  pid_t child = fork();
  if (child == 0) _exit(0);
  waitpid(child, nullptr, 0);
  return child;
}

class FileSafety : public ::testing::Test {
 protected:
  // Writes a home into `home` whose script makes a 320 KiB text and writes it
  // with note, saveto, savecookies and writefile into Temp/, where the
  // earlier files are; then runs `binary` on it.
  testing::RunResult RunFileWriters(const std::string& home, const std::string& binary) {
    const std::string temp = home + "/Temp";
    WriteFile(home + "/Config.ini", "[setting]\r\ncodepage=utf-8\r\nui=console\r\n");
    WriteFile(home + "/Quorvant.boot", "w^w.qvr^\r\n");
    const std::string url = "http://127.0.0.1:" + std::to_string(server.port()) + "/";
    WriteFile(home + "/Script/w.qvr",
              "<main>\r\n"
              "var [#t] 0123456789\r\n"
              "while ([@len<<<[#t]]<300000)\r\n{\r\nvar [#t] [#t][#t]\r\n}\r\n"
              "note [#t]\r\n"
              "saveto " + temp + "/page.html\r\n"
              "get " + url + "\r\n"
              "alert get=[#status]\r\n"
              "setcookies big [#t]\r\n"
              "savecookies " + temp + "/cookies.txt\r\n"
              "alert writefile=[@writefile<<<" + temp + "/w.txt<<<[#t]]\r\n");
    WriteFile(temp + "/note_1.txt", "earlier note");
    WriteFile(temp + "/page.html", "earlier page");
    WriteFile(temp + "/cookies.txt", "earlier^cookie\r\n");
    testing::QuorpackProcess run(home, "", false, binary);
    return run.Finish(std::chrono::seconds(30));
  }

  void ExpectEarlierFilesKept(const std::string& home, const testing::RunResult& run,
                              const std::string& reason) {
    const std::string temp = home + "/Temp";
    EXPECT_FALSE(run.timedOut);
    EXPECT_NE(run.err.find("get=1"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("writefile=0"), std::string::npos) << run.err;
    EXPECT_EQ(ReadFile(temp + "/note_1.txt"), "earlier note");
    EXPECT_EQ(ReadFile(temp + "/page.html"), "earlier page");
    EXPECT_EQ(ReadFile(temp + "/cookies.txt"), "earlier^cookie\r\n");
    EXPECT_TRUE(Temporaries(temp).empty());
    // Each failure once, with its reason.
    EXPECT_EQ(Count(run.err, "quorpack: cannot write the note " + temp + "/note_1.txt: " + reason +
                                 "\n"),
              1u)
        << run.err;
    EXPECT_EQ(Count(run.err, "quorpack: cannot write " + temp + "/page.html: " + reason +
                                 "; the earlier file is kept\n"),
              1u)
        << run.err;
    EXPECT_EQ(Count(run.err, "quorpack: cannot write the cookie file " + temp + "/cookies.txt: " +
                                 reason + "\n"),
              1u)
        << run.err;
    EXPECT_EQ(Count(run.err, "quorpack: writefile cannot write " + temp + "/w.txt: " + reason +
                                 "\n"),
              1u)
        << run.err;
    EXPECT_EQ(Count(run.err, "quorpack: "), 4u) << run.err;
  }

  LoopbackServer server{[](const std::string&) {
    return std::vector<ReplyPart>{{"HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n"},
                                  {std::string(4096, 'p'), 0, 80}};
  }};
};

TEST_F(FileSafety, FullDiskKeepsEveryEarlierFile) {
  testing::SmallDisk disk(64);
  if (!disk.mounted()) GTEST_SKIP() << "no tmpfs can be mounted here";
  testing::RunResult run = RunFileWriters(disk.dir(), testing::QuorpackBinary());
  ExpectEarlierFilesKept(disk.dir(), run, "No space left on device");
}

TEST_F(FileSafety, FileSizeLimitKeepsEveryEarlierFile) {
  testing::HomeFixture home;
  // The limit applies to quorpack only: bash starts it with SIGXFSZ ignored,
  // so that a write past the limit fails instead of killing the program.
  const std::string wrapper = home.Path("limited.sh");
  WriteFile(wrapper, "#!/bin/bash\ntrap '' XFSZ\nulimit -f 64\nexec " + testing::QuorpackBinary() +
                         "\n");
  fs::permissions(wrapper, fs::perms::owner_all);
  testing::RunResult run = RunFileWriters(home.dir(), wrapper);
  ExpectEarlierFilesKept(home.dir(), run, "File too large");
}

TEST_F(FileSafety, OrphansOfAKilledRunGoAtTheStart) {
  testing::HomeFixture home;
  home.Write("Config.ini", "[setting]\r\nui=console\r\n");
  home.WriteBoot("a^a.qvr^\r\n");
  home.WriteScript("a.qvr", "<main>\r\nalert started\r\n");
  const std::string store = home.Path("data/quorpack/cookies.txt");
  const long dead = DeadPid();
  const std::vector<std::string> orphans = {
      TemporaryPrefix(home.Path("Temp/note_1.txt"), dead) + "a1B2c3",
      TemporaryPrefix(home.Path("Temp/captcha_1.png"), dead) + "x9Y8z7",
      TemporaryPrefix(store, dead) + "Qq0Ww1",
  };
  for (const std::string& orphan : orphans) WriteFile(orphan, std::string(200 * 1024, 'o'));
  WriteFile(home.Path("Temp/keep.txt"), "not a temporary file");
  auto process = home.Start({}, false, {{"XDG_DATA_HOME", home.Path("data")}});
  testing::RunResult run = process->Finish(std::chrono::seconds(15));
  EXPECT_NE(run.err.find("started"), std::string::npos) << run.err;
  for (const std::string& orphan : orphans) EXPECT_FALSE(fs::exists(orphan)) << orphan;
  EXPECT_TRUE(fs::exists(home.Path("Temp/keep.txt")));
}

}  // namespace
}  // namespace qp
