#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "db/commands/db_commands.h"
#include "db/db_wrapper.h"
#include "db/mysql_backend.h"
#include "db_test_support.h"
#include "engine/script_runner.h"
#include "engine/substitution.h"
#include "support/messages.h"

namespace qp {
namespace {

using testing::CodePageScope;
using testing::ScratchProgramDir;

// Records every request a command sends; error reports arrive as alerts.
class RecordingUi : public UiService {
 public:
  void Request(ScriptRunner&, UiRequestKind kind, const std::string& text) override {
    if (kind == UiRequestKind::Alert) alerts.push_back(text);
  }
  std::vector<std::string> alerts;
};

std::string ErrorReport(const std::string& reason, const std::string& command) {
  return Msg(MessageId::kErrorPrefix) + "\"" + command + "\"\r\n" +
         Msg(MessageId::kReasonPrefix) + reason;
}

class DbCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    runner_.ui = &ui_;
    runner_.continuations.push_back(5);  // a run in progress
  }
  // Runs one command; returns "status" as it is afterwards.
  std::string Run(CommandCode code, const std::string& operand) {
    RunDatabaseCommand(runner_, code, operand);
    return runner_.variables.Get("status");
  }
  void ExpectErrorReport(const std::string& reason, const std::string& command) {
    ASSERT_EQ(ui_.alerts.size(), 1u);
    EXPECT_EQ(ui_.alerts[0], ErrorReport(reason, command));
    EXPECT_TRUE(runner_.continuations.empty()) << "an error report ends the run";
    ui_.alerts.clear();
  }
  void ExpectRunGoesOn() {
    EXPECT_TRUE(ui_.alerts.empty()) << ui_.alerts.front();
    EXPECT_FALSE(runner_.continuations.empty());
  }
  std::string MysqlItems(const testing::MysqlServer& s, const std::string& address) {
    return address + "<<<" + s.database + "<<<" + s.user + "<<<" + s.password;
  }

  CodePageScope gbk_{kCodePageGbk};
  ScratchProgramDir dir_;
  RecordingUi ui_;
  ScriptRunner runner_;
};

// ---- operands and names, no server needed ----

TEST_F(DbCommands, OpenWithoutDetailsFailsQuietly) {
  for (CommandCode code : {kOpenAccess, kOpenMssql, kOpenMysql}) {
    runner_.variables.Set("status", "1");
    EXPECT_EQ(Run(code, "onlyaname"), "0");
    ExpectRunGoesOn();
  }
  EXPECT_TRUE(runner_.databases.empty());
}

TEST_F(DbCommands, ServerOpensNeedExactlyFourItems) {
  EXPECT_EQ(Run(kOpenMssql, "shop host<<<catalog<<<user"), "0");
  ExpectErrorReport(Msg(MessageId::kDbFormatPrefix) + "shop" +
                        Msg(MessageId::kDbMssqlFormatSuffix),
                    "shop host<<<catalog<<<user");
  runner_.continuations.push_back(5);
  EXPECT_EQ(Run(kOpenMysql, "my a<<<b<<<c<<<d<<<e"), "0");
  ExpectErrorReport(Msg(MessageId::kDbFormatPrefix) + "my" + Msg(MessageId::kDbMysqlFormatSuffix),
                    "my a<<<b<<<c<<<d<<<e");
  EXPECT_TRUE(runner_.databases.empty());
}

TEST_F(DbCommands, TheReasonsReadAsTheUserKnowsThem) {
  CodePageScope utf8(kCodePageUtf8);
  EXPECT_EQ(Msg(MessageId::kDbFormatPrefix) + "db" + Msg(MessageId::kDbMssqlFormatSuffix),
            "格式有误，请按db server<<<catlog<<<username<<<password修改．");
  EXPECT_EQ(Msg(MessageId::kDbFormatPrefix) + "db" + Msg(MessageId::kDbMysqlFormatSuffix),
            "格式有误，请按db server:port<<<catlog<<<username<<<password修改．");
  EXPECT_EQ(std::string("db") + Msg(MessageId::kDbConnectionMissing), "db 数据库连接不存在．");
  EXPECT_EQ(Msg(MessageId::kDbNeedsName), "格式有误，后面需接数据库连接名．");
  EXPECT_EQ(Msg(MessageId::kDbConnectionGone), "该数据库连接不存在或已被删除．");
}

TEST_F(DbCommands, MissingPartsAreFormatErrors) {
  struct Case {
    CommandCode code;
    const char* operand;
  };
  for (Case c : {Case{kQuery, "db"}, Case{kQuery, "db result"}, Case{kExecute, "db"}}) {
    runner_.continuations.assign({5});
    runner_.variables.Set("status", "1");
    EXPECT_EQ(Run(c.code, c.operand), "0") << c.operand;
    ExpectErrorReport(Msg(MessageId::kFormatError), c.operand);
  }
}

