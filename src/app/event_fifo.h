// Events without a desktop: a named pipe whose lines, "source<TAB>event<TAB>
// value", become window events exactly as the tray icon or an HTML window
// would send them. Lines are UTF-8 (what a shell writes) and are converted
// to the active code page; lines that are not UTF-8 are taken as they are.
// The pipe is watched by the UI thread's main loop.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include <glib.h>

#include "engine/ui_request.h"

namespace qp {

// Parses one line (without its line end). The value may be missing; a line
// without a tab is no event.
bool ParseEventLine(std::string_view line, WindowEvent& event);

class EventFifo {
 public:
  using Handler = std::function<void(const WindowEvent&)>;

  EventFifo() = default;
  ~EventFifo();
  EventFifo(const EventFifo&) = delete;
  EventFifo& operator=(const EventFifo&) = delete;

  // Creates the pipe when the path does not exist yet (and removes it again
  // when the program ends), opens it and watches it on the default main
  // context. False with `errorText` when that is not possible.
  bool Open(const std::string& path, Handler handler, std::string& errorText);

 private:
  static gboolean OnReadable(gint fd, GIOCondition condition, gpointer self);
  void Drain();

  std::string path_;
  bool created_ = false;
  int readFd_ = -1;
  int writeFd_ = -1;  // held open so that the pipe never reports an end
  guint watch_ = 0;
  std::string partial_;
  Handler handler_;
};

// The pipe's path from the "eventfifo" setting: relative to the program
// folder unless absolute; empty when the setting is absent or empty.
std::string EventFifoPath();

}  // namespace qp
