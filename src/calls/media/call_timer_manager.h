// The two clocks of a call: the ring timer, which gives up on an unanswered
// call after 35 seconds, and the duration timer, which ticks once a second
// while the call is connected. The call manager owns one for the life of the
// process and reuses it for every call.
// THREAD-SAFETY: main queue only; the delegate is called there.
#pragma once

#include <memory>

#include "platform/dispatch/repeating_timer.h"
#include "platform/dispatch/task_queue.h"

namespace orvik {

class CallTimerDelegate {
 public:
  virtual ~CallTimerDelegate() = default;
  virtual void ringTimerDidExpire() = 0;
  // One more second of connected call; `elapsedSeconds` is the new count.
  virtual void callTimerDidTick(double elapsedSeconds) = 0;
};

class CallTimerManager {
 public:
  static constexpr double kRingTimeoutSeconds = 35.0;
  static constexpr double kTickSeconds = 1.0;

  // `queue` null means the main queue. `secondLength` is how many real
  // seconds one second of call time takes: 1 in the program; a test build
  // may shorten it so that an hour-long call passes in a minute. The ring
  // timer always runs in real time.
  explicit CallTimerManager(platform::TaskQueue* queue = nullptr, double secondLength = kTickSeconds);
  ~CallTimerManager();
  CallTimerManager(const CallTimerManager&) = delete;
  CallTimerManager& operator=(const CallTimerManager&) = delete;

  // Held weakly: a delegate that is gone is simply not called.
  void setDelegate(std::weak_ptr<CallTimerDelegate> delegate) { delegate_ = std::move(delegate); }

  // (Re)starts the ring timer from 35 seconds.
  void startRingTimer();
  void stopRingTimer();
  // Counts from zero, one tick a second.
  void startDurationTimer();
  // Stops the ticks and keeps the count.
  void pauseDurationTimer();
  // Ticks again from the kept count; nothing when already ticking.
  void resumeDurationTimer();
  // Cancels both timers and sets the count to zero.
  void stopAll();

  double elapsedSeconds() const { return elapsedSeconds_; }
  bool isRingTimerArmed() const { return ringTimer_ && !ringTimer_->isCancelled(); }
  bool isDurationTimerRunning() const { return durationTimer_.isRunning(); }

 private:
  platform::TaskQueue& queue() const;
  void tick();

  platform::TaskQueue* queue_;
  std::weak_ptr<CallTimerDelegate> delegate_;
  std::shared_ptr<platform::WorkItem> ringTimer_;
  platform::RepeatingTimer durationTimer_;
  double elapsedSeconds_ = 0;
};

}  // namespace orvik