TEST_F(DbCommands, UnknownConnectionEmptiesTheResultTableBeforeTheReport) {
  runner_.queryResults["r"] = {{"old", "rows"}};
  EXPECT_EQ(Run(kQuery, "nodb r select 1"), "0");
  ExpectErrorReport("nodb" + Msg(MessageId::kDbConnectionMissing), "nodb r select 1");
  ASSERT_EQ(runner_.queryResults.count("r"), 1u);
  EXPECT_TRUE(runner_.queryResults["r"].empty());
  runner_.continuations.push_back(5);
  EXPECT_EQ(Run(kExecute, "nodb delete from t"), "0");
  ExpectErrorReport("nodb" + Msg(MessageId::kDbConnectionMissing), "nodb delete from t");
}

TEST_F(DbCommands, CloseDbErrorsAndNoStatus) {
  runner_.variables.Set("status", "untouched");
  Run(kCloseDb, "");
  ExpectErrorReport(Msg(MessageId::kDbNeedsName), "CLOSEDB");
  runner_.continuations.push_back(5);
  Run(kCloseDb, "never");
  ExpectErrorReport(Msg(MessageId::kDbConnectionGone), "CLOSEDB never");
  EXPECT_EQ(runner_.variables.Get("status"), "untouched");
}

// ---- SQLite through the Access command ----

TEST_F(DbCommands, AccessFileInsertQueryCountAndClose) {
  std::string path = dir_.File("shop.db");
  ASSERT_EQ(Run(kOpenAccess, "db " + path), "1");
  EXPECT_EQ(Run(kExecute, "db CREATE TABLE t (id INTEGER, name TEXT, price REAL)"), "1");
  EXPECT_EQ(Run(kExecute, "db INSERT INTO t VALUES (1, '" + testing::kChineseGbk + "', 7)"), "1");
  EXPECT_EQ(Run(kExecute, "db INSERT INTO t VALUES (2, NULL, 2.5)"), "1");
  EXPECT_EQ(Run(kQuery, "db r SELECT id, name, price FROM t ORDER BY id"), "1");
  EXPECT_EQ(runner_.queryResults["r"],
            (QueryTable{{"1", testing::kChineseGbk, "7.00"}, {"2", "", "2.50"}}));
  EXPECT_EQ(Run(kQuery, "db n SELECT count(*) FROM t"), "1");
  EXPECT_EQ(runner_.queryResults["n"], (QueryTable{{"2"}}));
  // An empty result succeeds and leaves the table empty.
  EXPECT_EQ(Run(kQuery, "db r SELECT id FROM t WHERE id > 5"), "1");
  EXPECT_TRUE(runner_.queryResults["r"].empty());
  // Bad SQL is no script error: "status" says it and the run goes on.
  EXPECT_EQ(Run(kExecute, "db SELEKT"), "0");
  EXPECT_EQ(Run(kQuery, "db r SELECT * FROM nothing"), "0");
  ExpectRunGoesOn();
  runner_.variables.Set("status", "untouched");
  Run(kCloseDb, "db");
  ExpectRunGoesOn();
  EXPECT_EQ(runner_.variables.Get("status"), "untouched");
  EXPECT_TRUE(runner_.databases.empty());
  Run(kCloseDb, "db");  // twice: the name is gone
  ExpectErrorReport(Msg(MessageId::kDbConnectionGone), "CLOSEDB db");
}

TEST_F(DbCommands, FailedOpenStaysAndLaterCommandsFailQuietly) {
  EXPECT_EQ(Run(kOpenAccess, "db " + dir_.File("no/folder/x.db")), "0");
  ASSERT_EQ(runner_.databases.count("db"), 1u);
  EXPECT_EQ(Run(kQuery, "db r SELECT 1"), "0");
  EXPECT_EQ(Run(kExecute, "db SELECT 1"), "0");
  ExpectRunGoesOn();
}

TEST_F(DbCommands, OpeningANameAgainReplacesTheConnection) {
  ASSERT_EQ(Run(kOpenAccess, "db " + dir_.File("first.db")), "1");
  CDBWrapper* first = runner_.databases["db"].get();
  EXPECT_EQ(Run(kExecute, "db CREATE TABLE only_in_first (a INTEGER)"), "1");
  ASSERT_EQ(Run(kOpenAccess, "db " + dir_.File("second.db")), "1");
  EXPECT_EQ(runner_.databases.size(), 1u);
  EXPECT_NE(runner_.databases["db"].get(), first);
  EXPECT_EQ(Run(kQuery, "db r SELECT * FROM only_in_first"), "0");
}

