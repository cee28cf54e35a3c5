// Carries UI requests from script threads to the UI thread, which runs a GLib
// main loop. A script thread queues its request, wakes the loop and blocks
// until the UI thread has served it: the synchronous send that scripts rely
// on. Requests are served one at a time, in the order they arrived.
//
// The loop serves requests in slices: one dispatch of the serving source
// serves queued requests for at most kServeSliceMs (at least one request),
// then hands the loop back, which polls its other sources before the next
// slice. So signals, the event pipe and desktop events always get their
// turn, however many scripts keep the queue full.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include <glib.h>

#include "engine/ui_request.h"
#include "ui/ui_backend.h"

namespace qp {

// The longest run of request serving in one main-loop dispatch (a request
// that takes longer still completes).
inline constexpr int kServeSliceMs = 20;

// Runs `work` once on the thread that runs `context`'s loop. Unlike
// g_main_context_invoke, it never runs `work` on the calling thread, even
// when the context happens to be free at that moment.
void PostToLoop(GMainContext* context, std::function<void()> work);

class UiDispatcher : public UiService {
 public:
  // Called once when a request has been served; a server may keep it and
  // call it later (a message box that the user has not closed yet), and the
  // sender waits until then while the loop serves other requests.
  using Finish = std::function<void()>;
  using Server =
      std::function<void(ScriptRunner&, UiRequestKind, const std::string&, Finish finish)>;

  // Must be constructed on the UI thread, and destroyed there.
  UiDispatcher(GMainContext* context, UiBackend& backend, Server server);
  ~UiDispatcher() override;
  UiDispatcher(const UiDispatcher&) = delete;
  UiDispatcher& operator=(const UiDispatcher&) = delete;

  // Any thread: serves the request on the UI thread and returns afterwards.
  // The status texts (kinds 2 to 5) have no effect, so they return at once
  // without waiting for the UI thread: a script that is being stopped reports
  // "stop" and "exit" this way while the UI thread waits for it to end.
  void Request(ScriptRunner& runner, UiRequestKind kind, const std::string& text) override;
  int ScreenWidth() override { return backend_.ScreenWidth(); }
  int ScreenHeight() override { return backend_.ScreenHeight(); }

  // UI thread: serves the oldest queued request, if any; true when one was
  // served.
  bool ServeOne();
  // UI thread: serves the requests queued at the moment of the call, not
  // those that arrive meanwhile, so it always returns; the number served.
  size_t ServeQueued();
  // UI thread: waits until `done()` holds or `deadline` passes, serving
  // requests meanwhile, one queue's worth at a time with a look at done()
  // in between; returns done(). Other loop sources are not run.
  bool WaitServing(const std::function<bool()>& done,
                   std::chrono::steady_clock::time_point deadline);
  // Any thread: wakes WaitServing so that it looks at its condition again.
  void Notify();

 private:
  struct Pending {
    ScriptRunner* runner;
    UiRequestKind kind;
    const std::string* text;
    bool done = false;
  };

  Finish FinishOf(Pending* pending);
  // The serving source: one slice per dispatch; removed once the queue is
  // empty, and attached again by the next request.
  static gboolean OnServe(gpointer self);
  bool ServeSlice();

  GMainContext* context_;
  UiBackend& backend_;
  Server server_;
  std::thread::id uiThread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Pending*> queue_;
  GSource* serving_ = nullptr;  // attached while requests wait; guarded by mutex_
  // Posted closures may outlive the dispatcher in the loop; they run only
  // while this token lives.
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace qp
