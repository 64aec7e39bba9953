#include "updater/update_check_schedule.h"

#include <gtest/gtest.h>

#include "platform/dispatch/virtual_queue.h"

namespace orvik {
namespace {

TEST(UpdateCheckScheduleTest, ChecksTwoSecondsAfterStartThenEveryHalfHourAndOnEachActivation) {
  platform::VirtualQueue queue;
  int checks = 0;
  UpdateCheckSchedule schedule(queue, [&] { ++checks; });
  queue.advance(60.0);
  EXPECT_EQ(checks, 0) << "nothing before the window is shown";

  schedule.start();
  schedule.start();  // a second start adds nothing
  queue.advance(1.9);
  EXPECT_EQ(checks, 0);
  queue.advance(0.1);
  EXPECT_EQ(checks, 1);
  queue.advance(1800.0 - 2.0 - 0.001);
  EXPECT_EQ(checks, 1);
  queue.advance(0.001);
  EXPECT_EQ(checks, 2);
  queue.advance(3 * 1800.0);
  EXPECT_EQ(checks, 5);

  schedule.applicationBecameActive();
  schedule.applicationBecameActive();
  EXPECT_EQ(checks, 7);
}

TEST(UpdateCheckScheduleTest, NothingRunsAfterTheScheduleIsGone) {
  platform::VirtualQueue queue;
  int checks = 0;
  {
    UpdateCheckSchedule schedule(queue, [&] { ++checks; });
    schedule.start();
  }
  queue.advance(4000.0);
  EXPECT_EQ(checks, 0);
}

}  // namespace
}  // namespace orvik
