// CMysql: the MySQL back end, on MariaDB Connector/C. It always connects over
// TCP (also for the host "localhost", which the client library would
// otherwise send to a Unix socket), and sets the connection's character set
// to the active code page right after connecting, so texts travel as the
// script's own bytes.
#pragma once

#include <cstdint>
#include <string>

#include "db/db_wrapper.h"

typedef struct st_mysql MYSQL;

namespace qp {

class CMysql : public CDBWrapper {
 public:
  CMysql(std::string host, std::string user, std::string password, std::string database,
         int32_t port);
  ~CMysql() override;

  int Open() override;
  int IsOpen() override { return open_; }
  void Close() override;
  int QueryValue(const std::string& sql, std::string& out) override;
  int QueryRows(const std::string& sql, DbRows& rows) override;
  int Execute(const std::string& sql) override;

  int32_t port() const { return port_; }
  const std::string& host() const { return host_; }

 private:
  // Runs a statement; on failure keeps the client's message and returns false.
  bool Send(const std::string& sql);
  void KeepClientError();

  MYSQL* handle_;  // owned; initialised at construction, closed with the object
  int32_t port_;
  std::string host_;
  std::string user_;
  std::string password_;
  std::string database_;
};

// The name of the connection character set that matches the active code page.
const char* MysqlCharsetForCodePage();

}  // namespace qp
