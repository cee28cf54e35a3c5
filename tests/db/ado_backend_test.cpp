#include <gtest/gtest.h>

#include <filesystem>

#include "db/ado_backend.h"
#include "db_test_support.h"

namespace qp {
namespace {

using testing::CodePageScope;
using testing::ScratchProgramDir;

std::string JetString(const std::string& path) {
  return "Provider = Microsoft.Jet.OLEDB.4.0;Data Source = " + path;
}

// Files of the SQLite driver, reached through the Jet connection string.
class AdoFile : public ::testing::Test {
 protected:
  ScratchProgramDir dir_;
  CodePageScope gbk_{kCodePageGbk};
};

TEST_F(AdoFile, OpenCreatesAMissingFileAndCloses) {
  std::string path = dir_.File("new.db");
  CAdo db(JetString(path));
  EXPECT_EQ(db.IsOpen(), 0);
  ASSERT_EQ(db.Open(), 1) << db.lastError();
  EXPECT_EQ(db.IsOpen(), 1);
  ASSERT_EQ(db.Execute("CREATE TABLE t (a INTEGER)"), 1) << db.lastError();
  EXPECT_TRUE(std::filesystem::exists(path));
  // Opening again closes first and reconnects.
  ASSERT_EQ(db.Open(), 1) << db.lastError();
  db.Close();
  EXPECT_EQ(db.IsOpen(), 0);
  EXPECT_EQ(db.Execute("SELECT 1"), 0);
  EXPECT_FALSE(db.lastError().empty());
}

TEST_F(AdoFile, InsertQueryAndCount) {
  CAdo db(JetString(dir_.File("shop.db")));
  ASSERT_EQ(db.Open(), 1) << db.lastError();
  ASSERT_EQ(db.Execute("CREATE TABLE goods (id INTEGER, name TEXT, price REAL)"), 1);
  ASSERT_EQ(db.Execute("INSERT INTO goods VALUES (1, 'pen', 7)"), 1) << db.lastError();
  ASSERT_EQ(db.Execute("INSERT INTO goods VALUES (2, '" + testing::kChineseGbk + "', 2.345)"), 1);
  DbRows rows;
  ASSERT_EQ(db.QueryRows("SELECT id, name, price FROM goods ORDER BY id", rows), 1)
      << db.lastError();
  EXPECT_EQ(rows, (DbRows{{"1", "pen", "7.00"}, {"2", testing::kChineseGbk, "2.35"}}));
  std::string count;
  ASSERT_EQ(db.QueryValue("SELECT count(*) FROM goods", count), 1) << db.lastError();
  EXPECT_EQ(count, "2");
  // An update that touches no row is still a success.
  EXPECT_EQ(db.Execute("UPDATE goods SET price = 1 WHERE id = 99"), 1) << db.lastError();
}

TEST_F(AdoFile, ColumnTypesFormatAsVariants) {
  CAdo db(JetString(dir_.File("types.db")));
  ASSERT_EQ(db.Open(), 1) << db.lastError();
  ASSERT_EQ(db.Execute("CREATE TABLE v (i INTEGER, r REAL, d DATE, ts TIMESTAMP, t TEXT, "
                       "b BLOB, big BIGINT)"), 1) << db.lastError();
  ASSERT_EQ(db.Execute("INSERT INTO v VALUES (7, 7, '2008-05-01', '2008-05-01 13:04:05', "
                       "'x', X'00FF', 9000000000)"), 1) << db.lastError();
  ASSERT_EQ(db.Execute("INSERT INTO v VALUES (NULL, NULL, NULL, NULL, NULL, NULL, NULL)"), 1);
  DbRows rows;
  ASSERT_EQ(db.QueryRows("SELECT i, r, d, ts, t, b, big FROM v", rows), 1) << db.lastError();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0], (std::vector<std::string>{"7", "7.00", "2008-05-01 00:00:00",
                                               "2008-05-01 13:04:05", "x", "[BLOB]",
                                               "9000000000"}));
  EXPECT_EQ(rows[1], std::vector<std::string>(7, ""));
}

