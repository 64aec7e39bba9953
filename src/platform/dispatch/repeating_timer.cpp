#include "platform/dispatch/repeating_timer.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>

namespace orvik::platform {

using MonotonicTime = std::chrono::steady_clock::time_point;

struct RepeatingTimer::Run {
  double interval;
  std::weak_ptr<Task> tick;
  std::atomic<bool> stopped{false};
  MonotonicTime start;
  // The schedule point the next tick is due at: start + next × interval.
  std::uint64_t next = 1;

  MonotonicTime due(std::uint64_t n) const {
    return start + std::chrono::duration_cast<MonotonicTime::duration>(
                       std::chrono::duration<double>(interval * static_cast<double>(n)));
  }
};

RepeatingTimer::RepeatingTimer(TaskQueue& queue, double intervalSeconds, Task tick)
    : queue_(queue), interval_(intervalSeconds), tick_(std::make_shared<Task>(std::move(tick))) {}

RepeatingTimer::~RepeatingTimer() { stop(); }

void RepeatingTimer::start() {
  stop();
  current_ = std::make_shared<Run>();
  current_->interval = interval_;
  current_->tick = tick_;
  current_->start = queue_.monotonicNow();
  schedule(queue_, current_);
}

void RepeatingTimer::stop() {
  if (current_) current_->stopped = true;
  current_.reset();
}

void RepeatingTimer::schedule(TaskQueue& queue, std::shared_ptr<Run> run) {
  const double delay = std::chrono::duration<double>(run->due(run->next) - queue.monotonicNow()).count();
  queue.postAfter(delay, [&queue, run = std::move(run)]() mutable {
    if (run->stopped) return;
    auto tick = run->tick.lock();
    if (!tick) return;
    // Every schedule point already passed is covered by this one tick; the
    // next is the first point still ahead (never this one again).
    const double elapsed = std::chrono::duration<double>(queue.monotonicNow() - run->start).count();
    const double passed = run->interval > 0 ? std::floor(elapsed / run->interval) : 0.0;
    run->next = std::max(run->next + 1, static_cast<std::uint64_t>(std::max(passed, 0.0)) + 1);
    // Schedule the next tick first, so a tick that stops the timer wins.
    schedule(queue, run);
    (*tick)();
  });
}

}  // namespace orvik::platform
