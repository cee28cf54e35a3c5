#include "support/atomic_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace qp {
namespace {

constexpr char kMarker[] = ".qptmp.";
constexpr size_t kRandomPart = 6;  // the "XXXXXX" of mkstemp
// A long name is cut in its temporary's name, so that the temporary still
// fits in a file name (255 bytes) with the marker, a pid and the random part.
constexpr size_t kMaxBaseName = 200;
// How much later than a file's last write its pid's process must have
// started for the file to count as left by an earlier process: the start
// time read from /proc is exact only to about a second.
constexpr time_t kStartSlackSeconds = 2;

bool WriteAll(int fd, std::string_view content) {
  while (!content.empty()) {
    ssize_t n = write(fd, content.data(), content.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) {
      errno = ENOSPC;
      return false;
    }
    content.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// The permissions the file ends with: those of the target it replaces, or
// `mode` under the umask for a new file.
mode_t FinalMode(const std::string& path, unsigned mode) {
  struct stat st;
  if (stat(path.c_str(), &st) == 0) return st.st_mode & 07777;
  mode_t mask = umask(0);
  umask(mask);
  return static_cast<mode_t>(mode) & ~mask;
}

void SplitPath(const std::string& path, std::string& dir, std::string& base) {
  size_t slash = path.rfind('/');
  dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  base = slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string TemporaryBase(const std::string& base) {
  return (base.size() > kMaxBaseName ? base.substr(0, kMaxBaseName) : base) + kMarker;
}

// The pid in a temporary's name after `marker` ("<pid>.XXXXXX"); 0 when the
// rest is not of that form.
long PidAfterMarker(std::string_view rest) {
  size_t dot = rest.find('.');
  if (dot == 0 || dot == std::string_view::npos || dot > 10) return 0;
  if (rest.size() != dot + 1 + kRandomPart) return 0;
  long pid = 0;
  for (char c : rest.substr(0, dot)) {
    if (c < '0' || c > '9') return 0;
    pid = pid * 10 + (c - '0');
  }
  return pid;
}

// When process `pid` started, in seconds since 1970; -1 when unknown.
time_t ProcessStart(long pid) {
  char name[64];
  std::snprintf(name, sizeof name, "/proc/%ld/stat", pid);
  std::string stat;
  if (!ReadWholeFile(name, stat)) return -1;
  size_t close = stat.rfind(')');  // the command name may hold blanks
  if (close == std::string::npos) return -1;
  // Fields after the name start with the third (state); the start time is
  // the twenty-second.
  const char* p = stat.c_str() + close + 1;
  for (int field = 3; field < 22 && *p; ++field) {
    while (*p == ' ') ++p;
    while (*p && *p != ' ') ++p;
  }
  unsigned long long ticks = std::strtoull(p, nullptr, 10);
  static const time_t boot = [] {
    std::string text;
    if (!ReadWholeFile("/proc/stat", text)) return time_t{-1};
    size_t at = text.find("\nbtime ");
    return at == std::string::npos ? time_t{-1}
                                   : static_cast<time_t>(std::strtoll(&text[at + 7], nullptr, 10));
  }();
  long perSecond = sysconf(_SC_CLK_TCK);
  if (boot < 0 || perSecond <= 0) return -1;
  return boot + static_cast<time_t>(ticks / static_cast<unsigned long long>(perSecond));
}

// A temporary file whose writer can no longer finish it.
bool IsOrphan(long pid, time_t lastWrite) {
  if (kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) return true;
  time_t start = ProcessStart(pid);
  return start >= 0 && start > lastWrite + kStartSlackSeconds;
}

// Removes the orphans in `dir` whose names start with `prefix` (every
// temporary when it is empty).
void RemoveOrphans(const std::string& dir, const std::string& prefix) {
  DIR* folder = opendir(dir.c_str());
  if (!folder) return;
  int saved = errno;
  while (dirent* entry = readdir(folder)) {
    std::string_view name = entry->d_name;
    if (name.compare(0, prefix.size(), prefix) != 0) continue;
    size_t marker = name.rfind(kMarker);
    if (marker == std::string_view::npos || (!prefix.empty() && marker + std::strlen(kMarker) != prefix.size()))
      continue;
    long pid = PidAfterMarker(name.substr(marker + std::strlen(kMarker)));
    if (pid <= 0) continue;
    std::string file = dir + "/" + std::string(name);
    struct stat st;
    if (lstat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    if (IsOrphan(pid, st.st_mtime)) unlink(file.c_str());
  }
  closedir(folder);
  errno = saved;
}

}  // namespace

std::string TemporaryPrefix(const std::string& path, long pid) {
  std::string dir, base;
  SplitPath(path, dir, base);
  return dir + "/" + TemporaryBase(base) + std::to_string(pid) + ".";
}

void RemoveOrphanedTemporaries(const std::string& path) {
  std::string dir, base;
  SplitPath(path, dir, base);
  RemoveOrphans(dir, TemporaryBase(base));
}

void RemoveOrphanedTemporariesIn(const std::string& dir) { RemoveOrphans(dir, std::string()); }

AtomicFileWriter::~AtomicFileWriter() { Abandon(); }

// A symbolic link stays: the file it names is the one replaced. A target
// that is no regular file (a device such as /dev/null, a pipe) is written in
// place, as it cannot be replaced.
bool AtomicFileWriter::Open(const std::string& path, unsigned mode) {
  Abandon();
  path_ = path;
  mode_ = mode;
  error_ = 0;
  struct stat st;
  if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    if (char* real = realpath(path.c_str(), nullptr)) {
      path_ = real;
      std::free(real);
    }
  }
  if (stat(path_.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    fd_ = open(path_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd_ >= 0) return true;
    error_ = errno;
    return false;
  }
  RemoveOrphanedTemporaries(path_);
  temp_ = TemporaryPrefix(path_, static_cast<long>(getpid())) + "XXXXXX";
  fd_ = mkostemp(temp_.data(), O_CLOEXEC);
  if (fd_ >= 0) return true;
  error_ = errno;
  temp_.clear();
  return false;
}

bool AtomicFileWriter::Write(std::string_view bytes) {
  if (error_ != 0 || fd_ < 0) return false;
  if (WriteAll(fd_, bytes)) return true;
  Fail(errno);
  return false;
}

void AtomicFileWriter::Fail(int error) {
  if (error_ == 0) error_ = error != 0 ? error : EIO;
}

bool AtomicFileWriter::Commit(bool sync) {
  if (fd_ < 0) {
    errno = error_ != 0 ? error_ : EBADF;
    return false;
  }
  const bool inPlace = temp_.empty();
  if (error_ == 0 && !inPlace && fchmod(fd_, FinalMode(path_, mode_)) != 0) Fail(errno);
  if (error_ == 0 && sync && !inPlace && fsync(fd_) != 0) Fail(errno);
  if (close(fd_) != 0) Fail(errno);
  fd_ = -1;
  if (error_ == 0 && !inPlace && rename(temp_.c_str(), path_.c_str()) != 0) Fail(errno);
  if (error_ == 0) {
    temp_.clear();
    return true;
  }
  int error = error_;
  Abandon();
  errno = error;
  return false;
}

void AtomicFileWriter::Abandon() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  if (!temp_.empty()) unlink(temp_.c_str());
  temp_.clear();
}

bool ReplaceFileAtomically(const std::string& path, std::string_view content, unsigned mode,
                           bool sync) {
  AtomicFileWriter file;
  if (!file.Open(path, mode)) return false;
  file.Write(content);
  return file.Commit(sync);
}

}  // namespace qp