// ---- operands are split before references are replaced ----

TEST_F(DbCommands, ReferencesAreReplacedAfterSplitting) {
  runner_.variables.Set("name", "my db");
  runner_.variables.Set("file", dir_.File("ref.db"));
  runner_.variables.Set("table", "res ult");
  ASSERT_EQ(Run(kOpenAccess, "[#name] [#file]"), "1");
  ASSERT_EQ(runner_.databases.count("my db"), 1u);
  EXPECT_EQ(Run(kExecute, "[#name] CREATE TABLE t (a INTEGER)"), "1");
  EXPECT_EQ(Run(kExecute, "[#name] INSERT INTO t VALUES ((6*7))"), "1");
  EXPECT_EQ(Run(kQuery, "[#name] [#table] SELECT a FROM t"), "1");
  EXPECT_EQ(runner_.queryResults["res ult"], (QueryTable{{"42"}}));
  Run(kCloseDb, "[#name]");
  ExpectRunGoesOn();
  EXPECT_TRUE(runner_.databases.empty());
}

TEST_F(DbCommands, EmptyResultCountsZeroThroughTheReader) {
  ASSERT_EQ(Run(kOpenAccess, "db " + dir_.File("count.db")), "1");
  EXPECT_EQ(Run(kExecute, "db CREATE TABLE t (a INTEGER)"), "1");
  EXPECT_EQ(Run(kQuery, "db r SELECT a FROM t"), "1");
  EXPECT_EQ(Expanded(runner_, "[%r.count]"), "0");
  EXPECT_EQ(Run(kExecute, "db INSERT INTO t VALUES (5)"), "1");
  EXPECT_EQ(Run(kQuery, "db r SELECT a, a * 2 FROM t"), "1");
  EXPECT_EQ(Expanded(runner_, "[%r.count] [%r.0.1]"), "1 10");
  ExpectRunGoesOn();
}

// ---- MariaDB through the MySQL command ----

class DbCommandsMysql : public DbCommands {
 protected:
  void SetUp() override {
    DbCommands::SetUp();
    ASSERT_TRUE(testing::LoadMysqlServer(server_));
  }
  int32_t PortOf(const std::string& name) {
    auto* db = dynamic_cast<CMysql*>(runner_.databases.at(name).get());
    return db ? db->port() : -1;
  }
  testing::MysqlServer server_;
};

TEST_F(DbCommandsMysql, ItemSeparatorsInsideValuesDoNotCount) {
  runner_.variables.Set("pw", server_.password + "<<<x");
  std::string items = server_.host + "<<<" + server_.database + "<<<" + server_.user + "<<<[#pw]";
  EXPECT_EQ(Run(kOpenMysql, "db " + items), "0");  // four items; the password is wrong
  ExpectRunGoesOn();
  runner_.variables.Set("pw", server_.password);
  EXPECT_EQ(Run(kOpenMysql, "db " + items), "1");
}

TEST_F(DbCommandsMysql, DefaultAndExplicitPorts) {
  ASSERT_EQ(Run(kOpenMysql, "a " + MysqlItems(server_, server_.host)), "1");
  EXPECT_EQ(PortOf("a"), 3306);
  std::string second = server_.host + ":" + std::to_string(server_.port2);
  ASSERT_EQ(Run(kOpenMysql, "b " + MysqlItems(server_, second)), "1");
  EXPECT_EQ(PortOf("b"), server_.port2);
  ASSERT_EQ(Run(kOpenMysql, "c " + MysqlItems(server_, server_.host + ": 3307x")), "1");
  EXPECT_EQ(PortOf("c"), 3307);
  EXPECT_EQ(Run(kQuery, "b r SELECT 40 + 2"), "1");
  EXPECT_EQ(runner_.queryResults["r"], (QueryTable{{"42"}}));
  ExpectRunGoesOn();
}

TEST_F(DbCommandsMysql, GbkTextNullAndEmpty) {
  ASSERT_EQ(Run(kOpenMysql, "db " + MysqlItems(server_, server_.host)), "1");
  ASSERT_EQ(Run(kExecute, "db CREATE TEMPORARY TABLE t (s VARCHAR(20)) CHARACTER SET utf8mb4"),
            "1");
  ASSERT_EQ(Run(kExecute, "db INSERT INTO t VALUES ('" + testing::kChineseGbk + "'), (NULL), ('')"),
            "1");
  EXPECT_EQ(Run(kQuery, "db r SELECT s, HEX(CONVERT(s USING utf8mb4)) FROM t"), "1");
  EXPECT_EQ(runner_.queryResults["r"],
            (QueryTable{{testing::kChineseGbk, "E4B8ADE69687E6B58BE8AF95"}, {"", ""}, {"", ""}}));
}

