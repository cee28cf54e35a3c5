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

UiDispatcher::~UiDispatcher() {
  std::lock_guard lock(mutex_);
  if (!serving_) return;
  g_source_destroy(serving_);
  g_source_unref(serving_);
  serving_ = nullptr;
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
  if (!serving_) {
    serving_ = g_idle_source_new();
    g_source_set_priority(serving_, G_PRIORITY_DEFAULT);
    // A request served in a nested loop (a box that waits in a loop of its
    // own) must not hold up the others.
    g_source_set_can_recurse(serving_, TRUE);
    g_source_set_callback(serving_, OnServe, this, nullptr);
    g_source_attach(serving_, context_);
  }
  changed_.wait(lock, [&pending] { return pending.done; });
}

gboolean UiDispatcher::OnServe(gpointer self) {
  return static_cast<UiDispatcher*>(self)->ServeSlice() ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
}

// False when the queue is empty and the source goes (the loop drops its own
// reference on the return). A slice run in a nested loop may have removed
// this source already and a new request attached another: only the source
// being dispatched is forgotten here.
bool UiDispatcher::ServeSlice() {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kServeSliceMs);
  GSource* self = g_main_current_source();
  for (;;) {
    {
      std::lock_guard lock(mutex_);
      if (queue_.empty()) {
        if (serving_ && serving_ == self) {
          g_source_unref(serving_);
          serving_ = nullptr;
        }
        return false;
      }
    }
    ServeOne();
    if (std::chrono::steady_clock::now() >= end) return true;
  }
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
