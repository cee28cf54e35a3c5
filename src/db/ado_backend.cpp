#include "db/ado_backend.h"

#include <sql.h>
#include <sqlext.h>

#include <vector>

#include "db/odbc_connection.h"
#include "support/codepage.h"

namespace qp {
namespace {

// What a login may take before it is given up, in seconds.
constexpr SQLULEN kLoginTimeoutSeconds = 15;

bool Succeeded(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

// Texts cross the driver manager as UTF-8 through the narrow calls: the
// drivers on this platform (SQLite3, MDBTools, FreeTDS with a UTF-8 client
// charset, psqlODBC) all take and give UTF-8 there, while the manager's own
// wide-to-narrow step for narrow-only drivers would lose every non-ASCII
// character.
std::string DriverText(const std::string& text) {
  return ConvertCodePage(text, kCodePageActive, kCodePageUtf8);
}

SQLCHAR* Bytes(std::string& text) { return reinterpret_cast<SQLCHAR*>(text.data()); }

// How a column is read, and the variant type its values get.
struct Column {
  SQLSMALLINT sqlType = 0;
  bool isUnsigned = false;
};

VariantType IntegerType(SQLSMALLINT sqlType, bool isUnsigned) {
  switch (sqlType) {
    case SQL_TINYINT: return isUnsigned ? VariantType::UI1 : VariantType::I1;
    case SQL_SMALLINT: return isUnsigned ? VariantType::UI2 : VariantType::I2;
    case SQL_INTEGER: return isUnsigned ? VariantType::UI4 : VariantType::I4;
    default: return isUnsigned ? VariantType::UI8 : VariantType::I8;
  }
}

bool IsIntegerType(SQLSMALLINT t) {
  return t == SQL_TINYINT || t == SQL_SMALLINT || t == SQL_INTEGER || t == SQL_BIGINT;
}

bool IsBinaryType(SQLSMALLINT t) {
  return t == SQL_BINARY || t == SQL_VARBINARY || t == SQL_LONGVARBINARY;
}

bool IsDateType(SQLSMALLINT t) {
  return t == SQL_TYPE_DATE || t == SQL_TYPE_TIMESTAMP || t == SQL_DATE || t == SQL_TIMESTAMP;
}

bool IsTimeType(SQLSMALLINT t) { return t == SQL_TYPE_TIME || t == SQL_TIME; }

// The result of reading one cell: ok false means an ODBC failure.
struct Cell {
  bool ok = true;
  DbValue value;
};

template <typename T>
Cell ReadFixed(SQLHSTMT stmt, SQLUSMALLINT index, SQLSMALLINT cType, T& buffer) {
  SQLLEN indicator = 0;
  SQLRETURN rc = SQLGetData(stmt, index, cType, &buffer, sizeof buffer, &indicator);
  Cell cell;
  if (!Succeeded(rc)) cell.ok = false;
  else if (indicator == SQL_NULL_DATA) cell.value = DbValue::Null();
  else cell.value.type = VariantType::Empty;  // filled by the caller
  return cell;
}

Cell ReadText(SQLHSTMT stmt, SQLUSMALLINT index) {
  char buffer[4096];
  const SQLLEN capacity = sizeof buffer - 1;  // room for the terminator
  std::string text;
  for (;;) {
    SQLLEN indicator = 0;
    SQLRETURN rc = SQLGetData(stmt, index, SQL_C_CHAR, buffer, sizeof buffer, &indicator);
    if (rc == SQL_NO_DATA) break;
    if (!Succeeded(rc)) return Cell{false, {}};
    if (indicator == SQL_NULL_DATA) return Cell{true, DbValue::Null()};
    SQLLEN bytes = (indicator == SQL_NO_TOTAL || indicator > capacity) ? capacity : indicator;
    text.append(buffer, static_cast<size_t>(bytes));
    if (rc == SQL_SUCCESS) break;  // with info: truncated, more to come
  }
  return Cell{true, DbValue::Narrow(ConvertCodePage(text, kCodePageUtf8, kCodePageActive))};
}

Cell ReadBinary(SQLHSTMT stmt, SQLUSMALLINT index) {
  // Only whether the value is NULL matters: binary data shows as a marker.
  unsigned char probe[16];
  SQLLEN indicator = 0;
  SQLRETURN rc = SQLGetData(stmt, index, SQL_C_BINARY, probe, sizeof probe, &indicator);
  if (!Succeeded(rc) && rc != SQL_NO_DATA) return Cell{false, {}};
  if (indicator == SQL_NULL_DATA) return Cell{true, DbValue::Null()};
  return Cell{true, DbValue::Binary()};
}

Cell ReadDate(SQLHSTMT stmt, SQLUSMALLINT index) {
  SQL_TIMESTAMP_STRUCT ts{};
  Cell cell = ReadFixed(stmt, index, SQL_C_TYPE_TIMESTAMP, ts);
  if (cell.ok && cell.value.type != VariantType::Null)
    cell.value = DbValue::DateTime({ts.year, ts.month, ts.day, ts.hour, ts.minute, ts.second});
  return cell;
}

// A time of day alone is a date value on the calendar's day zero.
Cell ReadTime(SQLHSTMT stmt, SQLUSMALLINT index) {
  SQL_TIME_STRUCT t{};
  Cell cell = ReadFixed(stmt, index, SQL_C_TYPE_TIME, t);
  if (cell.ok && cell.value.type != VariantType::Null)
    cell.value = DbValue::DateTime({1899, 12, 30, t.hour, t.minute, t.second});
  return cell;
}

Cell ReadInteger(SQLHSTMT stmt, SQLUSMALLINT index, const Column& column) {
  VariantType type = IntegerType(column.sqlType, column.isUnsigned);
  if (column.isUnsigned) {
    SQLUBIGINT v = 0;
    Cell cell = ReadFixed(stmt, index, SQL_C_UBIGINT, v);
    if (cell.ok && cell.value.type != VariantType::Null) cell.value = DbValue::Unsigned(type, v);
    return cell;
  }
  SQLBIGINT v = 0;
  Cell cell = ReadFixed(stmt, index, SQL_C_SBIGINT, v);
  if (cell.ok && cell.value.type != VariantType::Null) cell.value = DbValue::Signed(type, v);
  return cell;
}

Cell ReadReal(SQLHSTMT stmt, SQLUSMALLINT index, VariantType type) {
  SQLDOUBLE v = 0;
  Cell cell = ReadFixed(stmt, index, SQL_C_DOUBLE, v);
  if (cell.ok && cell.value.type != VariantType::Null) cell.value = DbValue::Real(type, v);
  return cell;
}

Cell ReadBit(SQLHSTMT stmt, SQLUSMALLINT index) {
  unsigned char v = 0;
  Cell cell = ReadFixed(stmt, index, SQL_C_BIT, v);
  if (cell.ok && cell.value.type != VariantType::Null) cell.value = DbValue::Boolean(v != 0);
  return cell;
}

Cell ReadCell(SQLHSTMT stmt, SQLUSMALLINT index, const Column& column) {
  SQLSMALLINT t = column.sqlType;
  if (IsIntegerType(t)) return ReadInteger(stmt, index, column);
  if (t == SQL_REAL) return ReadReal(stmt, index, VariantType::R4);
  if (t == SQL_FLOAT || t == SQL_DOUBLE) return ReadReal(stmt, index, VariantType::R8);
  if (t == SQL_DECIMAL || t == SQL_NUMERIC) return ReadReal(stmt, index, VariantType::Decimal);
  if (t == SQL_BIT) return ReadBit(stmt, index);
  if (IsDateType(t)) return ReadDate(stmt, index);
  if (IsTimeType(t)) return ReadTime(stmt, index);
  if (IsBinaryType(t)) return ReadBinary(stmt, index);
  // Character types and everything else a driver can put into words.
  return ReadText(stmt, index);
}

}  // namespace

// One ODBC statement handle, freed (and its cursor closed) with the object.
class CAdo::Statement {
 public:
  ~Statement() {
    if (handle) SQLFreeHandle(SQL_HANDLE_STMT, handle);
  }
  SQLHSTMT handle = nullptr;
  std::vector<Column> columns;
};

CAdo::CAdo(std::string connection) { connection_ = std::move(connection); }

CAdo::~CAdo() {
  Close();
  if (dbc_) SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
  if (env_) SQLFreeHandle(SQL_HANDLE_ENV, env_);
}

void CAdo::KeepDiagnostic(short handleType, void* handle, const char* call) {
  std::string message;
  for (SQLSMALLINT record = 1; handle; ++record) {
    SQLCHAR state[6];
    SQLCHAR text[1024];
    SQLINTEGER nativeError = 0;
    SQLSMALLINT length = 0;
    SQLRETURN rc = SQLGetDiagRec(handleType, handle, record, state, &nativeError, text,
                                 sizeof text, &length);
    if (!Succeeded(rc)) break;
    if (length > static_cast<SQLSMALLINT>(sizeof text) - 1) length = sizeof text - 1;
    if (!message.empty()) message += "; ";
    message += ConvertCodePage(std::string_view(reinterpret_cast<char*>(text), length),
                               kCodePageUtf8, kCodePageActive);
  }
  if (message.empty()) message = std::string(call) + " failed and the driver gave no reason";
  SetLastError(std::move(message));
}

bool CAdo::Connect() {
  if (!env_) {
    if (!Succeeded(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_))) {
      env_ = nullptr;
      SetLastError("cannot create an ODBC environment");
      return false;
    }
    SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  }
  if (!dbc_ && !Succeeded(SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_))) {
    KeepDiagnostic(SQL_HANDLE_ENV, env_, "SQLAllocHandle");
    dbc_ = nullptr;
    return false;
  }
  SQLSetConnectAttr(dbc_, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(kLoginTimeoutSeconds), 0);
  std::string text = DriverText(odbc_);
  SQLSMALLINT outLength = 0;
  SQLRETURN rc = SQLDriverConnect(dbc_, nullptr, Bytes(text), static_cast<SQLSMALLINT>(text.size()),
                                  nullptr, 0, &outLength, SQL_DRIVER_NOPROMPT);
  if (!Succeeded(rc)) {
    KeepDiagnostic(SQL_HANDLE_DBC, dbc_, "SQLDriverConnect");
    return false;
  }
  return true;
}

