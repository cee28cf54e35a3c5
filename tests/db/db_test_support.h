// Shared pieces of the database tests: the server addresses that
// scripts/services.sh publishes, a scratch program folder, and GBK texts.
// The servers are real (MariaDB and PostgreSQL on 127.0.0.1); when their
// variables are missing a test fails and says how to start them.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

#include "support/codepage.h"
#include "support/settings.h"

namespace qp::testing {

inline std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// Fails the current test when any of the variables is missing.
inline bool ServerVariablesPresent(std::initializer_list<const char*> names) {
  for (const char* name : names) {
    if (Env(name).empty()) {
      ADD_FAILURE() << name << " is not set: start the test servers with "
                    << "`bash scripts/services.sh start` and "
                    << "`source build-services/services.env` before running the tests";
      return false;
    }
  }
  return true;
}

struct MysqlServer {
  std::string host, user, password, database;
  int port = 0;
  int port2 = 0;  // a second port of the same server
};

inline bool LoadMysqlServer(MysqlServer& server) {
  if (!ServerVariablesPresent({"QP_MYSQL_HOST", "QP_MYSQL_PORT", "QP_MYSQL_USER",
                               "QP_MYSQL_PASSWORD", "QP_MYSQL_DATABASE", "QP_MYSQL_PORT2"}))
    return false;
  server = {Env("QP_MYSQL_HOST"), Env("QP_MYSQL_USER"), Env("QP_MYSQL_PASSWORD"),
            Env("QP_MYSQL_DATABASE"), std::atoi(Env("QP_MYSQL_PORT").c_str()),
            std::atoi(Env("QP_MYSQL_PORT2").c_str())};
  return true;
}

struct PgServer {
  std::string host, port, user, password, database;
};

inline bool LoadPgServer(PgServer& server) {
  if (!ServerVariablesPresent(
          {"QP_PG_HOST", "QP_PG_PORT", "QP_PG_USER", "QP_PG_PASSWORD", "QP_PG_DATABASE"}))
    return false;
  server = {Env("QP_PG_HOST"), Env("QP_PG_PORT"), Env("QP_PG_USER"), Env("QP_PG_PASSWORD"),
            Env("QP_PG_DATABASE")};
  return true;
}

// A fresh program folder for one test (Config.ini, database files), removed
// afterwards. Tests run as separate processes, so the pid keeps them apart.
class ScratchProgramDir {
 public:
  ScratchProgramDir() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    path_ = std::filesystem::temp_directory_path() /
            ("qp-db-" + std::to_string(::getpid()) + "-" + info->test_suite_name() + "-" +
             info->name());
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
    SetProgramDir(path_.string());
  }
  ~ScratchProgramDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  void WriteConfig(const std::string& text) const {
    std::ofstream(path_ / "Config.ini", std::ios::binary) << text;
  }
  std::string File(const std::string& name) const { return (path_ / name).string(); }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Switches the active code page for one test and back to GBK afterwards.
class CodePageScope {
 public:
  explicit CodePageScope(int codePage) { SetActiveCodePage(codePage); }
  ~CodePageScope() { SetActiveCodePage(kCodePageGbk); }
};

// "中文测试" in GBK and in UTF-8.
inline const std::string kChineseGbk = "\xD6\xD0\xCE\xC4\xB2\xE2\xCA\xD4";
inline const std::string kChineseUtf8 = "\xE4\xB8\xAD\xE6\x96\x87\xE6\xB5\x8B\xE8\xAF\x95";

}  // namespace qp::testing
