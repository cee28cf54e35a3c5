#include "db/odbc_connection.h"

#include "support/files.h"
#include "support/settings.h"
#include "support/text.h"

namespace qp {
namespace {

constexpr const char* kFreeTds = "FreeTDS";
constexpr const char* kFreeTdsPort = "1433";

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// A configured driver: its name, and attributes to append (may be empty).
struct DriverChoice {
  std::string name;
  std::string extra;
};

DriverChoice SplitDriverSetting(const std::string& setting) {
  size_t semicolon = setting.find(';');
  if (semicolon == std::string::npos) return {TrimCopy(setting), ""};
  return {TrimCopy(setting.substr(0, semicolon)), TrimCopy(setting.substr(semicolon + 1))};
}

std::string Attribute(const char* key, const std::string& value) {
  return std::string(key) + "=" + OdbcAttributeValue(value) + ";";
}

std::string Finish(std::string odbc, const std::string& extra) {
  if (!extra.empty()) odbc += extra;
  return odbc;
}

// Paths come from scripts written for another system: "\" separators work,
// a relative path is taken from the program folder, where scripts live, and
// the name goes to the driver as the file system names it (UTF-8).
std::string DatabaseFilePath(const std::string& source) {
  std::string path = FileSystemPath(source);
  if (path.empty() || path.front() == '/') return path;
  return ProgramPath(source);
}

std::string JetString(const std::string& source, const std::string& setting) {
  std::string path = DatabaseFilePath(source);
  if (!setting.empty()) {
    DriverChoice driver = SplitDriverSetting(setting);
    return Finish("Driver={" + driver.name + "};" + Attribute("Database", path) +
                      Attribute("DBQ", path),
                  driver.extra);
  }
  std::string lower = AsciiLower(path);
  if (EndsWith(lower, ".mdb") || EndsWith(lower, ".accdb"))
    return "Driver={MDBTools};" + Attribute("DBQ", path);
  return "Driver={SQLite3};" + Attribute("Database", path);
}

// "Data Source" of a server: host, host,port or host\instance.
struct ServerAddress {
  std::string host;
  std::string port;
};

ServerAddress ParseDataSource(const std::string& source) {
  ServerAddress address;
  size_t comma = source.find(',');
  address.host = TrimCopy(source.substr(0, comma));
  if (comma != std::string::npos) address.port = TrimCopy(source.substr(comma + 1));
  // The local-server shorthands of the other platform.
  if (address.host == "(local)" || address.host == "." || address.host.empty())
    address.host = "127.0.0.1";
  else if (address.host.rfind(".\\", 0) == 0 || address.host.rfind("(local)\\", 0) == 0)
    address.host = "127.0.0.1" + address.host.substr(address.host.find('\\'));
  return address;
}

std::string SqlServerString(std::map<std::string, std::string>& keys, const std::string& setting) {
  DriverChoice driver{kFreeTds, ""};
  if (!setting.empty()) driver = SplitDriverSetting(setting);
  ServerAddress address = ParseDataSource(keys["data source"]);
  bool freeTds = driver.name == kFreeTds;
  if (address.port.empty() && freeTds && address.host.find('\\') == std::string::npos)
    address.port = kFreeTdsPort;
  std::string odbc = "Driver={" + driver.name + "};" + Attribute("Server", address.host);
  if (!address.port.empty()) odbc += Attribute("Port", address.port);
  odbc += Attribute("Database", keys["initial catalog"]) + Attribute("UID", keys["user id"]) +
          Attribute("PWD", keys["password"]);
  // Texts cross the driver as UTF-8 (see the ODBC back end).
  if (freeTds) odbc += "TDS_Version=7.4;ClientCharset=UTF-8;";
  return Finish(odbc, driver.extra);
}

}  // namespace

std::map<std::string, std::string> ParseProviderString(const std::string& text) {
  std::map<std::string, std::string> keys;
  for (const std::string& part : SplitAll(text, ";")) {
    size_t equals = part.find('=');
    if (equals == std::string::npos) continue;
    std::string key = AsciiLower(Trim(std::string_view(part).substr(0, equals)));
    keys[key] = TrimCopy(std::string_view(part).substr(equals + 1));
  }
  return keys;
}

OdbcDriverMap ReadOdbcDriverMap() {
  return {ReadConfigValue("odbc", "jet", ""), ReadConfigValue("odbc", "sqloledb", "")};
}

std::string OdbcAttributeValue(const std::string& value) {
  bool plain = value.find_first_of(";{}") == std::string::npos &&
               (value.empty() || (!IsBlank(value.front()) && !IsBlank(value.back())));
  if (plain) return value;
  std::string braced = "{";
  for (char c : value) {
    braced += c;
    if (c == '}') braced += '}';
  }
  return braced + "}";
}

bool TranslateConnectionString(const std::string& provider_string, const OdbcDriverMap& drivers,
                               std::string& odbc, std::string& error) {
  std::map<std::string, std::string> keys = ParseProviderString(provider_string);
  std::string provider = AsciiLower(keys["provider"]);
  if (provider.rfind("microsoft.jet.oledb", 0) == 0 || provider.rfind("microsoft.ace.oledb", 0) == 0) {
    odbc = JetString(keys["data source"], drivers.jet);
    return true;
  }
  if (provider.rfind("sqloledb", 0) == 0) {
    odbc = SqlServerString(keys, drivers.sqloledb);
    return true;
  }
  error = "unsupported provider: " + keys["provider"];
  return false;
}

}  // namespace qp
