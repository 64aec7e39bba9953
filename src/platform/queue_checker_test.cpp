#include "platform/queue_checker.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "platform/dispatch/serial_queue.h"
#include "platform/dispatch/virtual_queue.h"

namespace orvik::platform {
namespace {

// What a main-queue-only class looks like from outside.
class MainQueueCounter {
 public:
  void increment() {
    ORVIK_ASSERT_ON_MAIN_QUEUE();
    ++count_;
  }
  int count() const { return count_; }

 private:
  int count_ = 0;
};

bool askFromAnotherThread(const QueueChecker& checker) {
  return std::async(std::launch::async, [&] { return checker.isCurrent(); }).get();
}

TEST(QueueChecker, TheMainQueueCheckerFollowsTheInstalledMainQueue) {
  VirtualQueue queue;
  ScopedMainQueue main(queue);
  const QueueChecker checker;
  EXPECT_TRUE(checker.isCurrent());
  EXPECT_FALSE(askFromAnotherThread(checker));

  bool insideTask = false;
  queue.post([&] { insideTask = checker.isCurrent(); });
  queue.runUntilIdle();
  EXPECT_TRUE(insideTask);
}

TEST(QueueChecker, AQueueCheckerIsCurrentOnlyOnItsQueue) {
  SerialQueue serial("com.orvik.test.queueChecker");
  const QueueChecker checker(serial);
  EXPECT_FALSE(checker.isCurrent());
  std::promise<bool> onSerial;
  serial.post([&] { onSerial.set_value(checker.isCurrent()); });
  EXPECT_TRUE(onSerial.get_future().get());
}

TEST(QueueChecker, AMainQueueMethodRunsOnTheMainQueue) {
  VirtualQueue queue;
  ScopedMainQueue main(queue);
  MainQueueCounter counter;
  counter.increment();
  queue.post([&] { counter.increment(); });
  queue.runUntilIdle();
  EXPECT_EQ(counter.count(), 2);
}

// The suite runs with the checks compiled in: were they off, this would fail
// instead of dying.
TEST(QueueCheckerDeathTest, AMainQueueMethodCalledFromAnotherThreadAborts) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  VirtualQueue queue;
  ScopedMainQueue main(queue);
  MainQueueCounter counter;
  EXPECT_DEATH(std::thread([&] { counter.increment(); }).join(),
               "Queue check failed: increment called off its queue at .*queue_checker_test.cpp");
}

TEST(QueueCheckerDeathTest, AMethodCalledOffItsInjectedQueueAborts) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  SerialQueue serial("com.orvik.test.queueCheckerDeath");
  const QueueChecker checker(serial);
  EXPECT_DEATH(ORVIK_ASSERT_ON_QUEUE(checker), "Queue check failed");
}

}  // namespace
}  // namespace orvik::platform
