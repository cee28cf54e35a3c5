#include <gtest/gtest.h>

#include "db/odbc_connection.h"
#include "db_test_support.h"
#include "support/codepage.h"

namespace qp {
namespace {

const char* kJet = "Provider = Microsoft.Jet.OLEDB.4.0;Data Source = ";

std::string SqlServer(const std::string& source) {
  return "Provider=SQLOLEDB.1;Password=pw; Persist Security Info=True;User ID=sa; "
         "Initial Catalog=shop;Data Source=" + source;
}

struct TranslationCase {
  std::string provider;
  OdbcDriverMap drivers;
  std::string expected;
};

class Translation : public ::testing::TestWithParam<TranslationCase> {};

TEST_P(Translation, GivesTheOdbcString) {
  std::string odbc, error;
  ASSERT_TRUE(TranslateConnectionString(GetParam().provider, GetParam().drivers, odbc, error))
      << error;
  EXPECT_EQ(odbc, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Providers, Translation,
    ::testing::Values(
        TranslationCase{std::string(kJet) + "/data/a.mdb", {}, "Driver={MDBTools};DBQ=/data/a.mdb;"},
        TranslationCase{std::string(kJet) + "/data/B.ACCDB", {}, "Driver={MDBTools};DBQ=/data/B.ACCDB;"},
        TranslationCase{std::string(kJet) + "/data/a.db", {}, "Driver={SQLite3};Database=/data/a.db;"},
        TranslationCase{std::string(kJet) + "/data/a.mdb.bak", {},
                        "Driver={SQLite3};Database=/data/a.mdb.bak;"},
        TranslationCase{std::string(kJet) + "\\data\\{x}.db", {},
                        "Driver={SQLite3};Database={/data/{x}}.db};"},
        TranslationCase{std::string(kJet) + "/data/a.mdb", {"Other Driver", ""},
                        "Driver={Other Driver};Database=/data/a.mdb;DBQ=/data/a.mdb;"},
        TranslationCase{SqlServer("db.example"), {},
                        "Driver={FreeTDS};Server=db.example;Port=1433;Database=shop;UID=sa;"
                        "PWD=pw;TDS_Version=7.4;ClientCharset=UTF-8;"},
        TranslationCase{SqlServer("db.example,1500"), {},
                        "Driver={FreeTDS};Server=db.example;Port=1500;Database=shop;UID=sa;"
                        "PWD=pw;TDS_Version=7.4;ClientCharset=UTF-8;"},
        TranslationCase{SqlServer("db.example\\SQLEXPRESS"), {},
                        "Driver={FreeTDS};Server=db.example\\SQLEXPRESS;Database=shop;UID=sa;"
                        "PWD=pw;TDS_Version=7.4;ClientCharset=UTF-8;"},
        TranslationCase{SqlServer("(local)"), {},
                        "Driver={FreeTDS};Server=127.0.0.1;Port=1433;Database=shop;UID=sa;"
                        "PWD=pw;TDS_Version=7.4;ClientCharset=UTF-8;"},
        TranslationCase{SqlServer(".\\SQLEXPRESS"), {},
                        "Driver={FreeTDS};Server=127.0.0.1\\SQLEXPRESS;Database=shop;UID=sa;"
                        "PWD=pw;TDS_Version=7.4;ClientCharset=UTF-8;"},
        TranslationCase{SqlServer("127.0.0.1,55432"), {"", "PostgreSQL Unicode;BoolsAsChar=0"},
                        "Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=55432;Database=shop;"
                        "UID=sa;PWD=pw;BoolsAsChar=0"},
        TranslationCase{SqlServer("pg.local"), {"", " PostgreSQL Unicode "},
                        "Driver={PostgreSQL Unicode};Server=pg.local;Database=shop;UID=sa;PWD=pw;"}));

TEST(OdbcConnection, ValuesThatWouldEndAnAttributeAreBraced) {
  EXPECT_EQ(OdbcAttributeValue("plain"), "plain");
  EXPECT_EQ(OdbcAttributeValue(""), "");
  EXPECT_EQ(OdbcAttributeValue("a;Driver=evil"), "{a;Driver=evil}");
  EXPECT_EQ(OdbcAttributeValue("x}y"), "{x}}y}");
  EXPECT_EQ(OdbcAttributeValue(" pad"), "{ pad}");
}

TEST(OdbcConnection, ProviderStringKeysAreTrimmedAndCaseless) {
  auto keys = ParseProviderString(" Data Source = a b ;PROVIDER=x;junk;User ID=u=v");
  EXPECT_EQ(keys["data source"], "a b");
  EXPECT_EQ(keys["provider"], "x");
  EXPECT_EQ(keys["user id"], "u=v");
  EXPECT_EQ(keys.count("junk"), 0u);
}

TEST(OdbcConnection, UnknownProviderIsRefused) {
  std::string odbc, error;
  EXPECT_FALSE(TranslateConnectionString("Provider=MSDAORA;Data Source=x", {}, odbc, error));
  EXPECT_NE(error.find("MSDAORA"), std::string::npos);
  EXPECT_FALSE(TranslateConnectionString("", {}, odbc, error));
}

TEST(OdbcConnection, RelativeFilesLiveInTheProgramFolder) {
  testing::ScratchProgramDir dir;
  std::string odbc, error;
  ASSERT_TRUE(TranslateConnectionString(std::string(kJet) + "data\\q.db", {}, odbc, error));
  EXPECT_EQ(odbc, "Driver={SQLite3};Database=" + dir.File("data/q.db") + ";");
}

// A GBK file name reaches the driver as the UTF-8 name on disk, and a GBK
// character whose trail byte is "\" is not cut at it.
TEST(OdbcConnection, GbkFileNamesReachTheDriverAsUtf8) {
  ASSERT_EQ(ActiveCodePage(), kCodePageGbk);
  testing::ScratchProgramDir dir;
  std::string odbc, error;
  ASSERT_TRUE(TranslateConnectionString(std::string(kJet) + "data\\\xD6\xD0.db", {}, odbc, error));
  EXPECT_EQ(odbc, "Driver={SQLite3};Database=" + dir.File("data/\xE4\xB8\xAD.db") + ";");
  ASSERT_TRUE(TranslateConnectionString(std::string(kJet) + "/d/\x81\x5C.db", {}, odbc, error));
  EXPECT_EQ(odbc, "Driver={SQLite3};Database=/d/" +
                      ConvertCodePage("\x81\x5C", kCodePageGbk, kCodePageUtf8) + ".db;");
}

TEST(OdbcConnection, DriverMapComesFromConfigIni) {
  testing::ScratchProgramDir dir;
  dir.WriteConfig("[odbc]\njet=MyJet\nsqloledb=PostgreSQL Unicode;BoolsAsChar=0\n");
  OdbcDriverMap map = ReadOdbcDriverMap();
  EXPECT_EQ(map.jet, "MyJet");
  EXPECT_EQ(map.sqloledb, "PostgreSQL Unicode;BoolsAsChar=0");
}

}  // namespace
}  // namespace qp
