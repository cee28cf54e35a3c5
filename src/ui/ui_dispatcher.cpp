#include "ui/ui_dispatcher.h"

#include <glib-unix.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace qp {

UiDispatcher::UiDispatcher(GMainContext* context, UiBackend& backend, Server server)
    : context_(context),
      backend_(backend),
      server_(std::move(server)),
      uiThread_(std::this_thread::get_id()) {
  wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wakeFd_ < 0) {
    // Without it no request could ever be served: nothing can go on.
    std::perror("quorpack: eventfd");
    std::abort();
  }
  watch_ = g_unix_fd_source_new(wakeFd_, G_IO_IN);
  // A request served in a nested loop (a box that waits in a loop of its
  // own) must not hold up the others.
  g_source_set_can_recurse(watch_, TRUE);
  g_source_set_callback(watch_, G_SOURCE_FUNC(OnWake), this, nullptr);
  g_source_attach(watch_, context_);
}

UiDispatcher::~UiDispatcher() {
  g_source_destroy(watch_);
  g_source_unref(watch_);
  close(wakeFd_);
}

void UiDispatcher::WakeLocked() {
  if (woken_) return;
  woken_ = true;
  uint64_t one = 1;
  // Never blocks and never fails short of a counter overflow, which one
  // pending wake-up at a time rules out.
  ssize_t written = write(wakeFd_, &one, sizeof one);
  (void)written;
}

void UiDispatcher::Request(ScriptRunner& runner, UiRequestKind kind, const std::string& text) {
  if (ReturnsAtOnce(kind)) return;
  if (std::this_thread::get_id() == uiThread_) {
    // Only a sender on the UI thread itself waits in a nested loop.
    auto finished = std::make_shared<bool>(false);
    server_(runner, kind, text, [finished] { *finished = true; });
    while (!*finished) g_main_context_iteration(context_, TRUE);
    return;
  }
  Pending pending{&runner, kind, &text};
  std::unique_lock lock(mutex_);
  queue_.push_back(&pending);
  changed_.notify_all();
  WakeLocked();
  changed_.wait(lock, [&pending] { return pending.done; });
}

void UiDispatcher::Post(std::function<void()> work) {
  std::lock_guard lock(mutex_);
  posted_.push_back(std::move(work));
  WakeLocked();
}

gboolean UiDispatcher::OnWake(gint, GIOCondition, gpointer self) {
  static_cast<UiDispatcher*>(self)->Dispatch();
  return G_SOURCE_CONTINUE;
}

// The wake-up is taken before the queues are looked at, so a request queued
// meanwhile either is seen here or wakes the loop again.
void UiDispatcher::Dispatch() {
  uint64_t count;
  ssize_t taken = read(wakeFd_, &count, sizeof count);
  (void)taken;
  std::deque<std::function<void()>> posted;
  {
    std::lock_guard lock(mutex_);
    woken_ = false;
    posted.swap(posted_);
  }
  for (auto& work : posted) work();
  if (ServeSlice()) {
    std::lock_guard lock(mutex_);
    WakeLocked();
  }
}

bool UiDispatcher::ServeSlice() {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kServeSliceMs);
  while (ServeOne())
    if (std::chrono::steady_clock::now() >= end) {
      std::lock_guard lock(mutex_);
      return !queue_.empty();
    }
  return false;
}

bool UiDispatcher::ServeOne() {
  Pending* pending;
  {
    std::lock_guard lock(mutex_);
    if (queue_.empty()) return false;
    pending = queue_.front();
    queue_.pop_front();
  }
  server_(*pending->runner, pending->kind, *pending->text, FinishOf(pending));
  return true;
}

size_t UiDispatcher::ServeQueued() {
  size_t queued;
  {
    std::lock_guard lock(mutex_);
    queued = queue_.size();
  }
  size_t served = 0;
  while (served < queued && ServeOne()) ++served;
  return served;
}

// The sender's Pending lives on its stack until `done`, so a late finish is
// safe as long as the dispatcher lives; a finish after that does nothing.
UiDispatcher::Finish UiDispatcher::FinishOf(Pending* pending) {
  return [this, pending, alive = std::weak_ptr<int>(alive_)] {
    if (alive.expired()) return;
    std::lock_guard lock(mutex_);
    pending->done = true;
    changed_.notify_all();
  };
}

bool UiDispatcher::WaitServing(const std::function<bool()>& done,
                               std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    ServeQueued();
    std::unique_lock lock(mutex_);
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    changed_.wait_until(lock, deadline, [&] { return !queue_.empty() || done(); });
  }
}

void UiDispatcher::Notify() {
  std::lock_guard lock(mutex_);
  changed_.notify_all();
}

}  // namespace qp
