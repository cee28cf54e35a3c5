#include "support/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <mutex>
#include <set>

#include "support/characters.h"
#include "support/codepage.h"

namespace qp {
namespace {

// Each path is reported once: a script that writes to it in a loop would
// otherwise fill the terminal with the same line. The paths remembered for
// that are bounded, so that a script that makes ever new names cannot grow
// the table without end: past the bound one last line says that further
// names go unreported.
constexpr size_t kMaxReportedPaths = 1000;

void ReportOnce(const char* what, std::string_view path, std::string_view shown) {
  static std::mutex mutex;
  static std::set<std::string, std::less<>> reported;
  std::lock_guard lock(mutex);
  if (reported.count(path)) return;
  if (reported.size() >= kMaxReportedPaths) {
    static bool silenced = false;
    if (!silenced)
      std::fprintf(stderr, "quorpack: %zu file names were reported; further ones are not\n",
                   kMaxReportedPaths);
    silenced = true;
    return;
  }
  reported.emplace(path);
  std::fprintf(stderr, "quorpack: %s: %.*s\n", what, static_cast<int>(shown.size()),
               shown.data());
}

}  // namespace

std::string FileSystemPath(std::string_view scriptPath) {
  std::string slashed = ForwardSlashes(scriptPath);
  if (slashed.find('\0') != std::string::npos) {
    std::string shown = slashed;
    for (char& c : shown)
      if (c == '\0') c = '?';
    ReportOnce("a file name holds a NUL byte (shown as \"?\")", slashed, shown);
    slashed = std::move(shown);
  }
  if (ActiveCodePage() == kCodePageUtf8) return slashed;
  std::string utf8;
  if (!ConvertCodePageExactly(slashed, kCodePageActive, kCodePageUtf8, utf8))
    ReportOnce("a file name has bytes that are no GBK text (shown as \"?\")", slashed, utf8);
  return utf8;
}

std::string ScriptPath(std::string_view fileSystemPath) {
  if (ActiveCodePage() == kCodePageUtf8) return std::string(fileSystemPath);
  std::string text;
  if (!ConvertCodePageExactly(fileSystemPath, kCodePageUtf8, kCodePageActive, text))
    ReportOnce("a path has characters that GBK cannot hold; scripts see them as \"?\"",
               fileSystemPath, fileSystemPath);
  return text;
}

namespace {

// A descriptor of the regular file at the path, or -1.
int OpenRegularFile(const std::string& fileSystemPath) {
  if (fileSystemPath.find('\0') != std::string::npos) return -1;
  // O_NONBLOCK: opening a pipe must not wait for a writer; it is refused
  // below like every file that is not a regular one.
  int fd = open(fileSystemPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return -1;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

bool IsReadableFile(const std::string& fileSystemPath) {
  int fd = OpenRegularFile(fileSystemPath);
  if (fd < 0) return false;
  close(fd);
  return true;
}

bool ReadWholeFile(const std::string& fileSystemPath, std::string& content) {
  content.clear();
  int fd = OpenRegularFile(fileSystemPath);
  if (fd < 0) return false;
  char buffer[65536];
  bool ok = true;
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ok = false;
    if (n <= 0) break;
    content.append(buffer, static_cast<size_t>(n));
  }
  close(fd);
  if (!ok) content.clear();
  return ok;
}

}  // namespace qp
