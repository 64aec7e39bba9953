#include "calls/media/call_timer_manager.h"

#include <gtest/gtest.h>

#include "platform/dispatch/virtual_queue.h"

namespace orvik {
namespace {

class RecordingTimerDelegate : public CallTimerDelegate {
 public:
  void ringTimerDidExpire() override { expiredAt.push_back(queue->clock().secondsSince(start)); }
  void callTimerDidTick(double elapsed) override { ticks.push_back(elapsed); }

  platform::VirtualQueue* queue = nullptr;
  platform::Clock::MonotonicTime start;
  std::vector<double> expiredAt;
  std::vector<double> ticks;
};

class CallTimerManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    delegate->queue = &queue;
    delegate->start = queue.clock().monotonicNow();
    timers.setDelegate(delegate);
  }

  platform::VirtualQueue queue;
  std::shared_ptr<RecordingTimerDelegate> delegate = std::make_shared<RecordingTimerDelegate>();
  CallTimerManager timers{&queue};
};

TEST_F(CallTimerManagerTest, RestartingTheRingTimerExpiresOnce35SecondsAfterTheLastStart) {
  timers.startRingTimer();
  queue.advance(10);
  timers.startRingTimer();
  queue.advance(100);
  EXPECT_EQ(delegate->expiredAt, std::vector<double>{45.0});
  EXPECT_FALSE(timers.isRingTimerArmed());
}

TEST_F(CallTimerManagerTest, StoppingBeforeExpiryMeansNoExpiry) {
  timers.startRingTimer();
  queue.advance(34.9);
  timers.stopRingTimer();
  timers.startRingTimer();
  queue.advance(20);
  timers.stopAll();
  queue.advance(100);
  EXPECT_TRUE(delegate->expiredAt.empty());
}

TEST_F(CallTimerManagerTest, PauseKeepsTheCountAndResumeContinuesIt) {
  timers.startDurationTimer();
  queue.advance(10);
  timers.pauseDurationTimer();
  queue.advance(30);  // a reconnect window is not counted
  timers.resumeDurationTimer();
  timers.resumeDurationTimer();  // already running: no second timer
  queue.advance(2);
  EXPECT_EQ(delegate->ticks, (std::vector<double>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
}

TEST_F(CallTimerManagerTest, StartAgainAndResumeAfterStopCountFromZero) {
  timers.startDurationTimer();
  queue.advance(3.5);
  timers.startDurationTimer();
  queue.advance(1);
  EXPECT_EQ(delegate->ticks.back(), 1.0);
  timers.stopAll();
  EXPECT_EQ(timers.elapsedSeconds(), 0.0);
  timers.resumeDurationTimer();
  queue.advance(1);
  EXPECT_EQ(delegate->ticks.back(), 1.0);
}

TEST_F(CallTimerManagerTest, WithoutADelegateTheRingExpiresSilentlyAndTicksStillCount) {
  timers.setDelegate({});
  timers.startRingTimer();
  timers.startDurationTimer();
  queue.advance(40);
  EXPECT_EQ(timers.elapsedSeconds(), 40.0);
  EXPECT_TRUE(delegate->expiredAt.empty());
  EXPECT_TRUE(delegate->ticks.empty());
}

TEST_F(CallTimerManagerTest, AShortenedCallSecondSpeedsUpTheCountButNotTheRing) {
  CallTimerManager fast(&queue, 1.0 / 32);
  fast.setDelegate(delegate);
  fast.startRingTimer();
  fast.startDurationTimer();
  queue.advance(30);
  // 960 ticks of one call second each.
  ASSERT_EQ(delegate->ticks.size(), 960u);
  EXPECT_EQ(delegate->ticks.back(), 960.0);
  EXPECT_EQ(fast.elapsedSeconds(), 960.0);
  EXPECT_TRUE(delegate->expiredAt.empty());
  queue.advance(5);
  EXPECT_EQ(delegate->expiredAt, std::vector<double>{35.0});
  fast.stopAll();
}

TEST_F(CallTimerManagerTest, ADestroyedManagerLeavesNoTimerBehind) {
  {
    CallTimerManager local(&queue);
    local.setDelegate(delegate);
    local.startRingTimer();
    local.startDurationTimer();
  }
  queue.advance(60);
  EXPECT_TRUE(delegate->expiredAt.empty());
  EXPECT_TRUE(delegate->ticks.empty());
}

}  // namespace
}  // namespace orvik
