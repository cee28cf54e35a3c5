// qvrc --match: the script author's way to try a pattern on a saved page.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;

class QvrcMatch : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("qvrc_match_" + std::to_string(getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Run(const std::string& pattern, const std::string& text) {
    std::ofstream(dir_ / "page.html", std::ios::binary) << text;
    std::ofstream(dir_ / "pattern.txt", std::ios::binary) << pattern;
    // The pattern goes through a file so that the shell sees no special bytes.
    std::string command = std::string(QP_QVRC_PATH) + " --home '" + dir_.string() +
                          "' --match \"$(cat '" + (dir_ / "pattern.txt").string() + "')\" '" +
                          (dir_ / "page.html").string() + "'";
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
      char buffer[4096];
      size_t got;
      while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, got);
      pclose(pipe);
    }
    return out;
  }

  fs::path dir_;
};

TEST_F(QvrcMatch, ListsEveryResultOnItsOwnLine) {
  EXPECT_EQ(Run("<a href=\"{[^\"]*}\">{.*?}</a>",
                "<a href=\"/x\">One\nline</a><A HREF=\"c:\\d\">\xD6\xD0</a>"),
            "valid 1\n/x\nOne\\nline\nc:\\\\d\n\xD6\xD0\n");
}

TEST_F(QvrcMatch, ReportsTheCompileError) {
  EXPECT_EQ(Run("[b-a]", "abc"), "error 8\n");
  EXPECT_EQ(Run("{\\d}", "no digits"), "valid 1\n");
}

}  // namespace
