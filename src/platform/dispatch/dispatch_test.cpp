#include <glib.h>
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/dispatch/clock.h"
#include "platform/dispatch/glib_main_queue.h"
#include "platform/dispatch/repeating_timer.h"
#include "platform/dispatch/serial_queue.h"
#include "platform/dispatch/virtual_queue.h"

namespace orvik::platform {
namespace {

TEST(VirtualQueue, RunsTasksInDueOrderAndSameDueTimeInPostOrder) {
  VirtualQueue queue;
  std::vector<std::string> ran;
  queue.postAfter(2.0, [&] { ran.push_back("b1"); });
  queue.postAfter(1.0, [&] { ran.push_back("a"); });
  queue.postAfter(2.0, [&] { ran.push_back("b2"); });
  queue.post([&] { ran.push_back("now"); });
  queue.postAfter(3.0, [&] { ran.push_back("late"); });

  EXPECT_EQ(queue.advance(2.0), 4u);
  EXPECT_EQ(ran, (std::vector<std::string>{"now", "a", "b1", "b2"}));
  EXPECT_EQ(queue.pendingCount(), 1u);
}

TEST(VirtualQueue, TimeMovesOnlyWhenTheTestSaysSo) {
  VirtualQueue queue;
  const auto start = queue.clock().monotonicNow();
  const auto wallStart = queue.clock().now();
  bool fired = false;
  queue.postAfter(35.0, [&] { fired = true; });
  queue.runUntilIdle();
  EXPECT_FALSE(fired);
  queue.advance(34.999);
  EXPECT_FALSE(fired);
  queue.advance(0.001);
  EXPECT_TRUE(fired);
  EXPECT_DOUBLE_EQ(queue.clock().secondsSince(start), 35.0);
  EXPECT_EQ(queue.clock().now() - wallStart, std::chrono::seconds(35));
}

TEST(VirtualQueue, TaskSeesItsOwnDueTimeAndPostsRelativeToIt) {
  VirtualQueue queue;
  const auto start = queue.clock().monotonicNow();
  std::vector<double> seenAt;
  queue.postAfter(1.0, [&] {
    seenAt.push_back(queue.clock().secondsSince(start));
    queue.postAfter(1.0, [&] { seenAt.push_back(queue.clock().secondsSince(start)); });
  });
  queue.advance(10.0);
  EXPECT_EQ(seenAt, (std::vector<double>{1.0, 2.0}));
}

TEST(VirtualQueue, RunUntilIdleRunsTasksPostedByTasksForNow) {
  VirtualQueue queue;
  int depth = 0;
  std::function<void()> chain = [&] {
    if (++depth < 5) queue.post(chain);
  };
  queue.post(chain);
  EXPECT_EQ(queue.runUntilIdle(), 5u);
  EXPECT_EQ(depth, 5);
}

TEST(VirtualQueue, RunNextJumpsToTheNextDueTask) {
  VirtualQueue queue;
  int ran = 0;
  queue.postAfter(45.0, [&] { ++ran; });
  EXPECT_TRUE(queue.runNext());
  EXPECT_EQ(ran, 1);
  EXPECT_FALSE(queue.runNext());
}

TEST(VirtualQueue, IsCurrentOnlyOnTheThreadThatOwnsIt) {
  VirtualQueue queue;
  EXPECT_TRUE(queue.isCurrent());
  bool otherThread = true;
  std::thread([&] { otherThread = queue.isCurrent(); }).join();
  EXPECT_FALSE(otherThread);
}

TEST(VirtualQueue, AcceptsPostsFromOtherThreads) {
  VirtualQueue queue;
  std::atomic<int> ran{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 100; ++i) queue.post([&] { ++ran; });
    });
  }
  for (auto& thread : threads) thread.join();
  queue.runUntilIdle();
  EXPECT_EQ(ran.load(), 400);
}

TEST(WorkItem, CancelledBeforeItIsDueNeverRuns) {
  VirtualQueue queue;
  bool ran = false;
  auto item = std::make_shared<WorkItem>([&] { ran = true; });
  queue.postAfter(5.0, item);
  queue.advance(4.0);
  item->cancel();
  queue.advance(10.0);
  EXPECT_FALSE(ran);
  EXPECT_TRUE(item->isCancelled());
}

TEST(WorkItem, RunsOnceAndReleasesItsCaptures) {
  VirtualQueue queue;
  auto token = std::make_shared<int>(7);
  std::weak_ptr<int> watch = token;
  int runs = 0;
  auto item = std::make_shared<WorkItem>([&runs, token] { runs += *token > 0; });
  token.reset();
  queue.post(item);
  queue.post(item);
  queue.runUntilIdle();
  EXPECT_EQ(runs, 1);
  EXPECT_TRUE(watch.expired());
}

TEST(WorkItem, CancelReleasesCapturesAtOnce) {
  auto token = std::make_shared<int>(1);
  std::weak_ptr<int> watch = token;
  WorkItem item([token] {});
  token.reset();
  EXPECT_FALSE(watch.expired());
  item.cancel();
  EXPECT_TRUE(watch.expired());
}

TEST(RepeatingTimer, TicksEveryIntervalUntilStopped) {
  VirtualQueue queue;
  int ticks = 0;
  RepeatingTimer timer(queue, 1.0, [&] { ++ticks; });
  timer.start();
  queue.advance(0.5);
  EXPECT_EQ(ticks, 0);
  queue.advance(3.0);
  EXPECT_EQ(ticks, 3);
  timer.stop();
  queue.advance(10.0);
  EXPECT_EQ(ticks, 3);
  EXPECT_FALSE(timer.isRunning());
}

