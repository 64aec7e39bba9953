#include "platform/dispatch/clock.h"

#include <atomic>

namespace orvik::platform {
namespace {

std::atomic<Clock*> gInstalledClock{nullptr};

}  // namespace

double Clock::secondsSince(MonotonicTime since) const {
  return std::chrono::duration<double>(monotonicNow() - since).count();
}

Clock& systemClock() {
  if (Clock* installed = gInstalledClock.load(std::memory_order_acquire)) return *installed;
  static SystemClock clock;
  return clock;
}

ScopedClock::ScopedClock(Clock& clock) : previous_(gInstalledClock.exchange(&clock)) {}

ScopedClock::~ScopedClock() { gInstalledClock.store(previous_); }

}  // namespace orvik::platform
