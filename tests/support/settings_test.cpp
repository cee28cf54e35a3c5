#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/settings.h"

namespace qp {
namespace {

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("qp-settings-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
            "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
    SetProgramDir(dir_.string() + "/");
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  void WriteConfig(const std::string& text) {
    std::ofstream(dir_ / "Config.ini", std::ios::binary) << text;
  }
  std::filesystem::path dir_;
};

TEST_F(SettingsTest, MissingFileOrKeyGivesTheDefault) {
  EXPECT_EQ(ReadSetting("hotkey", "CTRL + 9"), "CTRL + 9");
  WriteConfig("[setting]\r\nappname=Robot\r\n");
  EXPECT_EQ(ReadSetting("appname", ""), "Robot");
  EXPECT_EQ(ReadSetting("hotkey", "CTRL + 9"), "CTRL + 9");
}

TEST_F(SettingsTest, SectionsCommentsAndLineEnds) {
  WriteConfig("; comment\n[other]\nappname=no\n[Setting]\n  AppName = yes \n;appname=x\n"
              "[odbc]\r\njet=SQLite3\r\n");
  EXPECT_EQ(ReadSetting("appname", ""), "yes");
  EXPECT_EQ(ReadConfigValue("odbc", "jet", ""), "SQLite3");
  EXPECT_EQ(ReadConfigValue("odbc", "sqloledb", "FreeTDS"), "FreeTDS");
}

TEST_F(SettingsTest, ValuesAreCutTo99Bytes) {
  WriteConfig("[setting]\nhotkey=" + std::string(120, 'k') + "\n");
  EXPECT_EQ(ReadSetting("hotkey", ""), std::string(99, 'k'));
}

TEST_F(SettingsTest, ProgramPathTurnsBackslashesIntoSlashes) {
  EXPECT_EQ(ProgramDir(), dir_.string());
  EXPECT_EQ(ProgramPath("Script\\sub\\job.qvr"), dir_.string() + "/Script/sub/job.qvr");
  EXPECT_EQ(ProgramPath("\\Config.ini"), dir_.string() + "/Config.ini");
}

}  // namespace
}  // namespace qp
