#include "updater/update_check_schedule.h"

namespace orvik {

UpdateCheckSchedule::UpdateCheckSchedule(platform::TaskQueue& queue, std::function<void()> silentCheck)
    : queue_(queue), check_(std::make_shared<std::function<void()>>(std::move(silentCheck))) {}

UpdateCheckSchedule::~UpdateCheckSchedule() = default;

void UpdateCheckSchedule::start() {
  if (timer_) return;
  queue_.postAfter(kFirstCheckDelay, [check = std::weak_ptr<std::function<void()>>(check_)] {
    if (auto run = check.lock()) (*run)();
  });
  timer_ = std::make_unique<platform::RepeatingTimer>(queue_, kCheckInterval, [check = check_] { (*check)(); });
  timer_->start();
}

void UpdateCheckSchedule::applicationBecameActive() { (*check_)(); }

}  // namespace orvik
