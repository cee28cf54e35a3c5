// Carries UI requests from script threads to the UI thread, which runs a GLib
// main loop. A script thread queues its request, wakes the loop and blocks
// until the UI thread has served it: the synchronous send that scripts rely
// on. Requests are served one at a time, in the order they arrived. Closures
// posted from any thread (a script's end notice) travel the same way.
//
// The loop serves requests in slices: one dispatch serves queued requests for
// at most kServeSliceMs (at least one request), then hands the loop back,
// which polls its other sources before the next slice. So signals, the event
// pipe and desktop events always get their turn, however many scripts keep
// the queue full.
//
// Script threads never call into GLib: they queue under the dispatcher's
// mutex and wake the loop by writing to an eventfd that the loop watches.
// Every hand-over between threads is then ordered by that mutex, which a
// race detector sees (it cannot see GLib's own locks).
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

  // Any thread: runs `work` once on the UI thread, from the loop, never on
  // the calling thread. Closures still waiting when the dispatcher goes are
  // dropped without running.
  void Post(std::function<void()> work);

  // UI thread: serves the oldest queued request, if any; true when one was
  // served.
  bool ServeOne();
  // UI thread: serves the requests queued at the moment of the call, not
  // those that arrive meanwhile, so it always returns; the number served.
  size_t ServeQueued();
  // UI thread: waits until `done()` holds or `deadline` passes, serving
  // requests meanwhile, one queue's worth at a time with a look at done()
  // in between; returns done(). Posted closures and other loop sources are
  // not run.
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
  // Caller holds mutex_: makes the loop dispatch OnWake once more.
  void WakeLocked();
  // The loop's side: posted closures, then one slice of requests.
  static gboolean OnWake(gint fd, GIOCondition condition, gpointer self);
  void Dispatch();
  // True when requests are still queued at the end of the slice.
  bool ServeSlice();

  GMainContext* context_;
  UiBackend& backend_;
  Server server_;
  std::thread::id uiThread_;
  int wakeFd_ = -1;           // eventfd, readable while a wake-up is pending
  GSource* watch_ = nullptr;  // watches wakeFd_ on the loop
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Pending*> queue_;                 // guarded by mutex_
  std::deque<std::function<void()>> posted_;   // guarded by mutex_
  bool woken_ = false;  // guarded by mutex_: wakeFd_ holds a wake-up not yet taken
  // Finishes may outlive the dispatcher (a box closed late); they do nothing
  // once this token is gone.
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace qp
