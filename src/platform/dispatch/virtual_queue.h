// Test doubles for time: a clock and a queue whose time moves only when the
// test says so. Tasks due at the same instant run in post order; tasks posted
// while the queue runs take their due time from the clock at that moment.
//
//   VirtualQueue queue;                 // its own VirtualClock
//   ScopedMainQueue main(queue);
//   manager.startRinging();
//   queue.advance(35.0);                // the ring timer fires here
//
// THREAD-SAFETY: post/postAfter from any thread (a real library thread may
// post to a virtual main queue); advance/runUntilIdle from the test's thread,
// which is also the queue's current thread.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "platform/dispatch/clock.h"
#include "platform/dispatch/task_queue.h"

namespace orvik::platform {

class VirtualClock final : public Clock {
 public:
  // Wall time starts at 2026-01-01T00:00:00Z unless set.
  VirtualClock();

  WallTime now() const override;
  MonotonicTime monotonicNow() const override;

  void advance(double seconds);
  // Moves both clocks forward so that monotonic time is `when` (never back).
  void advanceTo(MonotonicTime when);
  void setNow(WallTime wall);  // moves wall time only, as a user changing the clock would

 private:
  mutable std::mutex mutex_;
  WallTime wall_;
  MonotonicTime monotonic_;
};

class VirtualQueue final : public TaskQueue {
 public:
  using MonotonicTime = Clock::MonotonicTime;

  // Uses `clock` when given (several queues may share one), else its own.
  explicit VirtualQueue(VirtualClock* clock = nullptr);

  void post(Task task) override;
  void postAfter(double seconds, Task task) override;
  bool isCurrent() const override;
  MonotonicTime monotonicNow() const override { return clock_->monotonicNow(); }

  using TaskQueue::post;
  using TaskQueue::postAfter;

  // Runs every task due now, including tasks those tasks post for now.
  // Returns how many ran.
  std::size_t runUntilIdle();
  // Moves time forward by `seconds`, running each task when its due time is
  // reached, in due order; then runs what is due at the end.
  std::size_t advance(double seconds);
  // Advances to the next pending task's due time and runs what is due then.
  // Returns false when nothing is pending.
  bool runNext();

  std::size_t pendingCount() const;
  VirtualClock& clock() { return *clock_; }

 private:
  using Due = Clock::MonotonicTime;
  bool runOneDueBy(Due limit);

  std::unique_ptr<VirtualClock> ownClock_;
  VirtualClock* clock_;
  std::thread::id owner_;
  mutable std::mutex mutex_;
  std::map<std::pair<Due, std::uint64_t>, Task> tasks_;
  std::uint64_t nextSequence_ = 0;
};

}  // namespace orvik::platform
