#include "app/stop_signals.h"

#include <fcntl.h>
#include <glib-unix.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace qp {
namespace {

// The handler may only touch lock-free atomics and call write().
static_assert(std::atomic<bool>::is_always_lock_free);
static_assert(std::atomic<int>::is_always_lock_free);

std::atomic<bool> g_requested{false};
std::atomic<int> g_wakeFd{-1};

constexpr int kStopSignals[] = {SIGINT, SIGTERM};
struct sigaction g_previous[2];

void OnSignal(int) {
  int saved = errno;
  g_requested.store(true);
  int fd = g_wakeFd.load();
  if (fd >= 0) {
    // A full pipe already holds a wake-up: the byte may be dropped.
    ssize_t ignored = write(fd, "s", 1);
    (void)ignored;
  }
  errno = saved;
}

}  // namespace

bool StopSignals::Install(std::function<void()> onStop) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  onStop_ = std::move(onStop);
  readFd_ = fds[0];
  g_wakeFd.store(fds[1]);
  g_requested.store(false);
  watch_ = g_unix_fd_add(readFd_, G_IO_IN, OnWake, this);
  struct sigaction action = {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (size_t i = 0; i < 2; ++i) sigaction(kStopSignals[i], &action, &g_previous[i]);
  installed_ = true;
  return true;
}

StopSignals::~StopSignals() {
  if (!installed_) return;
  for (size_t i = 0; i < 2; ++i) sigaction(kStopSignals[i], &g_previous[i], nullptr);
  if (watch_) g_source_remove(watch_);
  close(g_wakeFd.exchange(-1));
  close(readFd_);
}

const std::atomic<bool>& StopSignals::requested() const { return g_requested; }

gboolean StopSignals::OnWake(gint fd, GIOCondition, gpointer self) {
  char buffer[64];
  while (read(fd, buffer, sizeof buffer) > 0) {
  }
  static_cast<StopSignals*>(self)->onStop_();
  return G_SOURCE_CONTINUE;
}

}  // namespace qp
