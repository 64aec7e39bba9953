#include "platform/dispatch/repeating_timer.h"

#include <atomic>

namespace orvik::platform {

struct RepeatingTimer::Run {
  double interval;
  std::weak_ptr<Task> tick;
  std::atomic<bool> stopped{false};
};

RepeatingTimer::RepeatingTimer(TaskQueue& queue, double intervalSeconds, Task tick)
    : queue_(queue), interval_(intervalSeconds), tick_(std::make_shared<Task>(std::move(tick))) {}

RepeatingTimer::~RepeatingTimer() { stop(); }

void RepeatingTimer::start() {
  stop();
  current_ = std::make_shared<Run>();
  current_->interval = interval_;
  current_->tick = tick_;
  schedule(queue_, current_);
}

void RepeatingTimer::stop() {
  if (current_) current_->stopped = true;
  current_.reset();
}

void RepeatingTimer::schedule(TaskQueue& queue, std::shared_ptr<Run> run) {
  const double interval = run->interval;
  queue.postAfter(interval, [&queue, run = std::move(run)]() mutable {
    if (run->stopped) return;
    auto tick = run->tick.lock();
    if (!tick) return;
    // Schedule the next tick first, so a tick that stops the timer wins.
    schedule(queue, run);
    (*tick)();
  });
}

}  // namespace orvik::platform
