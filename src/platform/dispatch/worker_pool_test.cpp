#include "platform/dispatch/worker_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <vector>

namespace orvik::platform {
namespace {

using namespace std::chrono_literals;

// Generous guard for threads the machine may be slow to schedule.
constexpr auto kGuard = 30s;

TEST(WorkerPool, ATaskThatBlocksHoldsOneThreadNotTheTasksBehindIt) {
  WorkerPool pool("com.orvik.test", 3);
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::promise<void> stuckStarted;
  pool.post([&] {
    stuckStarted.set_value();
    released.wait();
  });
  ASSERT_EQ(stuckStarted.get_future().wait_for(kGuard), std::future_status::ready);

  std::atomic<int> done{0};
  std::promise<void> allDone;
  constexpr int kQuick = 8;
  for (int i = 0; i < kQuick; ++i) {
    pool.post([&] {
      EXPECT_TRUE(pool.isCurrent());
      if (++done == kQuick) allDone.set_value();
    });
  }
  EXPECT_EQ(allDone.get_future().wait_for(kGuard), std::future_status::ready);
  EXPECT_FALSE(pool.isCurrent());
  release.set_value();
}

TEST(WorkerPool, NeverRunsMoreThanItsWidthAtOnce) {
  constexpr int kWidth = 3;
  WorkerPool pool("com.orvik.test", kWidth);
  std::mutex mutex;
  int running = 0, peak = 0;
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::atomic<int> started{0}, finished{0};
  std::promise<void> allFinished;
  constexpr int kTasks = 10;
  for (int i = 0; i < kTasks; ++i) {
    pool.post([&] {
      {
        std::lock_guard lock(mutex);
        peak = std::max(peak, ++running);
      }
      ++started;
      released.wait();
      {
        std::lock_guard lock(mutex);
        --running;
      }
      if (++finished == kTasks) allFinished.set_value();
    });
  }
  // Every thread is held: exactly `width` tasks started.
  const auto deadline = std::chrono::steady_clock::now() + kGuard;
  while (started < kWidth && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(1ms);
  EXPECT_EQ(started, kWidth);
  release.set_value();
  ASSERT_EQ(allFinished.get_future().wait_for(kGuard), std::future_status::ready);
  EXPECT_EQ(peak, kWidth);
}

TEST(WorkerPool, DelayedTasksWaitForTheirTimeAndDestructionDropsThem) {
  std::atomic<bool> early{false}, late{false};
  {
    WorkerPool pool("com.orvik.test", 2);
    std::promise<void> ran;
    pool.postAfter(0.05, [&] {
      early = true;
      ran.set_value();
    });
    pool.postAfter(600.0, [&] { late = true; });
    EXPECT_EQ(ran.get_future().wait_for(kGuard), std::future_status::ready);
  }
  EXPECT_TRUE(early);
  EXPECT_FALSE(late);
}

}  // namespace
}  // namespace orvik::platform
