// The example home that the README's first command runs must run to its end
// on its own, without an error report.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/home_fixture.h"

namespace qp::testing {
namespace {

TEST(ExampleHome, RunsToItsEndWithoutErrors) {
  HomeFixture home;
  namespace fs = std::filesystem;
  fs::path examples = fs::path(QP_SOURCE_DIR) / "examples";
  for (const char* part : {"Config.ini", "Quorvant.boot", "Script", "Data"})
    if (fs::exists(examples / part))
      fs::copy(examples / part, fs::path(home.dir()) / part,
               fs::copy_options::recursive | fs::copy_options::overwrite_existing);
  RunResult run = home.Run({}, std::chrono::milliseconds(30000));
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.err.find("出错"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("events.qvr: 2 events answered, leaving"), std::string::npos) << run.err;
  EXPECT_TRUE(home.Exists("Temp/note_1.txt"));
}

}  // namespace
}  // namespace qp::testing