TEST_F(DbCommandsMysql, FailingStatementsAndCommandsOutOfSync) {
  ASSERT_EQ(Run(kOpenMysql, "db " + MysqlItems(server_, server_.host)), "1");
  EXPECT_EQ(Run(kExecute, "db SELEKT 1"), "0");
  EXPECT_EQ(Run(kExecute, "db DO 1"), "1");
  // A statement that returns rows through execute leaves them unread, and the
  // connection then refuses the next statement.
  EXPECT_EQ(Run(kExecute, "db SELECT 1"), "1");
  EXPECT_EQ(Run(kExecute, "db DO 1"), "0");
  EXPECT_NE(runner_.databases["db"]->lastError().find("out of sync"), std::string::npos);
  ExpectRunGoesOn();
}

TEST_F(DbCommandsMysql, WrongPasswordKeepsTheEntry) {
  std::string items = server_.host + "<<<" + server_.database + "<<<" + server_.user + "<<<nope";
  EXPECT_EQ(Run(kOpenMysql, "db " + items), "0");
  ASSERT_EQ(runner_.databases.count("db"), 1u);
  EXPECT_EQ(Run(kQuery, "db r SELECT 1"), "0");
  ExpectRunGoesOn();
}

// The earlier connection of a reused name is closed on the server, not left
// behind.
TEST_F(DbCommandsMysql, ReopeningClosesTheEarlierServerConnection) {
  ASSERT_EQ(Run(kOpenMysql, "db " + MysqlItems(server_, server_.host)), "1");
  ASSERT_EQ(Run(kQuery, "db id SELECT CONNECTION_ID()"), "1");
  std::string firstId = runner_.queryResults["id"].at(0).at(0);
  ASSERT_EQ(Run(kOpenMysql, "db " + MysqlItems(server_, server_.host)), "1");
  std::string count = "1";
  for (int attempt = 0; attempt < 50 && count != "0"; ++attempt) {
    ASSERT_EQ(Run(kQuery, "db n SELECT COUNT(*) FROM information_schema.PROCESSLIST WHERE ID = " +
                              firstId), "1");
    count = runner_.queryResults["n"].at(0).at(0);
    if (count != "0") std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_EQ(count, "0");
}

// ---- PostgreSQL through the SQL Server command ----

class DbCommandsServer : public DbCommands {
 protected:
  void SetUp() override {
    DbCommands::SetUp();
    ASSERT_TRUE(testing::LoadPgServer(pg_));
    dir_.WriteConfig("[odbc]\r\nsqloledb=PostgreSQL Unicode;BoolsAsChar=0\r\n");
  }
  std::string Items(const std::string& password) {
    return pg_.host + "," + pg_.port + "<<<" + pg_.database + "<<<" + pg_.user + "<<<" + password;
  }
  testing::PgServer pg_;
};

TEST_F(DbCommandsServer, QueryFormatsEveryColumnType) {
  ASSERT_EQ(Run(kOpenMssql, "pg " + Items(pg_.password)), "1");
  EXPECT_EQ(Run(kQuery, "pg r SELECT 7::integer, 7::double precision, 7.5::numeric(10,2), "
                        "true, false, DATE '2008-05-01', TIMESTAMP '2008-05-01 13:04:05'"), "1");
  EXPECT_EQ(runner_.queryResults["r"],
            (QueryTable{{"7", "7.00", "7.50", "TRUE", "FALSE", "2008-05-01 00:00:00",
                         "2008-05-01 13:04:05"}}));
  EXPECT_EQ(Run(kExecute, "pg CREATE TEMPORARY TABLE t (s text)"), "1");
  EXPECT_EQ(Run(kExecute, "pg INSERT INTO t VALUES ('" + testing::kChineseGbk + "')"), "1");
  EXPECT_EQ(Run(kQuery, "pg r SELECT s FROM t"), "1");
  EXPECT_EQ(runner_.queryResults["r"], (QueryTable{{testing::kChineseGbk}}));
  ExpectRunGoesOn();
}

TEST_F(DbCommandsServer, WrongPasswordIsAStatusNotAnError) {
  EXPECT_EQ(Run(kOpenMssql, "pg " + Items("wrong")), "0");
  EXPECT_EQ(Run(kExecute, "pg SELECT 1"), "0");
  ExpectRunGoesOn();
}

}  // namespace
}  // namespace qp
