#include "calls/signaling/socketio/backoff.h"

#include <gtest/gtest.h>

namespace orvik::socketio {
namespace {

TEST(Backoff, DoublesFromTheMinimumUpToTheMaximumWithoutJitter) {
  const BackoffPolicy policy{0.5, 2.0, 0.0};
  const double expected[] = {0.5, 1.0, 2.0, 2.0, 2.0};
  for (unsigned attempt = 0; attempt < 5; ++attempt) {
    EXPECT_DOUBLE_EQ(backoffDelay(policy, attempt, 0.3), expected[attempt]) << attempt;
  }
  // Huge attempt counts neither overflow nor exceed the cap.
  EXPECT_DOUBLE_EQ(backoffDelay(policy, 4000000000u, 0.3), 2.0);
}

TEST(Backoff, JitterSpreadsAroundTheBaseAndNeverPassesTheMaximum) {
  const BackoffPolicy policy{0.5, 2.0, 0.5};
  EXPECT_DOUBLE_EQ(backoffDelay(policy, 0, 0.0), 0.25);
  EXPECT_DOUBLE_EQ(backoffDelay(policy, 0, 0.5), 0.5);
  EXPECT_NEAR(backoffDelay(policy, 0, 0.999999), 0.75, 1e-5);
  EXPECT_DOUBLE_EQ(backoffDelay(policy, 1, 0.0), 0.5);
  for (double random : {0.0, 0.25, 0.5, 0.75, 0.999}) {
    for (unsigned attempt = 0; attempt < 8; ++attempt) {
      const double delay = backoffDelay(policy, attempt, random);
      EXPECT_GE(delay, 0.25);
      EXPECT_LE(delay, 2.0);
    }
  }
}

TEST(Backoff, NonsensicalPoliciesAreClamped) {
  EXPECT_DOUBLE_EQ(backoffDelay(BackoffPolicy{-1.0, -5.0, 0.0}, 3, 0.5), 0.0);
  EXPECT_DOUBLE_EQ(backoffDelay(BackoffPolicy{3.0, 1.0, 0.0}, 0, 0.5), 3.0);  // max below min: min wins
  EXPECT_DOUBLE_EQ(backoffDelay(BackoffPolicy{1.0, 4.0, 7.0}, 0, 0.0), 0.0);   // jitter above 1 counts as 1
}

}  // namespace
}  // namespace orvik::socketio
