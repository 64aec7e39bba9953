// Wall time and monotonic time, injectable so that tests control both.
// THREAD-SAFETY: every method may be called from any thread.
#pragma once

#include <chrono>

namespace orvik::platform {

class Clock {
 public:
  using WallTime = std::chrono::system_clock::time_point;
  using MonotonicTime = std::chrono::steady_clock::time_point;

  virtual ~Clock() = default;
  virtual WallTime now() const = 0;
  virtual MonotonicTime monotonicNow() const = 0;

  // Seconds elapsed on the monotonic clock since `since`.
  double secondsSince(MonotonicTime since) const;
};

class SystemClock final : public Clock {
 public:
  WallTime now() const override { return std::chrono::system_clock::now(); }
  MonotonicTime monotonicNow() const override { return std::chrono::steady_clock::now(); }
};

// The process-wide clock: the system clock unless a test installed another
// with ScopedClock.
Clock& systemClock();

class ScopedClock {
 public:
  explicit ScopedClock(Clock& clock);
  ~ScopedClock();
  ScopedClock(const ScopedClock&) = delete;
  ScopedClock& operator=(const ScopedClock&) = delete;

 private:
  Clock* previous_;
};

}  // namespace orvik::platform
