#include "platform/dispatch/virtual_queue.h"

namespace orvik::platform {
namespace {

Clock::MonotonicTime::duration toDuration(double seconds) {
  return std::chrono::duration_cast<Clock::MonotonicTime::duration>(std::chrono::duration<double>(seconds));
}

}  // namespace

VirtualClock::VirtualClock()
    : wall_(std::chrono::sys_days{std::chrono::year{2026} / 1 / 1}),
      monotonic_(MonotonicTime{} + std::chrono::hours(1)) {}

Clock::WallTime VirtualClock::now() const {
  std::lock_guard lock(mutex_);
  return wall_;
}

Clock::MonotonicTime VirtualClock::monotonicNow() const {
  std::lock_guard lock(mutex_);
  return monotonic_;
}

void VirtualClock::advance(double seconds) {
  if (!(seconds > 0)) return;
  auto step = toDuration(seconds);
  std::lock_guard lock(mutex_);
  monotonic_ += step;
  wall_ += std::chrono::duration_cast<WallTime::duration>(step);
}

void VirtualClock::advanceTo(MonotonicTime when) {
  std::lock_guard lock(mutex_);
  if (when <= monotonic_) return;
  wall_ += std::chrono::duration_cast<WallTime::duration>(when - monotonic_);
  monotonic_ = when;
}

void VirtualClock::setNow(WallTime wall) {
  std::lock_guard lock(mutex_);
  wall_ = wall;
}

VirtualQueue::VirtualQueue(VirtualClock* clock)
    : ownClock_(clock ? nullptr : std::make_unique<VirtualClock>()),
      clock_(clock ? clock : ownClock_.get()),
      owner_(std::this_thread::get_id()) {}

void VirtualQueue::post(Task task) { postAfter(0, std::move(task)); }

void VirtualQueue::postAfter(double seconds, Task task) {
  Due due = clock_->monotonicNow();
  if (seconds > 0) due += toDuration(seconds);
  std::lock_guard lock(mutex_);
  tasks_.emplace(std::make_pair(due, nextSequence_++), std::move(task));
}

bool VirtualQueue::isCurrent() const { return std::this_thread::get_id() == owner_; }

bool VirtualQueue::runOneDueBy(Due limit) {
  Task task;
  {
    std::lock_guard lock(mutex_);
    if (tasks_.empty()) return false;
    auto first = tasks_.begin();
    if (first->first.first > limit) return false;
    const Due due = first->first.first;
    task = std::move(first->second);
    tasks_.erase(first);
    clock_->advanceTo(due);
  }
  if (task) task();
  return true;
}

std::size_t VirtualQueue::runUntilIdle() {
  std::size_t ran = 0;
  while (runOneDueBy(clock_->monotonicNow())) ++ran;
  return ran;
}

std::size_t VirtualQueue::advance(double seconds) {
  const Due target = clock_->monotonicNow() + (seconds > 0 ? toDuration(seconds) : Due::duration::zero());
  std::size_t ran = 0;
  while (runOneDueBy(target)) ++ran;
  clock_->advanceTo(target);
  return ran + runUntilIdle();
}

bool VirtualQueue::runNext() {
  Due next;
  {
    std::lock_guard lock(mutex_);
    if (tasks_.empty()) return false;
    next = tasks_.begin()->first.first;
  }
  clock_->advanceTo(next);
  runUntilIdle();
  return true;
}

std::size_t VirtualQueue::pendingCount() const {
  std::lock_guard lock(mutex_);
  return tasks_.size();
}

}  // namespace orvik::platform
