#include <gtest/gtest.h>

#include "db/mysql_backend.h"
#include "db_test_support.h"

namespace qp {
namespace {

using testing::CodePageScope;
using testing::MysqlServer;

class MysqlBackEnd : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(testing::LoadMysqlServer(server_)); }
  CMysql Connect(int port = 0) {
    return CMysql(server_.host, server_.user, server_.password, server_.database,
                  port ? port : server_.port);
  }
  MysqlServer server_;
};

TEST_F(MysqlBackEnd, OpensOnTheDefaultAndASecondPortAndCloses) {
  for (int port : {server_.port, server_.port2}) {
    CMysql db = Connect(port);
    EXPECT_EQ(db.IsOpen(), 0);
    ASSERT_EQ(db.Open(), 1) << db.lastError();
    EXPECT_EQ(db.IsOpen(), 1);
    std::string value;
    ASSERT_EQ(db.QueryValue("SELECT @@port = " + std::to_string(server_.port), value), 1);
    EXPECT_EQ(value, "1") << "both ports reach the same server";
    db.Close();
    EXPECT_EQ(db.IsOpen(), 0);
    EXPECT_EQ(db.Execute("SELECT 1"), 0);
    db.Close();  // twice is harmless
  }
}

TEST_F(MysqlBackEnd, LocalhostGoesOverTcp) {
  // The test server's socket is not in the default place, so only TCP works.
  CMysql db("localhost", server_.user, server_.password, server_.database, server_.port);
  ASSERT_EQ(db.Open(), 1) << db.lastError();
}

TEST_F(MysqlBackEnd, FailedConnectionsKeepTheClientMessage) {
  CMysql wrongPassword(server_.host, server_.user, "not-the-password", server_.database,
                       server_.port);
  EXPECT_EQ(wrongPassword.Open(), 0);
  EXPECT_EQ(wrongPassword.IsOpen(), 0);
  EXPECT_NE(wrongPassword.lastError().find("Access denied"), std::string::npos)
      << wrongPassword.lastError();
  CMysql nobodyListens = Connect(1);
  EXPECT_EQ(nobodyListens.Open(), 0);
  EXPECT_FALSE(nobodyListens.lastError().empty());
  DbRows none;
  EXPECT_EQ(nobodyListens.QueryRows("SELECT 1", none), 0);
  // A failed handle does not stop a later Open from working.
  CMysql retry(server_.host, server_.user, server_.password, "no_such_database", server_.port);
  EXPECT_EQ(retry.Open(), 0);
  EXPECT_EQ(retry.Open(), 0);
}

TEST_F(MysqlBackEnd, NullAndEmptyBothGiveTheEmptyText) {
  CMysql db = Connect();
  ASSERT_EQ(db.Open(), 1) << db.lastError();
  DbRows rows;
  ASSERT_EQ(db.QueryRows("SELECT NULL, '', 'x' UNION ALL SELECT 'a', NULL, 7", rows), 1);
  EXPECT_EQ(rows, (DbRows{{"", "", "x"}, {"a", "", "7"}}));
}

TEST_F(MysqlBackEnd, NumbersComeAsTheServerWritesThem) {
  CMysql db = Connect();
  ASSERT_EQ(db.Open(), 1) << db.lastError();
  DbRows rows;
  ASSERT_EQ(db.QueryRows("SELECT 7, CAST(7 AS DOUBLE), CAST(7.5 AS DECIMAL(10,2)), "
                         "9000000000, DATE '2008-05-01', X'610062'", rows), 1);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0], (std::vector<std::string>{"7", "7", "7.50", "9000000000", "2008-05-01",
                                               std::string("a\0b", 3)}));
}

TEST_F(MysqlBackEnd, GbkTextRoundTripsAndIsStoredAsTheRightCharacters) {
  CodePageScope gbk(kCodePageGbk);
  CMysql db = Connect();
  ASSERT_EQ(db.Open(), 1) << db.lastError();
  ASSERT_EQ(db.Execute("CREATE TEMPORARY TABLE t (s VARCHAR(20)) CHARACTER SET utf8mb4"), 1)
      << db.lastError();
  ASSERT_EQ(db.Execute("INSERT INTO t VALUES ('" + testing::kChineseGbk + "')"), 1)
      << db.lastError();
  std::string value;
  ASSERT_EQ(db.QueryValue("SELECT s FROM t", value), 1);
  EXPECT_EQ(value, testing::kChineseGbk);
  ASSERT_EQ(db.QueryValue("SELECT HEX(CONVERT(s USING utf8mb4)) FROM t", value), 1);
  EXPECT_EQ(value, "E4B8ADE69687E6B58BE8AF95");
}

