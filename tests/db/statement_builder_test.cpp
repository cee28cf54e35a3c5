#include <gtest/gtest.h>

#include <vector>

#include "db/db_wrapper.h"

namespace qp {
namespace {

// A back end that records what it is asked to execute.
class RecordingBackEnd : public CDBWrapper {
 public:
  int Execute(const std::string& sql) override {
    executed.push_back(sql);
    return result;
  }
  std::vector<std::string> executed;
  int result = 1;
};

TEST(StatementBuilder, InsertListsColumnsAndValues) {
  RecordingBackEnd db;
  db.BeginInsert("t");
  db.AddField("a", "1");
  db.AddField("b", "'x'");
  EXPECT_EQ(db.ExecuteStatement(), 1);
  ASSERT_EQ(db.executed.size(), 1u);
  EXPECT_EQ(db.executed[0], "insert into t(a,b) values(1,'x')");
  EXPECT_EQ(db.statement(), db.executed[0]);
}

TEST(StatementBuilder, UpdateAppendsTheConditionVerbatim) {
  RecordingBackEnd db;
  db.BeginUpdate("t", " where id=3");
  db.AddField("a", "1");
  db.AddField("b", "2");
  db.ExecuteStatement();
  ASSERT_EQ(db.executed.size(), 1u);
  EXPECT_EQ(db.executed[0], "update t set a=1,b=2 where id=3");
}

TEST(StatementBuilder, ATableNamedLikeInsertIsFinishedAsAnInsert) {
  RecordingBackEnd db;
  db.BeginUpdate("reinserts", " where id=1");
  db.AddField("a", "1");
  db.ExecuteStatement();
  EXPECT_EQ(db.executed.at(0), "update reinserts set a) values( where id=1,1)");
  // The recognition is case-sensitive.
  db.BeginUpdate("INSERTS", "");
  db.AddField("a", "1");
  db.ExecuteStatement();
  EXPECT_EQ(db.executed.at(1), "update INSERTS set a=1");
}

TEST(StatementBuilder, EmptyValuesKeepColumnsAndValuesInStep) {
  RecordingBackEnd db;
  db.BeginInsert("t");
  db.AddField("a", "");
  db.AddField("b", "2");
  db.ExecuteStatement();
  EXPECT_EQ(db.executed.at(0), "insert into t(a,b) values(,2)");
}

TEST(StatementBuilder, BeginStartsAfreshAndTheResultIsExecutes) {
  RecordingBackEnd db;
  db.BeginInsert("t");
  db.AddField("a", "1");
  db.BeginInsert("u");
  db.AddField("c", "3");
  db.result = 0;
  EXPECT_EQ(db.ExecuteStatement(), 0);
  EXPECT_EQ(db.executed.at(0), "insert into u(c) values(3)");
}

TEST(StatementBuilder, BaseOperationsReportSuccessAndLeaveOutputAlone) {
  CDBWrapper db;
  EXPECT_EQ(db.Open(), 1);
  EXPECT_NE(db.IsOpen(), 0);
  std::string out = "kept";
  EXPECT_EQ(db.QueryValue("select 1", out), 1);
  EXPECT_EQ(out, "kept");
  DbRows rows;
  EXPECT_EQ(db.QueryRows("select 1", rows), 1);
  EXPECT_TRUE(rows.empty());
  EXPECT_EQ(db.Execute("x"), 1);
  EXPECT_TRUE(db.lastError().empty());
}

}  // namespace
}  // namespace qp
