// CDBWrapper: the one interface through which the script commands use a
// database, whatever the back end (CMysql, CAdo). Every result leaves a back
// end as text (FormatValue); every operation reports success as 1 and failure
// as 0 and keeps the message of the last failure; nothing is thrown.
//
// The base also holds a small statement builder (BeginInsert / BeginUpdate,
// AddField, ExecuteStatement) that every back end inherits. A back end is
// owned by one ScriptRunner and used only on its script thread.
#pragma once

#include <string>
#include <vector>

#include "db/db_value.h"

namespace qp {

// Rows of a result, each a list of column texts in column order.
using DbRows = std::vector<std::vector<std::string>>;

class CDBWrapper {
 public:
  CDBWrapper() = default;
  virtual ~CDBWrapper() = default;
  CDBWrapper(const CDBWrapper&) = delete;
  CDBWrapper& operator=(const CDBWrapper&) = delete;

  // The base versions do nothing and report success.
  virtual int Open() { return 1; }
  virtual int IsOpen() { return 1; }
  virtual void Close() {}
  // 1 when a first row exists and its first column went into `out`; `out` is
  // left as it was otherwise.
  virtual int QueryValue(const std::string& sql, std::string& out);
  // Empties `rows`, then appends every row delivered. On a failure the rows
  // already read stay.
  virtual int QueryRows(const std::string& sql, DbRows& rows);
  virtual int Execute(const std::string& sql);

  // Statement builder. Values go in verbatim: quoting is the caller's.
  void BeginInsert(const std::string& table);
  // `condition` follows the assignments verbatim (" where id=3").
  void BeginUpdate(const std::string& table, const std::string& condition);
  void AddField(const std::string& name, const std::string& value);
  // Finishes the statement and runs it with Execute.
  int ExecuteStatement();

  const std::string& statement() const { return statement_; }
  const std::string& lastError() const { return lastError_; }

 protected:
  // An insert is recognised by the word anywhere in the statement text,
  // case-sensitive, so a table whose name contains it is finished as one.
  bool BuildingInsert() const { return statement_.find("insert") != std::string::npos; }
  void SetLastError(std::string message) { lastError_ = std::move(message); }

  std::string connection_;  // CAdo: the connection string; CMysql: empty
  int open_ = 0;            // CMysql: 1 while connected

 private:
  std::string statement_;   // the statement being built
  std::string columns_;     // insert: column names; update: name=value pairs
  std::string values_;      // insert: values; update: the trailing condition
  int fields_ = 0;          // AddField calls since the last Begin
  std::string lastError_;
};

}  // namespace qp