TEST_F(AdoFile, LongTextComesWhole) {
  CAdo db(JetString(dir_.File("long.db")));
  ASSERT_EQ(db.Open(), 1) << db.lastError();
  std::string text;
  for (int i = 0; i < 3000; ++i) text += testing::kChineseGbk + "ab";
  ASSERT_EQ(db.Execute("CREATE TABLE l (t TEXT)"), 1);
  ASSERT_EQ(db.Execute("INSERT INTO l VALUES ('" + text + "')"), 1) << db.lastError();
  std::string value;
  ASSERT_EQ(db.QueryValue("SELECT t FROM l", value), 1) << db.lastError();
  EXPECT_EQ(value.size(), text.size());
  EXPECT_TRUE(value == text) << "the long text differs";
}

TEST_F(AdoFile, EmptyResultsAndFailuresKeepTheRules) {
  CAdo db(JetString(dir_.File("e.db")));
  ASSERT_EQ(db.Open(), 1) << db.lastError();
  ASSERT_EQ(db.Execute("CREATE TABLE t (a INTEGER)"), 1);
  std::string value = "unchanged";
  EXPECT_EQ(db.QueryValue("SELECT a FROM t", value), 0);
  EXPECT_EQ(value, "unchanged");
  DbRows rows{{"old"}};
  EXPECT_EQ(db.QueryRows("SELECT a FROM t", rows), 1);
  EXPECT_TRUE(rows.empty());
  EXPECT_EQ(db.QueryRows("DELETE FROM t", rows), 1);  // no result set: no rows
  EXPECT_EQ(db.Execute("SELEKT"), 0);
  EXPECT_NE(db.lastError().find("syntax"), std::string::npos) << db.lastError();
  EXPECT_EQ(db.QueryRows("SELECT * FROM missing", rows), 0);
  EXPECT_NE(db.lastError().find("missing"), std::string::npos) << db.lastError();
  // The connection goes on after failures.
  EXPECT_EQ(db.Execute("INSERT INTO t VALUES (1)"), 1) << db.lastError();
}

TEST_F(AdoFile, RelativePathIsInTheProgramFolder) {
  CAdo db(JetString("rel.db"));
  ASSERT_EQ(db.Open(), 1) << db.lastError();
  ASSERT_EQ(db.Execute("CREATE TABLE t (a INTEGER)"), 1);
  EXPECT_TRUE(std::filesystem::exists(dir_.File("rel.db")));
}

TEST_F(AdoFile, OpenFailuresGiveAMessage) {
  CAdo empty("");
  EXPECT_EQ(empty.Open(), 0);
  EXPECT_FALSE(empty.lastError().empty());
  CAdo unknown("Provider=MSDAORA;Data Source=x");
  EXPECT_EQ(unknown.Open(), 0);
  EXPECT_NE(unknown.lastError().find("MSDAORA"), std::string::npos);
  CAdo noFolder(JetString(dir_.File("no/such/folder/x.db")));
  EXPECT_EQ(noFolder.Open(), 0);
  EXPECT_FALSE(noFolder.lastError().empty());
  EXPECT_EQ(noFolder.IsOpen(), 0);
  // The Access driver gives no diagnostic record for a missing file.
  CAdo missingMdb(JetString(dir_.File("missing.mdb")));
  EXPECT_EQ(missingMdb.Open(), 0);
  EXPECT_FALSE(missingMdb.lastError().empty());
  EXPECT_NE(missingMdb.odbcString().find("MDBTools"), std::string::npos);
}

TEST_F(AdoFile, ConfiguredJetDriverIsUsed) {
  dir_.WriteConfig("[odbc]\njet=No Such Driver\n");
  CAdo db(JetString(dir_.File("x.db")));
  EXPECT_EQ(db.Open(), 0);
  EXPECT_NE(db.odbcString().find("Driver={No Such Driver}"), std::string::npos);
  EXPECT_FALSE(db.lastError().empty());
}

