#include "db/db_wrapper.h"

namespace qp {

int CDBWrapper::QueryValue(const std::string&, std::string&) { return 1; }

int CDBWrapper::QueryRows(const std::string&, DbRows&) { return 1; }

int CDBWrapper::Execute(const std::string&) { return 1; }

void CDBWrapper::BeginInsert(const std::string& table) {
  statement_ = "insert into " + table + "(";
  columns_.clear();
  values_.clear();
  fields_ = 0;
}

void CDBWrapper::BeginUpdate(const std::string& table, const std::string& condition) {
  statement_ = "update " + table + " set ";
  columns_.clear();
  values_ = condition;
  fields_ = 0;
}

void CDBWrapper::AddField(const std::string& name, const std::string& value) {
  // A value list counts as started once a field went in, so an empty value
  // cannot shift the values against the columns.
  bool started = fields_++ > 0;
  if (BuildingInsert()) {
    if (started || !columns_.empty()) columns_ += ',';
    columns_ += name;
    if (started || !values_.empty()) values_ += ',';
    values_ += value;
    return;
  }
  if (started || !columns_.empty()) columns_ += ',';
  columns_ += name + "=" + value;
}

int CDBWrapper::ExecuteStatement() {
  if (BuildingInsert())
    statement_ += columns_ + ") values(" + values_ + ")";
  else
    statement_ += columns_ + values_;
  return Execute(statement_);
}

}  // namespace qp
