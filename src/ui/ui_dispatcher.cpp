#include "ui/ui_dispatcher.h"

namespace qp {
namespace {

gboolean RunPosted(gpointer data) {
  (*static_cast<std::function<void()>*>(data))();
  return G_SOURCE_REMOVE;
}

void DeletePosted(gpointer data) { delete static_cast<std::function<void()>*>(data); }

}  // namespace

void PostToLoop(GMainContext* context, std::function<void()> work) {
  GSource* source = g_idle_source_new();
  g_source_set_priority(source, G_PRIORITY_DEFAULT);
  g_source_set_callback(source, RunPosted, new std::function<void()>(std::move(work)),
                        DeletePosted);
  g_source_attach(source, context);
  g_source_unref(source);
}

UiDispatcher::UiDispatcher(GMainContext* context, UiBackend& backend, Server server)
    : context_(context),
      backend_(backend),
      server_(std::move(server)),
      uiThread_(std::this_thread::get_id()) {}

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
  PostToLoop(context_, [this, alive = std::weak_ptr<int>(alive_)] {
    if (!alive.expired()) ServePending();
  });
  changed_.wait(lock, [&pending] { return pending.done; });
}

void UiDispatcher::ServePending() {
  std::unique_lock lock(mutex_);
  while (!queue_.empty()) {
    Pending* pending = queue_.front();
    queue_.pop_front();
    lock.unlock();
    server_(*pending->runner, pending->kind, *pending->text, FinishOf(pending));
    lock.lock();
  }
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
    ServePending();
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
