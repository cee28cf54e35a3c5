// Translation of the connection strings that scripts build (the provider-style
// strings of the Access and SQL Server commands) into ODBC connection strings
// for unixODBC.
//
//   Jet provider, a .mdb or .accdb file -> the MDBTools driver (read-only)
//   Jet provider, any other file        -> the SQLite3 driver (file created
//                                          when missing)
//   SQLOLEDB provider                   -> the FreeTDS driver; "Data Source"
//                                          is host, host,port or host\instance
//
// Config.ini section "odbc" may name another driver for "jet" or "sqloledb".
// Such a value is a driver name, optionally followed by ";" and attributes
// that are appended to the connection string as written
// ("PostgreSQL Unicode;BoolsAsChar=0").
#pragma once

#include <map>
#include <string>

namespace qp {

// Key/value pairs of a provider-style string: keys trimmed and lower-cased,
// values trimmed. Later keys replace earlier ones.
std::map<std::string, std::string> ParseProviderString(const std::string& text);

// Driver overrides as read from Config.ini (empty: the built-in choice).
struct OdbcDriverMap {
  std::string jet;
  std::string sqloledb;
};
OdbcDriverMap ReadOdbcDriverMap();

// The ODBC connection string (in the active code page), or false with a
// reason in `error` when the provider is not one this program knows.
bool TranslateConnectionString(const std::string& provider_string, const OdbcDriverMap& drivers,
                               std::string& odbc, std::string& error);

// One attribute value, braced when it holds a character that would end or
// confuse the attribute (";", "{", "}" or surrounding blanks).
std::string OdbcAttributeValue(const std::string& value);

}  // namespace qp
