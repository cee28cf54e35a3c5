#include "support/settings.h"

#include <unistd.h>

#include <cstdlib>
#include <mutex>

#include "support/files.h"
#include "support/text.h"

namespace qp {
namespace {

std::mutex g_dirMutex;
std::string g_programDir;
bool g_programDirSet = false;

std::string ExecutableDir() {
  char buffer[4096];
  ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return ".";
  std::string path(buffer, static_cast<size_t>(n));
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

std::string StripTrailingSlash(std::string dir) {
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

}  // namespace

const std::string& ProgramDir() {
  std::lock_guard lock(g_dirMutex);
  if (!g_programDirSet) {
    const char* home = std::getenv("QUORPACK_HOME");
    g_programDir = StripTrailingSlash(home && *home ? std::string(home) : ExecutableDir());
    g_programDirSet = true;
  }
  return g_programDir;
}

void SetProgramDir(std::string dir) {
  std::lock_guard lock(g_dirMutex);
  g_programDir = StripTrailingSlash(std::move(dir));
  g_programDirSet = true;
}

std::string ProgramDirText() { return ScriptPath(ProgramDir()); }

std::string ProgramPath(std::string_view relative) {
  std::string rel = FileSystemPath(relative);
  while (!rel.empty() && rel.front() == '/') rel.erase(0, 1);
  return ProgramDir() + "/" + rel;
}

IniFile::IniFile(const std::string& path) {
  std::string content;
  ReadWholeFile(path, content);
  std::string section;
  for (const std::string& line : SplitAll(content, "\n")) {
    std::string_view view = Trim(line);
    if (view.empty() || view.front() == ';' || view.front() == '#') continue;
    if (view.front() == '[') {
      size_t close = view.find(']');
      section = AsciiLower(Trim(view.substr(1, close == std::string_view::npos ? view.size() - 1
                                                                            : close - 1)));
      continue;
    }
    size_t eq = view.find('=');
    if (eq == std::string_view::npos) continue;
    std::string key = AsciiLower(Trim(view.substr(0, eq)));
    std::string value(Trim(view.substr(eq + 1)));
    // A value in matching double quotes loses the quotes, as INI readers do.
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
      value = value.substr(1, value.size() - 2);
    sections_[section].emplace(key, value);  // the first definition wins
  }
}

std::string IniFile::Get(std::string_view section, std::string_view key,
                         std::string_view fallback) const {
  auto s = sections_.find(AsciiLower(section));
  if (s == sections_.end()) return std::string(fallback);
  auto k = s->second.find(AsciiLower(key));
  return k == s->second.end() ? std::string(fallback) : k->second;
}

bool IniFile::Has(std::string_view section, std::string_view key) const {
  auto s = sections_.find(AsciiLower(section));
  return s != sections_.end() && s->second.count(AsciiLower(key)) > 0;
}

std::string ReadConfigValue(std::string_view section, std::string_view key,
                            std::string_view fallback) {
  IniFile ini(ProgramPath("Config.ini"));
  std::string value = ini.Get(section, key, fallback);
  if (value.size() > 99) value.resize(99);
  return value;
}

std::string ReadSetting(std::string_view key, std::string_view fallback) {
  return ReadConfigValue("setting", key, fallback);
}

}  // namespace qp
