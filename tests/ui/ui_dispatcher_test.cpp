// The dispatcher under load: script threads that ask again as soon as they
// are served keep its queue full, yet the loop's other sources and a waiting
// shutdown get their turn, because requests are served in slices.
#include "ui/ui_dispatcher.h"

#include <glib-unix.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "engine/script_runner.h"
#include "ui/console_backend.h"

namespace qp {
namespace {

using namespace std::chrono_literals;

class BusyDispatcher : public ::testing::Test {
 protected:
  // Each request takes this long on the UI thread, so that one slice of
  // kServeSliceMs holds only a handful of them.
  static constexpr int kRequestMs = 5;
  static constexpr int kPerSlice = kServeSliceMs / kRequestMs + 1;
  static constexpr int kThreads = 8;
  // Past this many requests the threads stop asking, so that a loop that
  // never lets go of the queue still ends the test (and fails it).
  static constexpr int kServedCap = 400;

  void SetUp() override {
    context_ = g_main_context_new();
    dispatcher_ = std::make_unique<UiDispatcher>(
        context_, backend_,
        [this](ScriptRunner&, UiRequestKind, const std::string&, UiDispatcher::Finish finish) {
          std::this_thread::sleep_for(std::chrono::milliseconds(kRequestMs));
          ++served_;
          finish();
        });
    runners_ = std::vector<ScriptRunner>(kThreads);
    for (int i = 0; i < kThreads; ++i)
      threads_.emplace_back([this, i] {
        while (!stop_ && served_ < kServedCap)
          dispatcher_->Request(runners_[i], UiRequestKind::Note, "n");
        ++finished_;
      });
  }

  void TearDown() override {
    stop_ = true;
    // Whoever still waits for an answer gets it.
    auto deadline = std::chrono::steady_clock::now() + 20s;
    while (finished_ < kThreads && std::chrono::steady_clock::now() < deadline)
      if (!g_main_context_iteration(context_, FALSE)) std::this_thread::sleep_for(1ms);
    for (std::thread& thread : threads_) thread.join();
    dispatcher_.reset();
    g_main_context_unref(context_);
  }

  // Runs the loop until `done()` holds; false after 20 s.
  template <class Done>
  bool IterateUntil(Done done) {
    auto deadline = std::chrono::steady_clock::now() + 20s;
    while (!done() && std::chrono::steady_clock::now() < deadline)
      if (!g_main_context_iteration(context_, FALSE)) std::this_thread::sleep_for(1ms);
    return done();
  }

  // Every thread has a request waiting: the queue is full.
  void WaitUntilBusy() {
    ASSERT_TRUE(IterateUntil([this] { return served_ >= 2 * kThreads; }));
  }

  GMainContext* context_ = nullptr;
  ConsoleBackend backend_{-1, stderr, stdout};
  std::unique_ptr<UiDispatcher> dispatcher_;
  std::vector<ScriptRunner> runners_;
  std::vector<std::thread> threads_;
  std::atomic<int> served_{0};
  std::atomic<int> finished_{0};
  std::atomic<bool> stop_{false};
};

TEST_F(BusyDispatcher, OneDispatchServesOneSlice) {
  WaitUntilBusy();
  for (int round = 0; round < 5; ++round) {
    int before = served_;
    g_main_context_iteration(context_, FALSE);
    int inOneDispatch = served_ - before;
    EXPECT_LE(inOneDispatch, kPerSlice) << "round " << round;
  }
  EXPECT_LT(served_, kServedCap);
}

// A pipe that becomes readable while the queue is full is watched on the
// same loop: its watch runs within a slice or two, while the threads are
// still asking.
TEST_F(BusyDispatcher, AnFdWatchRunsWhileTheQueueStaysFull) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  std::atomic<int> servedAtWatch{-1};
  GSource* watch = g_unix_fd_source_new(fds[0], G_IO_IN);
  auto onReadable = +[](gint, GIOCondition, gpointer data) -> gboolean {
    auto* test = static_cast<std::pair<std::atomic<int>*, std::atomic<int>*>*>(data);
    *test->first = test->second->load();
    return G_SOURCE_REMOVE;
  };
  std::pair<std::atomic<int>*, std::atomic<int>*> data{&servedAtWatch, &served_};
  g_source_set_callback(watch, G_SOURCE_FUNC(onReadable), &data, nullptr);
  g_source_attach(watch, context_);
  WaitUntilBusy();
  int servedAtWrite = served_;
  ASSERT_EQ(write(fds[1], "x", 1), 1);
  EXPECT_TRUE(IterateUntil([&] { return servedAtWatch >= 0; }));
  EXPECT_LE(servedAtWatch - servedAtWrite, 2 * kPerSlice);
  EXPECT_LT(servedAtWatch, kServedCap);
  g_source_destroy(watch);
  g_source_unref(watch);
  close(fds[0]);
  close(fds[1]);
}

// A shutdown waiting for a script looks at its condition after each round
// of the requests that were queued, not only once the queue is empty.
TEST_F(BusyDispatcher, WaitServingSeesItsConditionWhileTheQueueStaysFull) {
  WaitUntilBusy();
  int target = served_ + 3;
  bool done = dispatcher_->WaitServing([&] { return served_ >= target; },
                                       std::chrono::steady_clock::now() + 20s);
  EXPECT_TRUE(done);
  EXPECT_LE(served_ - target, kThreads);
  EXPECT_LT(served_, kServedCap);
}

// The deadline holds too, with nobody to make the condition true.
TEST_F(BusyDispatcher, WaitServingEndsAtItsDeadline) {
  WaitUntilBusy();
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(dispatcher_->WaitServing([] { return false; }, start + 100ms));
  EXPECT_LT(served_, kServedCap);
}

// Closures posted from another thread run on the loop's thread, in order;
// those still waiting when the dispatcher goes never run.
TEST(DispatcherPost, ClosuresRunOnTheLoopThreadInOrderAndDieWithTheDispatcher) {
  GMainContext* context = g_main_context_new();
  ConsoleBackend backend(-1, stderr, stdout);
  auto dispatcher = std::make_unique<UiDispatcher>(
      context, backend, [](ScriptRunner&, UiRequestKind, const std::string&,
                           UiDispatcher::Finish finish) { finish(); });
  const std::thread::id loopThread = std::this_thread::get_id();
  std::vector<int> ran;
  bool onLoopThread = true;
  std::thread poster([&] {
    for (int k = 1; k <= 3; ++k)
      dispatcher->Post([&, k] {
        ran.push_back(k);
        onLoopThread = onLoopThread && std::this_thread::get_id() == loopThread;
      });
  });
  poster.join();
  EXPECT_TRUE(ran.empty());  // nothing runs before the loop does
  auto deadline = std::chrono::steady_clock::now() + 10s;
  while (ran.size() < 3 && std::chrono::steady_clock::now() < deadline)
    if (!g_main_context_iteration(context, FALSE)) std::this_thread::sleep_for(1ms);
  EXPECT_EQ(ran, (std::vector<int>{1, 2, 3}));
  EXPECT_TRUE(onLoopThread);
  bool late = false;
  dispatcher->Post([&late] { late = true; });
  dispatcher.reset();
  while (g_main_context_iteration(context, FALSE)) {
  }
  EXPECT_FALSE(late);
  g_main_context_unref(context);
}

}  // namespace
}  // namespace qp
