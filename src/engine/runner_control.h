// The signals between the UI thread and one script thread: the thread-message
// queue (stop, wake), the suspend count and the auto-reset sleep event. All of
// it is guarded by one mutex and one condition variable, so a script thread
// waits without spinning and the UI thread never blocks on it.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

namespace qp {

class RunnerControl {
 public:
  // UI side: queue WM_SCRIPT_STOP or WM_SCRIPT_WAKE for the script thread.
  void PostMessage(int32_t message);
  // Script side: removes and returns the oldest queued message, 0 if none.
  int32_t TakeMessage();

  // UI side: raises the suspend count (the thread stops at its next
  // suspension point, e.g. right after a Prompt request returns).
  void Suspend();
  // UI side: lowers the suspend count by one if it is above 0; returns the
  // count before the call (as a resume-thread call reports it).
  int32_t Resume();
  int32_t SuspendCount();

  // Script side: suspends the calling script thread itself and waits until
  // the count is back at 0. If a message is already queued (an event or a stop
  // arrived between the request and this call), it does not wait at all: the
  // resume that the message brought must not be lost.
  void SuspendSelf();
  // Script side: waits while the suspend count is above 0 (after Prompt).
  void WaitWhileSuspended();

  // The auto-reset sleep event.
  void SignalSleep();
  void ResetSleep();
  // Waits up to `ms` for the event, or for a queued message; true when either
  // came (the event is reset).
  bool WaitSleep(int32_t ms);

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<int32_t> messages_;
  // Mirrors messages_.size() so that the executor's check between two
  // instructions costs one atomic load when nothing is queued.
  std::atomic<int32_t> pending_{0};
  int32_t suspendCount_ = 0;
  bool sleepSignalled_ = false;
};

}  // namespace qp