// A server through the SQL Server connection string, pointed at PostgreSQL
// by the driver map.
class AdoServer : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(testing::LoadPgServer(pg_));
    dir_.WriteConfig("[odbc]\nsqloledb=PostgreSQL Unicode;BoolsAsChar=0\n");
  }
  std::string ServerString(const std::string& password) const {
    return "Provider=SQLOLEDB.1;Password=" + password +
           "; Persist Security Info=True;User ID=" + pg_.user + "; Initial Catalog=" +
           pg_.database + ";Data Source=" + pg_.host + "," + pg_.port;
  }
  testing::PgServer pg_;
  ScratchProgramDir dir_;
  CodePageScope gbk_{kCodePageGbk};
};

TEST_F(AdoServer, ColumnTypesFormatAsVariants) {
  CAdo db(ServerString(pg_.password));
  ASSERT_EQ(db.Open(), 1) << db.lastError() << " with " << db.odbcString();
  DbRows rows;
  ASSERT_EQ(db.QueryRows("SELECT 7::integer, 7::double precision, 7.5::numeric(10,2), true, "
                         "false, DATE '2008-05-01', TIMESTAMP '2008-05-01 13:04:05', "
                         "NULL::text, 9000000000::bigint, 2147483648::bigint, "
                         "(-3)::smallint, 'x'::text, '\\x00ff'::bytea",
                         rows), 1)
      << db.lastError();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0],
            (std::vector<std::string>{"7", "7.00", "7.50", "TRUE", "FALSE", "2008-05-01 00:00:00",
                                      "2008-05-01 13:04:05", "", "9000000000", "2147483648",
                                      "-3", "x", "[BLOB]"}));
}

TEST_F(AdoServer, TextTravelsInTheCodePage) {
  CAdo db(ServerString(pg_.password));
  ASSERT_EQ(db.Open(), 1) << db.lastError();
  ASSERT_EQ(db.Execute("CREATE TEMPORARY TABLE t (s text)"), 1) << db.lastError();
  ASSERT_EQ(db.Execute("INSERT INTO t VALUES ('" + testing::kChineseGbk + "')"), 1)
      << db.lastError();
  std::string value;
  ASSERT_EQ(db.QueryValue("SELECT s FROM t", value), 1) << db.lastError();
  EXPECT_EQ(value, testing::kChineseGbk);
  ASSERT_EQ(db.QueryValue("SELECT encode(convert_to(s, 'UTF8'), 'hex') FROM t", value), 1);
  EXPECT_EQ(value, "e4b8ade69687e6b58be8af95");
}

TEST_F(AdoServer, RowsAndFailures) {
  CAdo db(ServerString(pg_.password));
  ASSERT_EQ(db.Open(), 1) << db.lastError();
  DbRows rows;
  ASSERT_EQ(db.QueryRows("SELECT g, g * 2 FROM generate_series(1, 3) g", rows), 1);
  EXPECT_EQ(rows, (DbRows{{"1", "2"}, {"2", "4"}, {"3", "6"}}));
  EXPECT_EQ(db.QueryRows("SELECT * FROM no_such_table", rows), 0);
  EXPECT_TRUE(rows.empty());
  EXPECT_NE(db.lastError().find("no_such_table"), std::string::npos) << db.lastError();
  std::string value = "unchanged";
  EXPECT_EQ(db.QueryValue("SELECT 1 WHERE false", value), 0);
  EXPECT_EQ(value, "unchanged");
}

TEST_F(AdoServer, WrongPasswordFailsWithTheServerMessage) {
  CAdo db(ServerString("wrong"));
  EXPECT_EQ(db.Open(), 0);
  EXPECT_EQ(db.IsOpen(), 0);
  EXPECT_NE(db.lastError().find("password"), std::string::npos) << db.lastError();
}

}  // namespace
}  // namespace qp