TEST(RepeatingTimer, RestartDropsTheTickScheduledBefore) {
  VirtualQueue queue;
  int ticks = 0;
  RepeatingTimer timer(queue, 1.0, [&] { ++ticks; });
  timer.start();
  queue.advance(0.9);
  timer.start();
  queue.advance(0.9);
  EXPECT_EQ(ticks, 0);
  queue.advance(0.1);
  EXPECT_EQ(ticks, 1);
}

TEST(RepeatingTimer, StoppingFromItsOwnTickEndsIt) {
  VirtualQueue queue;
  int ticks = 0;
  RepeatingTimer* self = nullptr;
  RepeatingTimer timer(queue, 1.0, [&] {
    if (++ticks == 2) self->stop();
  });
  self = &timer;
  timer.start();
  queue.advance(10.0);
  EXPECT_EQ(ticks, 2);
}

TEST(RepeatingTimer, DestroyedTimerNeverTicks) {
  VirtualQueue queue;
  int ticks = 0;
  {
    RepeatingTimer timer(queue, 1.0, [&] { ++ticks; });
    timer.start();
  }
  queue.advance(5.0);
  EXPECT_EQ(ticks, 0);
}

TEST(SerialQueue, RunsTasksInOrderOnItsOwnThread) {
  SerialQueue queue("com.orvik.debugLogManager");
  std::vector<int> order;
  std::atomic<bool> allOnQueue{true};
  for (int i = 0; i < 200; ++i) {
    queue.post([&, i] {
      if (!queue.isCurrent()) allOnQueue = false;
      order.push_back(i);
    });
  }
  queue.flush();
  ASSERT_EQ(order.size(), 200u);
  for (int i = 0; i < 200; ++i) EXPECT_EQ(order[i], i);
  EXPECT_TRUE(allOnQueue);
  EXPECT_FALSE(queue.isCurrent());
  char name[16] = {};
  std::thread::id seen;
  queue.post([&] {
    pthread_getname_np(pthread_self(), name, sizeof name);
    seen = std::this_thread::get_id();
  });
  queue.flush();
  EXPECT_STREQ(name, "debugLogManager");
  EXPECT_NE(seen, std::this_thread::get_id());
}

TEST(SerialQueue, DelayedTasksRunAfterImmediateOnesAndInDueOrder) {
  SerialQueue queue("delays");
  std::vector<std::string> order;
  std::mutex mutex;
  auto record = [&](std::string what) {
    std::lock_guard lock(mutex);
    order.push_back(std::move(what));
  };
  std::promise<void> done;
  queue.postAfter(0.05, [&] {
    record("50ms");
    done.set_value();
  });
  queue.postAfter(0.02, [&] { record("20ms"); });
  queue.post([&] { record("now"); });
  done.get_future().wait();
  std::lock_guard lock(mutex);
  EXPECT_EQ(order, (std::vector<std::string>{"now", "20ms", "50ms"}));
}

// Runs the GLib default main context until `done` or a generous deadline; the
// deadline only guards against a hang, it is not what the test measures.
void iterateUntil(const std::function<bool()>& done) {
  const gint64 deadline = g_get_monotonic_time() + 10 * G_USEC_PER_SEC;
  while (!done() && g_get_monotonic_time() < deadline) g_main_context_iteration(nullptr, TRUE);
}

TEST(GlibMainQueueIntegration, RunsPostsFromOtherThreadsOnTheMainContextInPostOrder) {
  GlibMainQueue queue;
  std::vector<int> order;
  std::atomic<bool> allOnMain{true};
  std::thread poster([&] {
    for (int i = 0; i < 500; ++i) {
      queue.post([&, i] {
        if (!queue.isCurrent()) allOnMain = false;
        order.push_back(i);
      });
    }
  });
  poster.join();
  iterateUntil([&] { return order.size() == 500; });
  ASSERT_EQ(order.size(), 500u);
  for (int i = 0; i < 500; ++i) ASSERT_EQ(order[i], i);
  EXPECT_TRUE(allOnMain);
}

TEST(GlibMainQueueIntegration, DelayedAndCancelledWork) {
  GlibMainQueue queue;
  std::vector<std::string> order;
  auto cancelled = std::make_shared<WorkItem>([&] { order.push_back("cancelled"); });
  queue.postAfter(0.03, [&] { order.push_back("30ms"); });
  queue.postAfter(0.01, cancelled);
  queue.postAfter(0.01, [&] { order.push_back("10ms"); });
  queue.post([&] { order.push_back("now"); });
  cancelled->cancel();
  iterateUntil([&] { return order.size() == 3; });
  EXPECT_EQ(order, (std::vector<std::string>{"now", "10ms", "30ms"}));
}

TEST(GlibMainQueueIntegration, MainQueueIsTheInstalledOne) {
  VirtualQueue virtualQueue;
  {
    ScopedMainQueue scoped(virtualQueue);
    EXPECT_EQ(&mainQueue(), &virtualQueue);
  }
  EXPECT_NE(&mainQueue(), &virtualQueue);
  EXPECT_NE(dynamic_cast<GlibMainQueue*>(&mainQueue()), nullptr);
}

}  // namespace
}  // namespace orvik::platform
