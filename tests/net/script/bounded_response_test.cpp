// Hostile servers against get and saveto: a head that never ends, a server
// that trickles, a body that never ends. Each request fails with status "0"
// within its bound, and a save-to file keeps its earlier content.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "engine/fake_ui.h"
#include "net/loopback_server.h"
#include "support/settings.h"
#include "support/small_disk.h"

namespace qp {
namespace {

using testing::LoopbackServer;
using testing::ReplyPart;
using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

class BoundedResponse : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(home.File("Temp"));
    SetProgramDir(home.path());
    home.Write("Config.ini", "[setting]\r\nrequesttimeout=2\r\nbodylimit=1\r\n");
  }

  // Runs `text` with "URL" standing for the server's address; standard error
  // is kept in `err`.
  void RunScript(std::string text) {
    for (size_t at; (at = text.find("URL")) != std::string::npos;)
      text.replace(at, 3, "http://127.0.0.1:" + std::to_string(server.port()));
    runner = test::MakeRunner(text, ui);
    ::testing::internal::CaptureStderr();
    qp::Run(*runner);
    err = ::testing::internal::GetCapturedStderr();
  }
  std::string Var(const std::string& name) { return runner->variables.Get(name); }
  std::vector<std::string> TemporaryFiles(const std::string& dir) const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
      std::string name = entry.path().filename();
      if (name.find(".qptmp.") != std::string::npos) names.push_back(name);
    }
    return names;
  }

  testing::TempDir home;
  std::vector<ReplyPart> reply = {{"HTTP/1.0 200 OK\r\n\r\nok"}};
  LoopbackServer server{[this](const std::string&) { return reply; }};
  test::FakeUi ui;
  std::unique_ptr<ScriptRunner> runner;
  std::string err;
};

TEST_F(BoundedResponse, HeadOfTwoMebibytesFailsWithStatusZero) {
  std::string fields;
  while (fields.size() < (2u << 20)) fields += "X-Filler: 0123456789abcdef\r\n";
  reply = {{"HTTP/1.0 200 OK\r\n" + fields + "\r\nbody"}};
  RunScript("get URL/\n");
  EXPECT_EQ(Var("status"), "0");
  EXPECT_EQ(Var("http_head"), "");
  EXPECT_EQ(Var("http_body"), "");
  EXPECT_EQ(err, "quorpack: the request to 127.0.0.1 failed: its head is larger than 1 MiB\n");
  // The next request is served as ever.
  reply = {{"HTTP/1.0 200 OK\r\n\r\nok"}};
  RunScript("get URL/\n");
  EXPECT_EQ(Var("status"), "1");
  EXPECT_EQ(Var("http_body"), "ok");
}

TEST_F(BoundedResponse, TricklingServerEndsAtTheRequestTimeout) {
  struct Case {
    const char* name;
    std::string start;
    std::string head;
  } cases[] = {
      {"in the body", "HTTP/1.0 200 OK\r\n\r\n", "HTTP/1.0 200 OK\r\n\r\n"},
      {"in the head", "HTTP/1.0 200 OK\r\n", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    reply = {{c.start, 1000}};
    for (int i = 0; i < 20; ++i) reply.push_back({"x", 1000});  // one byte a second
    auto start = Clock::now();
    RunScript("get URL/\n");
    double seconds = SecondsSince(start);
    EXPECT_GE(seconds, 1.9);
    EXPECT_LT(seconds, 5.0);
    EXPECT_EQ(Var("status"), "0");
    EXPECT_EQ(Var("http_head"), c.head);
    EXPECT_EQ(Var("http_body"), "");
    EXPECT_EQ(err, "quorpack: the request to 127.0.0.1 failed: it took longer than "
                   "requesttimeout (2 s)\n");
  }
}

TEST_F(BoundedResponse, EndlessBodyEndsAtTheBodyLimit) {
  const std::string block(64 * 1024, 'e');
  for (std::string head : {std::string("HTTP/1.0 200 OK\r\n\r\n"),
                           std::string("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n")}) {
    SCOPED_TRACE(head);
    bool chunked = head.find("chunked") != std::string::npos;
    reply = {{head}, {chunked ? "10000\r\n" + block + "\r\n" : block, 0, 16384}};  // up to 1 GiB
    auto start = Clock::now();
    RunScript("get URL/\n");
    EXPECT_LT(SecondsSince(start), 5.0);
    EXPECT_EQ(Var("status"), "0");
    EXPECT_EQ(Var("http_head"), head);
    EXPECT_EQ(Var("http_body"), "");
    EXPECT_EQ(err, "quorpack: the request to 127.0.0.1 failed: its body is larger than "
                   "bodylimit (1 MiB)\n");
  }
}

TEST_F(BoundedResponse, SaveToHasNoBodyLimitButTheRequestTimeout) {
  const std::string path = home.File("page.bin");
  home.Write("page.bin", "earlier");
  // Three MiB: more than the body limit of memory, written whole.
  reply = {{"HTTP/1.0 200 OK\r\n\r\n"}, {std::string(1 << 20, 's'), 0, 3}};
  RunScript("saveto " + path + "\nget URL/\n");
  EXPECT_EQ(Var("status"), "1");
  EXPECT_EQ(std::filesystem::file_size(path), 3u << 20);
  EXPECT_EQ(err, "");
  // An endless body is cut by the deadline; the file keeps its content and
  // nothing is left beside it.
  reply = {{"HTTP/1.0 200 OK\r\n\r\n"}};
  for (int i = 0; i < 100; ++i) reply.push_back({std::string(64 * 1024, 's'), 100});  // 10 s
  auto start = Clock::now();
  RunScript("saveto " + path + "\nget URL/\n");
  EXPECT_LT(SecondsSince(start), 5.0);
  EXPECT_EQ(Var("status"), "0");
  EXPECT_EQ(std::filesystem::file_size(path), 3u << 20);
  EXPECT_TRUE(TemporaryFiles(home.path()).empty());
  EXPECT_NE(err.find("took longer than requesttimeout"), std::string::npos) << err;
}

TEST_F(BoundedResponse, SaveToOnAFullDiskKeepsTheEarlierFileAndSaysWhy) {
  testing::SmallDisk disk(64);
  if (!disk.mounted()) GTEST_SKIP() << "no tmpfs can be mounted here (see the quorpack run)";
  const std::string path = disk.File("page.html");
  std::ofstream(path) << "earlier page";
  reply = {{"HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n"}, {std::string(4096, 'p'), 0, 64}};
  RunScript("saveto " + path + "\nget URL/\n");
  // The exchange itself succeeded; only the file could not take the body.
  EXPECT_EQ(Var("status"), "1");
  EXPECT_EQ(Var("http_head"), "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n");
  std::ifstream in(path);
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(content, "earlier page");
  EXPECT_TRUE(TemporaryFiles(disk.dir()).empty());
  EXPECT_EQ(err, "quorpack: cannot write " + path +
                     ": No space left on device; the earlier file is kept\n");
}

}  // namespace
}  // namespace qp
