#include "engine/runner_control.h"

namespace qp {

void RunnerControl::PostMessage(int32_t message) {
  std::lock_guard lock(mutex_);
  messages_.push_back(message);
  pending_.fetch_add(1, std::memory_order_release);
  changed_.notify_all();
}

int32_t RunnerControl::TakeMessage() {
  if (pending_.load(std::memory_order_acquire) == 0) return 0;
  std::lock_guard lock(mutex_);
  if (messages_.empty()) return 0;
  int32_t message = messages_.front();
  messages_.pop_front();
  pending_.fetch_sub(1, std::memory_order_release);
  return message;
}

void RunnerControl::Suspend() {
  std::lock_guard lock(mutex_);
  ++suspendCount_;
}

int32_t RunnerControl::Resume() {
  std::lock_guard lock(mutex_);
  int32_t previous = suspendCount_;
  if (suspendCount_ > 0) --suspendCount_;
  changed_.notify_all();
  return previous;
}

int32_t RunnerControl::SuspendCount() {
  std::lock_guard lock(mutex_);
  return suspendCount_;
}

void RunnerControl::SuspendSelf() {
  std::unique_lock lock(mutex_);
  if (!messages_.empty()) return;
  ++suspendCount_;
  changed_.wait(lock, [this] { return suspendCount_ == 0; });
}

void RunnerControl::WaitWhileSuspended() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return suspendCount_ == 0; });
}

void RunnerControl::SignalSleep() {
  std::lock_guard lock(mutex_);
  sleepSignalled_ = true;
  changed_.notify_all();
}

void RunnerControl::ResetSleep() {
  std::lock_guard lock(mutex_);
  sleepSignalled_ = false;
}

bool RunnerControl::WaitSleep(int32_t ms) {
  std::unique_lock lock(mutex_);
  // A queued message ends the wait too: a stop or an event posted just
  // before the sleep began (its signal already reset) must not wait out the
  // whole pause.
  bool signalled = changed_.wait_for(lock, std::chrono::milliseconds(ms),
                                     [this] { return sleepSignalled_ || !messages_.empty(); });
  sleepSignalled_ = false;
  return signalled;
}

}  // namespace qp
