#include "app/event_fifo.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <vector>

#include "support/codepage.h"

namespace qp {
namespace {

TEST(ParseEventLine, Fields) {
  struct Case {
    const char* line;
    bool ok;
    const char* source;
    const char* event;
    const char* value;
  } cases[] = {
      {"tray\tclick_quit\t", true, "tray", "click_quit", ""},
      {"tray\tclick", true, "tray", "click", ""},
      {"main\tsubmit\ta\tb c", true, "main", "submit", "a\tb c"},
      {"\t\t", true, "", "", ""},
      {"no tab at all", false, "", "", ""},
      {"", false, "", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    WindowEvent event;
    ASSERT_EQ(ParseEventLine(c.line, event), c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(event.source, c.source);
    EXPECT_EQ(event.event, c.event);
    EXPECT_EQ(event.value, c.value);
  }
}

TEST(ParseEventLine, Utf8BecomesTheActiveCodePageOtherBytesStay) {
  WindowEvent event;
  ASSERT_TRUE(ParseEventLine("窗口\tclick\t值", event));
  EXPECT_EQ(event.source, Utf8ToActive("窗口"));
  EXPECT_EQ(event.value, Utf8ToActive("值"));
  std::string raw = "w\tclick\t\xD6\xD0";  // GBK bytes of 中, not UTF-8
  ASSERT_TRUE(ParseEventLine(raw, event));
  EXPECT_EQ(event.value, "\xD6\xD0");
}

class EventFifoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = (std::filesystem::temp_directory_path() / "qp-fifo-XXXXXX").string();
    ASSERT_NE(mkdtemp(dir_.data()), nullptr);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string dir_;
};

TEST_F(EventFifoTest, LinesBecomeEventsInOrderAndThePipeIsRemovedAfterwards) {
  std::string path = dir_ + "/events";
  std::vector<WindowEvent> seen;
  {
    EventFifo fifo;
    std::string error;
    ASSERT_TRUE(fifo.Open(path, [&seen](const WindowEvent& e) { seen.push_back(e); }, error))
        << error;
    int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    std::string lines = "tray\tclick\t\r\nbad line\nwin\tclose\tv";
    ASSERT_EQ(write(fd, lines.data(), lines.size()), static_cast<ssize_t>(lines.size()));
    close(fd);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (seen.size() < 1 && std::chrono::steady_clock::now() < deadline)
      if (!g_main_context_iteration(nullptr, FALSE)) g_usleep(1000);
    ASSERT_EQ(seen.size(), 1u);  // the last line has no line end yet
    EXPECT_EQ(seen[0].source, "tray");
    EXPECT_EQ(seen[0].event, "click");
    fd = open(path.c_str(), O_WRONLY | O_NONBLOCK);
    ASSERT_EQ(write(fd, "\n", 1), 1);
    close(fd);
    while (seen.size() < 2 && std::chrono::steady_clock::now() < deadline)
      if (!g_main_context_iteration(nullptr, FALSE)) g_usleep(1000);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].value, "v");
  }
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(EventFifoTest, AnExistingPipeIsUsedAndKept) {
  std::string path = dir_ + "/events";
  ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
  {
    EventFifo fifo;
    std::string error;
    EXPECT_TRUE(fifo.Open(path, [](const WindowEvent&) {}, error)) << error;
  }
  EXPECT_TRUE(std::filesystem::exists(path));
}

TEST_F(EventFifoTest, AnOrdinaryFileOrAMissingFolderIsRefused) {
  std::string file = dir_ + "/plain";
  std::ofstream(file) << "x";
  EventFifo first, second;
  std::string error;
  EXPECT_FALSE(first.Open(file, [](const WindowEvent&) {}, error));
  EXPECT_NE(error.find("not a FIFO"), std::string::npos) << error;
  EXPECT_FALSE(second.Open(dir_ + "/missing/events", [](const WindowEvent&) {}, error));
  EXPECT_NE(error.find("cannot create"), std::string::npos) << error;
}

}  // namespace
}  // namespace qp
