#include "calls/media/call_timer_manager.h"

#include "platform/queue_checker.h"

namespace orvik {

CallTimerManager::CallTimerManager(platform::TaskQueue* queue, double secondLength)
    : queue_(queue),
      durationTimer_(queue ? *queue : platform::mainQueue(), secondLength > 0 ? secondLength : kTickSeconds,
                     [this] { tick(); }) {}

CallTimerManager::~CallTimerManager() { stopAll(); }

platform::TaskQueue& CallTimerManager::queue() const { return queue_ ? *queue_ : platform::mainQueue(); }

void CallTimerManager::startRingTimer() {
  ORVIK_ASSERT_ON_QUEUE(queue());
  stopRingTimer();
  // The timer itself never outlives the manager: stopAll in the destructor
  // cancels it, so capturing `this` is safe.
  ringTimer_ = std::make_shared<platform::WorkItem>([this] {
    // A fired timer is spent: it stays until the next start or stop, but no
    // longer counts as armed.
    ringTimer_->cancel();
    if (auto delegate = delegate_.lock()) delegate->ringTimerDidExpire();
  });
  queue().postAfter(kRingTimeoutSeconds, ringTimer_);
}

void CallTimerManager::stopRingTimer() {
  ORVIK_ASSERT_ON_QUEUE(queue());
  if (ringTimer_) ringTimer_->cancel();
  ringTimer_.reset();
}

void CallTimerManager::startDurationTimer() {
  ORVIK_ASSERT_ON_QUEUE(queue());
  durationTimer_.stop();
  elapsedSeconds_ = 0;
  durationTimer_.start();
}

void CallTimerManager::pauseDurationTimer() {
  ORVIK_ASSERT_ON_QUEUE(queue());
  durationTimer_.stop();
}

void CallTimerManager::resumeDurationTimer() {
  ORVIK_ASSERT_ON_QUEUE(queue());
  if (!durationTimer_.isRunning()) durationTimer_.start();
}

void CallTimerManager::stopAll() {
  ORVIK_ASSERT_ON_QUEUE(queue());
  stopRingTimer();
  durationTimer_.stop();
  elapsedSeconds_ = 0;
}

void CallTimerManager::tick() {
  // The call time is a count of ticks, not a difference of clock readings:
  // a late tick counts once and a paused reconnect window not at all.
  elapsedSeconds_ += kTickSeconds;
  if (auto delegate = delegate_.lock()) delegate->callTimerDidTick(elapsedSeconds_);
}

}  // namespace orvik
