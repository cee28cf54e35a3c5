// Program home and settings. `ProgramDir` is the folder that holds Config.ini,
// Quorvant.boot, Script/ and Temp/: the QUORPACK_HOME environment variable
// when set, else the folder of the running executable.
//
// Config.ini is read with a small INI reader of our own (sections in
// brackets, key=value lines, ";" comments, CR LF or LF), never written.
#pragma once

#include <map>
#include <string>
#include <string_view>

namespace qp {

// The program folder without a trailing "/". Computed once, on first use.
const std::string& ProgramDir();
// For tests and tools: replaces the program folder (call before scripts run).
void SetProgramDir(std::string dir);
// Joins the program folder with a relative path written with "\" or "/"
// separators ("Script\sub\job.qvr" -> "<dir>/Script/sub/job.qvr").
std::string ProgramPath(std::string_view relative);
// Turns every "\" into "/".
std::string ToSlashes(std::string_view path);

class IniFile {
 public:
  // Reads the file; a missing file gives an empty table.
  explicit IniFile(const std::string& path);
  // The value, or `fallback` when section or key is missing. Section and key
  // names are compared without regard to ASCII case, as INI readers do.
  std::string Get(std::string_view section, std::string_view key,
                  std::string_view fallback) const;
  bool Has(std::string_view section, std::string_view key) const;

 private:
  std::map<std::string, std::map<std::string, std::string>> sections_;
};

// Reads one value of section "setting" of <ProgramDir>/Config.ini, cut to 99
// bytes as a 100-byte buffer would; missing file or key gives `fallback`.
std::string ReadSetting(std::string_view key, std::string_view fallback);
// Any section of Config.ini (the "odbc" driver map, for instance), same cut.
std::string ReadConfigValue(std::string_view section, std::string_view key,
                            std::string_view fallback);

}  // namespace qp
