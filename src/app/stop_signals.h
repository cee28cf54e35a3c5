// SIGINT and SIGTERM as a flag that any code can read at once and a source on
// the UI thread's main loop. The flag lets work that runs outside the loop
// (compiling the boot file's scripts before the loop starts) notice a stop;
// the loop source then runs the shutdown. The signal handler only stores the
// flag and writes one byte to a pipe, both async-signal-safe.
#pragma once

#include <atomic>
#include <functional>

#include <glib.h>

namespace qp {

class StopSignals {
 public:
  StopSignals() = default;
  // Restores the previous handlers and closes the pipe.
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // Installs the handlers; `onStop` runs on the default main context's loop
  // once per signal that came in. Only one StopSignals may be installed at a
  // time. False when the pipe cannot be made.
  bool Install(std::function<void()> onStop);

  // True from the first signal on.
  const std::atomic<bool>& requested() const;

 private:
  static gboolean OnWake(gint fd, GIOCondition condition, gpointer self);

  std::function<void()> onStop_;
  int readFd_ = -1;
  guint watch_ = 0;
  bool installed_ = false;
};

}  // namespace qp