TEST_F(MysqlBackEnd, Utf8CodePageUsesUtf8mb4) {
  CodePageScope utf8(kCodePageUtf8);
  CMysql db = Connect();
  ASSERT_EQ(db.Open(), 1) << db.lastError();
  std::string value;
  ASSERT_EQ(db.QueryValue("SELECT @@character_set_client", value), 1);
  EXPECT_EQ(value, "utf8mb4");
  ASSERT_EQ(db.QueryValue("SELECT '" + testing::kChineseUtf8 + "'", value), 1);
  EXPECT_EQ(value, testing::kChineseUtf8);
}

TEST_F(MysqlBackEnd, FailingStatementsKeepTheMessageAndTheConnection) {
  CMysql db = Connect();
  ASSERT_EQ(db.Open(), 1) << db.lastError();
  EXPECT_EQ(db.Execute("SELEKT 1"), 0);
  EXPECT_NE(db.lastError().find("SQL syntax"), std::string::npos) << db.lastError();
  DbRows rows{{"old"}};
  EXPECT_EQ(db.QueryRows("SELECT * FROM no_such_table", rows), 0);
  EXPECT_TRUE(rows.empty());
  EXPECT_NE(db.lastError().find("no_such_table"), std::string::npos) << db.lastError();
  std::string value;
  EXPECT_EQ(db.QueryValue("SELECT 2", value), 1);
  EXPECT_EQ(value, "2");
}

TEST_F(MysqlBackEnd, QueryValueReadsOnlyTheFirstRowAndLeavesOutAloneWhenEmpty) {
  CMysql db = Connect();
  ASSERT_EQ(db.Open(), 1) << db.lastError();
  std::string value = "unchanged";
  EXPECT_EQ(db.QueryValue("SELECT 1 FROM DUAL WHERE 1 = 0", value), 0);
  EXPECT_EQ(value, "unchanged");
  EXPECT_EQ(db.QueryValue("SET @a = 1", value), 0);  // no result set counts as no row
  EXPECT_EQ(value, "unchanged");
  ASSERT_EQ(db.QueryValue("SELECT seq FROM seq_1_to_1000", value), 1) << db.lastError();
  EXPECT_EQ(value, "1");
  // The rest of the rows were read away: the connection takes the next statement.
  EXPECT_EQ(db.Execute("DO 1"), 1) << db.lastError();
}

TEST_F(MysqlBackEnd, StatementsWithoutResultSetGiveNoRows) {
  CMysql db = Connect();
  ASSERT_EQ(db.Open(), 1) << db.lastError();
  DbRows rows{{"old"}};
  EXPECT_EQ(db.QueryRows("SET @b = 2", rows), 1);
  EXPECT_TRUE(rows.empty());
  EXPECT_EQ(db.QueryRows("SELECT 1 FROM DUAL WHERE 1 = 0", rows), 1);
  EXPECT_TRUE(rows.empty());
}

TEST_F(MysqlBackEnd, ExecuteLeavesRowsUnreadAndTheNextStatementIsOutOfSync) {
  CMysql db = Connect();
  ASSERT_EQ(db.Open(), 1) << db.lastError();
  EXPECT_EQ(db.Execute("SELECT 1"), 1);
  EXPECT_EQ(db.Execute("DO 1"), 0);
  EXPECT_NE(db.lastError().find("out of sync"), std::string::npos) << db.lastError();
}

TEST_F(MysqlBackEnd, BuilderRunsOnTheServer) {
  CMysql db = Connect();
  ASSERT_EQ(db.Open(), 1) << db.lastError();
  ASSERT_EQ(db.Execute("CREATE TEMPORARY TABLE t (id INT, a INT, b VARCHAR(5))"), 1);
  db.BeginInsert("t");
  db.AddField("id", "3");
  db.AddField("a", "1");
  db.AddField("b", "'x'");
  ASSERT_EQ(db.ExecuteStatement(), 1) << db.lastError();
  db.BeginUpdate("t", " where id=3");
  db.AddField("a", "5");
  db.AddField("b", "'y'");
  ASSERT_EQ(db.ExecuteStatement(), 1) << db.lastError();
  DbRows rows;
  ASSERT_EQ(db.QueryRows("SELECT id, a, b FROM t", rows), 1);
  EXPECT_EQ(rows, (DbRows{{"3", "5", "y"}}));
}

}  // namespace
}  // namespace qp
