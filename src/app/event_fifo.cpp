#include "app/event_fifo.h"

#include <fcntl.h>
#include <glib-unix.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "support/codepage.h"
#include "support/files.h"
#include "support/settings.h"

namespace qp {
namespace {

std::string FromTerminal(std::string_view text) {
  if (g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr))
    return Utf8ToActive(text);
  return std::string(text);
}

}  // namespace

bool ParseEventLine(std::string_view line, WindowEvent& event) {
  size_t first = line.find('\t');
  if (first == std::string_view::npos) return false;
  size_t second = line.find('\t', first + 1);
  event.source = FromTerminal(line.substr(0, first));
  if (second == std::string_view::npos) {
    event.event = FromTerminal(line.substr(first + 1));
    event.value.clear();
  } else {
    event.event = FromTerminal(line.substr(first + 1, second - first - 1));
    event.value = FromTerminal(line.substr(second + 1));
  }
  return true;
}

std::string EventFifoPath() {
  IniFile ini(ProgramPath("Config.ini"));
  const std::string setting = ini.Get("setting", "eventfifo", "");
  std::string path = FileSystemPath(setting);
  if (path.empty() || path.front() == '/') return path;
  return ProgramPath(setting);
}

EventFifo::~EventFifo() {
  if (watch_) g_source_remove(watch_);
  if (readFd_ >= 0) close(readFd_);
  if (writeFd_ >= 0) close(writeFd_);
  if (created_) unlink(path_.c_str());
}

bool EventFifo::Open(const std::string& path, Handler handler, std::string& errorText) {
  path_ = path;
  handler_ = std::move(handler);
  struct stat info;
  if (stat(path.c_str(), &info) == 0) {
    if (!S_ISFIFO(info.st_mode)) {
      errorText = path + " exists and is not a FIFO";
      return false;
    }
  } else if (mkfifo(path.c_str(), 0600) == 0) {
    created_ = true;
  } else {
    errorText = "cannot create " + path + ": " + std::strerror(errno);
    return false;
  }
  readFd_ = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (readFd_ >= 0) writeFd_ = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (readFd_ < 0 || writeFd_ < 0) {
    errorText = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  watch_ = g_unix_fd_add(readFd_, G_IO_IN, OnReadable, this);
  return true;
}

gboolean EventFifo::OnReadable(gint, GIOCondition, gpointer self) {
  static_cast<EventFifo*>(self)->Drain();
  return G_SOURCE_CONTINUE;
}

// Reads all that is there, then delivers every complete line in order.
void EventFifo::Drain() {
  char buffer[4096];
  ssize_t n;
  while ((n = read(readFd_, buffer, sizeof buffer)) > 0) partial_.append(buffer, size_t(n));
  size_t lf;
  while ((lf = partial_.find('\n')) != std::string::npos) {
    std::string line = partial_.substr(0, lf);
    partial_.erase(0, lf + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    WindowEvent event;
    if (ParseEventLine(line, event)) handler_(event);
  }
}

}  // namespace qp
