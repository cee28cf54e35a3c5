#include "db/commands/db_commands.h"

#include <memory>
#include <vector>

#include "db/ado_backend.h"
#include "db/db_wrapper.h"
#include "db/mysql_backend.h"
#include "engine/script_runner.h"
#include "engine/substitution.h"
#include "support/messages.h"
#include "support/text.h"

namespace qp {
namespace {

constexpr int32_t kMysqlDefaultPort = 3306;
constexpr const char* kItemSeparator = "<<<";
constexpr const char* kAccessTemplate = "Provider = Microsoft.Jet.OLEDB.4.0;Data Source = ";

void SetStatus(ScriptRunner& runner, bool success) {
  runner.variables.Set("status", success ? "1" : "0");
}

// Reports a malformed operand and fails the command.
void FailWithError(ScriptRunner& runner, const std::string& reason, const std::string& command) {
  ReportError(runner, reason, command);
  SetStatus(runner, false);
}

std::string SqlServerConnection(const std::string& server, const std::string& catalog,
                                const std::string& user, const std::string& password) {
  return "Provider=SQLOLEDB.1;Password=" + password + "; Persist Security Info=True;User ID=" +
         user + "; Initial Catalog=" + catalog + ";Data Source=" + server;
}

// The four "<<<" items of a server command; false after an error report.
// The server item is substituted only, the others are expanded.
bool ServerItems(ScriptRunner& runner, const std::string& name, const std::string& rest,
                 const std::string& operand, MessageId formatSuffix,
                 std::vector<std::string>& items) {
  items = SplitAll(rest, kItemSeparator);
  if (items.size() != 4) {
    FailWithError(runner, Msg(MessageId::kDbFormatPrefix) + name + Msg(formatSuffix), operand);
    return false;
  }
  Substitute(runner, items[0]);
  for (size_t i = 1; i < items.size(); ++i) Expand(runner, items[i]);
  return true;
}

std::unique_ptr<CDBWrapper> NewMysql(std::vector<std::string>& items) {
  const std::string& address = items[0];
  size_t colon = address.find(':');
  std::string host = address.substr(0, colon);
  int32_t port = kMysqlDefaultPort;
  if (colon != std::string::npos) port = LeadingInt(std::string_view(address).substr(colon + 1));
  return std::make_unique<CMysql>(host, items[2], items[3], items[1], port);
}

// Creates the back end that the command's kind asks for; null after an
// error report.
std::unique_ptr<CDBWrapper> NewBackEnd(ScriptRunner& runner, CommandCode code,
                                       const std::string& name, const std::string& rest,
                                       const std::string& operand) {
  if (code == kOpenAccess) return std::make_unique<CAdo>(kAccessTemplate + Expanded(runner, rest));
  std::vector<std::string> items;
  if (code == kOpenMssql) {
    if (!ServerItems(runner, name, rest, operand, MessageId::kDbMssqlFormatSuffix, items))
      return nullptr;
    return std::make_unique<CAdo>(SqlServerConnection(items[0], items[1], items[2], items[3]));
  }
  if (!ServerItems(runner, name, rest, operand, MessageId::kDbMysqlFormatSuffix, items))
    return nullptr;
  return NewMysql(items);
}

// openaccess, openmssql, openmysql: name, then the connection details.
void OpenDatabase(ScriptRunner& runner, CommandCode code, const std::string& operand) {
  SplitResult parts = Split(operand);
  if (!parts.found) {
    SetStatus(runner, false);
    return;
  }
  std::string name = Expanded(runner, parts.first);
  std::unique_ptr<CDBWrapper> db = NewBackEnd(runner, code, name, parts.rest, operand);
  if (!db) return;
  // A name opened again closes and frees its earlier connection first.
  auto earlier = runner.databases.find(name);
  if (earlier != runner.databases.end()) {
    if (earlier->second->IsOpen()) earlier->second->Close();
    runner.databases.erase(earlier);
  }
  // The entry stays even when Open fails: later commands fail on it quietly.
  CDBWrapper& stored = *(runner.databases[name] = std::move(db));
  SetStatus(runner, stored.Open() == 1);
}

CDBWrapper* FindConnection(ScriptRunner& runner, const std::string& name,
                           const std::string& operand) {
  auto it = runner.databases.find(name);
  if (it != runner.databases.end()) return it->second.get();
  FailWithError(runner, name + Msg(MessageId::kDbConnectionMissing), operand);
  return nullptr;
}

// query: connection, result table, statement.
void QueryDatabase(ScriptRunner& runner, const std::string& operand) {
  SplitResult connection = Split(operand);
  if (!connection.found) return FailWithError(runner, Msg(MessageId::kFormatError), operand);
  std::string name = Expanded(runner, connection.first);
  SplitResult result = Split(connection.rest);
  if (!result.found) return FailWithError(runner, Msg(MessageId::kFormatError), operand);
  std::string table = Expanded(runner, result.first);
  std::string statement = Expanded(runner, result.rest);
  // Emptied before the lookup, so a failed query never leaves old rows behind.
  QueryTable& rows = runner.queryResults[table];
  rows.clear();
  CDBWrapper* db = FindConnection(runner, name, operand);
  if (db) SetStatus(runner, db->QueryRows(statement, rows) == 1);
}

// execute: connection, statement.
void ExecuteOnDatabase(ScriptRunner& runner, const std::string& operand) {
  SplitResult parts = Split(operand);
  if (!parts.found) return FailWithError(runner, Msg(MessageId::kFormatError), operand);
  std::string name = Expanded(runner, parts.first);
  std::string statement = Expanded(runner, parts.rest);
  CDBWrapper* db = FindConnection(runner, name, operand);
  if (db) SetStatus(runner, db->Execute(statement) == 1);
}

// closedb: connection name. Sets no status.
void CloseDatabase(ScriptRunner& runner, const std::string& operand) {
  if (operand.empty()) return ReportError(runner, Msg(MessageId::kDbNeedsName), "CLOSEDB");
  std::string name = Expanded(runner, operand);
  auto it = runner.databases.find(name);
  if (it == runner.databases.end())
    return ReportError(runner, Msg(MessageId::kDbConnectionGone), "CLOSEDB " + name);
  if (it->second->IsOpen()) it->second->Close();
  runner.databases.erase(it);
}

}  // namespace

void RunDatabaseCommand(ScriptRunner& runner, CommandCode code, const std::string& operand) {
  switch (code) {
    case kOpenAccess:
    case kOpenMssql:
    case kOpenMysql:
      return OpenDatabase(runner, code, operand);
    case kCloseDb:
      return CloseDatabase(runner, operand);
    case kQuery:
      return QueryDatabase(runner, operand);
    case kExecute:
      return ExecuteOnDatabase(runner, operand);
    default:
      return;
  }
}

}  // namespace qp