int CAdo::Open() {
  if (connection_.empty()) {
    SetLastError("empty connection string");
    return 0;
  }
  if (connected_) Close();
  std::string error;
  if (!TranslateConnectionString(connection_, ReadOdbcDriverMap(), odbc_, error)) {
    SetLastError(error);
    return 0;
  }
  connected_ = Connect();
  return connected_ ? 1 : 0;
}

void CAdo::Close() {
  if (!connected_) return;
  SQLDisconnect(dbc_);
  connected_ = false;
}

bool CAdo::Run(Statement& statement, const std::string& sql) {
  if (!connected_) {
    SetLastError("the connection is not open");
    return false;
  }
  if (!Succeeded(SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &statement.handle))) {
    statement.handle = nullptr;
    KeepDiagnostic(SQL_HANDLE_DBC, dbc_, "SQLAllocHandle");
    return false;
  }
  std::string text = DriverText(sql);
  SQLRETURN rc = SQLExecDirect(statement.handle, Bytes(text), static_cast<SQLINTEGER>(text.size()));
  // A searched update or delete that touches no row answers "no data".
  if (!Succeeded(rc) && rc != SQL_NO_DATA) {
    KeepDiagnostic(SQL_HANDLE_STMT, statement.handle, "SQLExecDirect");
    return false;
  }
  return true;
}

