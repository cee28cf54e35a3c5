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

// The program folder without a trailing "/", as the file system names it
// (UTF-8). Computed once, on first use.
const std::string& ProgramDir();
// The same folder as a script value ("userpath", the start of "source"): in
// the code page (files.h).
std::string ProgramDirText();
// For tests and tools: replaces the program folder (call before scripts run).
void SetProgramDir(std::string dir);
// Joins the program folder with a relative path that a script, a boot line
// or Config.ini gives, in the code page, written with "\" or "/" separators
// ("Script\sub\job.qvr" -> "<dir>/Script/sub/job.qvr"); the result is a
// file-system path.
std::string ProgramPath(std::string_view relative);

class IniFile {
 public:
  // Reads the file; a missing or unreadable file (or a folder) gives an
  // empty table.
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
