#include "platform/lifetime_token.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <vector>

#include "platform/dispatch/virtual_queue.h"

namespace orvik::platform {
namespace {

// An owner whose posted work must not run after it is gone.
class Retrier {
 public:
  Retrier(TaskQueue& queue, std::vector<int>& ran, int name) : queue_(queue), ran_(ran), name_(name) {}
  void retryLater() {
    queue_.post([weak = lifetime_.weak(this)] {
      if (auto* self = weak.get()) self->ran_.push_back(self->name_);
    });
  }
  void restart() { lifetime_.invalidate(); }

 private:
  TaskQueue& queue_;
  std::vector<int>& ran_;
  int name_;
  LifetimeToken lifetime_;
};

TEST(LifetimeToken, PostedWorkRunsOnlyForOwnersThatStillExist) {
  VirtualQueue queue;
  std::vector<int> ran;
  auto kept = std::make_unique<Retrier>(queue, ran, 1);
  auto dropped = std::make_unique<Retrier>(queue, ran, 2);
  kept->retryLater();
  dropped->retryLater();
  dropped.reset();
  queue.runUntilIdle();
  EXPECT_EQ(ran, std::vector<int>{1});
}

TEST(LifetimeToken, InvalidatingForgetsEarlierRefsButNotLaterOnes) {
  VirtualQueue queue;
  std::vector<int> ran;
  Retrier retrier(queue, ran, 7);
  retrier.retryLater();
  retrier.restart();
  retrier.retryLater();
  queue.runUntilIdle();
  EXPECT_EQ(ran, std::vector<int>{7});
}

TEST(LifetimeToken, AnEmptyRefIsNull) {
  const WeakRef<int> none;
  EXPECT_EQ(none.get(), nullptr);
  EXPECT_FALSE(none);
}

}  // namespace
}  // namespace orvik::platform
