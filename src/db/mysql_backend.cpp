#include "db/mysql_backend.h"

#include <mariadb/mysql.h>

#include <mutex>

#include "support/codepage.h"

namespace qp {
namespace {

// The client library's global set-up is not safe to run from two threads at
// once, and each script thread may open its first connection at any time.
void InitClientLibraryOnce() {
  static std::once_flag once;
  std::call_once(once, [] { mysql_library_init(0, nullptr, nullptr); });
}

MYSQL* NewHandle() {
  MYSQL* handle = mysql_init(nullptr);
  if (handle) {
    unsigned int protocol = MYSQL_PROTOCOL_TCP;
    mysql_options(handle, MYSQL_OPT_PROTOCOL, &protocol);
  }
  return handle;
}

DbValue FieldValue(const char* data, unsigned long length) {
  if (!data) return DbValue::Null();
  return DbValue::Narrow(std::string(data, length));
}

}  // namespace

const char* MysqlCharsetForCodePage() {
  return ActiveCodePage() == kCodePageUtf8 ? "utf8mb4" : "gbk";
}

CMysql::CMysql(std::string host, std::string user, std::string password, std::string database,
               int32_t port)
    : port_(port),
      host_(std::move(host)),
      user_(std::move(user)),
      password_(std::move(password)),
      database_(std::move(database)) {
  InitClientLibraryOnce();
  handle_ = NewHandle();
}

CMysql::~CMysql() {
  // Closing also frees what an unopened or failed handle holds.
  if (handle_) mysql_close(handle_);
}

int CMysql::Open() {
  if (open_ || !handle_) {
    Close();
    if (!handle_) handle_ = NewHandle();
    if (!handle_) {
      SetLastError("out of memory");
      return 0;
    }
  }
  // A port outside the 16-bit range cannot be meant; the library would cut it.
  unsigned int port = port_ > 0 && port_ <= 65535 ? static_cast<unsigned>(port_) : 0;
  if (!mysql_real_connect(handle_, host_.c_str(), user_.c_str(), password_.c_str(),
                          database_.c_str(), port, nullptr, 0)) {
    KeepClientError();
    // A failed handle is not reused: the next Open starts from a fresh one.
    mysql_close(handle_);
    handle_ = nullptr;
    return 0;
  }
  open_ = 1;
  Execute(std::string("SET NAMES ") + MysqlCharsetForCodePage());
  return 1;
}

void CMysql::Close() {
  if (!open_) return;
  mysql_close(handle_);
  handle_ = NewHandle();
  open_ = 0;
}

void CMysql::KeepClientError() {
  SetLastError(handle_ ? mysql_error(handle_) : "not connected");
}

bool CMysql::Send(const std::string& sql) {
  if (!handle_) {
    SetLastError("not connected");
    return false;
  }
  if (mysql_real_query(handle_, sql.data(), sql.size()) != 0) {
    KeepClientError();
    return false;
  }
  return true;
}

int CMysql::Execute(const std::string& sql) { return Send(sql) ? 1 : 0; }

int CMysql::QueryValue(const std::string& sql, std::string& out) {
  if (!Send(sql)) return 0;
  MYSQL_RES* result = mysql_use_result(handle_);
  if (!result) {
    if (mysql_field_count(handle_) != 0) KeepClientError();
    return 0;
  }
  int found = 0;
  if (MYSQL_ROW row = mysql_fetch_row(result)) {
    unsigned long* lengths = mysql_fetch_lengths(result);
    out = FormatValue(FieldValue(row[0], lengths ? lengths[0] : 0));
    found = 1;
  }
  // Freeing an unbuffered result reads the rest, so the connection stays usable.
  mysql_free_result(result);
  return found;
}

int CMysql::QueryRows(const std::string& sql, DbRows& rows) {
  rows.clear();
  if (!Send(sql)) return 0;
  MYSQL_RES* result = mysql_use_result(handle_);
  if (!result) {
    if (mysql_field_count(handle_) == 0) return 1;  // a statement without a result set
    KeepClientError();
    return 0;
  }
  unsigned int fields = mysql_num_fields(result);
  while (MYSQL_ROW row = mysql_fetch_row(result)) {
    unsigned long* lengths = mysql_fetch_lengths(result);
    std::vector<std::string>& texts = rows.emplace_back();
    texts.reserve(fields);
    for (unsigned int i = 0; i < fields; ++i)
      texts.push_back(FormatValue(FieldValue(row[i], lengths ? lengths[i] : 0)));
  }
  // A fetch that stops on a lost connection is a failure, not the end of the rows.
  bool failed = mysql_errno(handle_) != 0;
  if (failed) KeepClientError();
  mysql_free_result(result);
  return failed ? 0 : 1;
}

}  // namespace qp
