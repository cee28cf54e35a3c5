// CAdo: the back end for Access files and SQL Server. Scripts hand it the
// provider-style connection strings they have always used; it translates them
// (db/odbc_connection.h) and talks to the database through unixODBC. Column
// values become DbValues of the variant types FormatValue knows, so a number,
// date or flag reads the same as it always has. Every ODBC failure becomes the
// last error and a 0 result.
#pragma once

#include <string>

#include "db/db_wrapper.h"

namespace qp {

class CAdo : public CDBWrapper {
 public:
  explicit CAdo(std::string connection);
  ~CAdo() override;

  int Open() override;
  int IsOpen() override { return connected_ ? 1 : 0; }
  void Close() override;
  int QueryValue(const std::string& sql, std::string& out) override;
  int QueryRows(const std::string& sql, DbRows& rows) override;
  int Execute(const std::string& sql) override;

  // The ODBC connection string of the last Open (for diagnostics and tests).
  const std::string& odbcString() const { return odbc_; }

 private:
  class Statement;
  bool Connect();
  // Runs `sql` on a new statement; false (with the last error) on failure.
  bool Run(Statement& statement, const std::string& sql);
  // Reads every row (or only the first when `firstOnly`) into `rows`.
  bool Fetch(Statement& statement, DbRows& rows, bool firstOnly);
  void KeepDiagnostic(short handleType, void* handle, const char* call);

  void* env_ = nullptr;  // ODBC environment handle
  void* dbc_ = nullptr;  // ODBC connection handle
  bool connected_ = false;
  std::string odbc_;
};

}  // namespace qp