int CAdo::Execute(const std::string& sql) {
  Statement statement;
  return Run(statement, sql) ? 1 : 0;
}

bool CAdo::Fetch(Statement& statement, DbRows& rows, bool firstOnly) {
  SQLHSTMT stmt = statement.handle;
  SQLSMALLINT count = 0;
  if (!Succeeded(SQLNumResultCols(stmt, &count))) {
    KeepDiagnostic(SQL_HANDLE_STMT, stmt, "SQLNumResultCols");
    return false;
  }
  for (SQLUSMALLINT i = 1; i <= count; ++i) {
    Column column;
    SQLULEN size = 0;
    SQLSMALLINT digits = 0, nullable = 0;
    SQLDescribeCol(stmt, i, nullptr, 0, nullptr, &column.sqlType, &size, &digits, &nullable);
    SQLLEN isUnsigned = SQL_FALSE;
    SQLColAttribute(stmt, i, SQL_DESC_UNSIGNED, nullptr, 0, nullptr, &isUnsigned);
    // Floating and exact numbers report "unsigned" false; only integers use it.
    column.isUnsigned = isUnsigned == SQL_TRUE && IsIntegerType(column.sqlType);
    statement.columns.push_back(column);
  }
  while (count > 0) {
    SQLRETURN rc = SQLFetch(stmt);
    if (rc == SQL_NO_DATA) break;
    if (!Succeeded(rc)) {
      KeepDiagnostic(SQL_HANDLE_STMT, stmt, "SQLFetch");
      return false;
    }
    std::vector<std::string>& row = rows.emplace_back();
    for (SQLUSMALLINT i = 1; i <= count; ++i) {
      Cell cell = ReadCell(stmt, i, statement.columns[i - 1]);
      if (!cell.ok) {
        KeepDiagnostic(SQL_HANDLE_STMT, stmt, "SQLGetData");
        return false;
      }
      row.push_back(FormatValue(cell.value));
    }
    if (firstOnly) break;
  }
  return true;
}

int CAdo::QueryRows(const std::string& sql, DbRows& rows) {
  rows.clear();
  Statement statement;
  if (!Run(statement, sql)) return 0;
  return Fetch(statement, rows, false) ? 1 : 0;
}

int CAdo::QueryValue(const std::string& sql, std::string& out) {
  Statement statement;
  if (!Run(statement, sql)) return 0;
  DbRows rows;
  if (!Fetch(statement, rows, true) || rows.empty() || rows.front().empty()) return 0;
  out = rows.front().front();
  return 1;
}

}  // namespace qp
