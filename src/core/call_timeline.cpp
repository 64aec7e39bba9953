#include "core/call_timeline.h"

#include <cstdio>

#include "core/native_logger.h"

namespace orvik {
namespace {

std::string formatSeconds(const char* format, double seconds) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, format, seconds);
  return buffer;
}

}  // namespace

CallTimeline::CallTimeline(platform::Clock* clock, LogFunction log) : clock_(clock), log_(std::move(log)) {}

platform::Clock& CallTimeline::clock() const { return clock_ ? *clock_ : platform::systemClock(); }

void CallTimeline::write(const std::string& message) const {
  if (log_) {
    log_(message);
  } else {
    nativeLog(message);
  }
}

void CallTimeline::step(std::string_view text) {
  double sinceStart = 0;
  double sinceLast = 0;
  std::string label;
  {
    std::lock_guard lock(mutex_);
    // Durations come from the monotonic clock, so a wall-clock change during
    // a call cannot produce negative or huge step times.
    const Instant now = clock().monotonicNow();
    if (startedAt_) sinceStart = std::chrono::duration<double>(now - *startedAt_).count();
    if (lastStepAt_) sinceLast = std::chrono::duration<double>(now - *lastStepAt_).count();
    lastStepAt_ = now;
    label = label_;
  }
  write("[CallFlow] " + label + " · " + formatSeconds("+%.2fs", sinceStart) + " (" +
        formatSeconds("+%.2fs", sinceLast) + ") · " + std::string(text));
}

void CallTimeline::begin(std::string_view first, std::string_view second, std::string_view detail) {
  bool running;
  std::string oldLabel;
  {
    std::lock_guard lock(mutex_);
    running = startedAt_.has_value();
    oldLabel = label_;
  }
  if (running) write("[CallFlow] " + oldLabel + " · ■ (previous timeline closed by a new call)");
  {
    std::lock_guard lock(mutex_);
    const Instant now = clock().monotonicNow();
    startedAt_ = now;
    lastStepAt_ = now;
    connectedAt_.reset();
    endReason_.reset();
    label_ = std::string(first) + " " + std::string(second);
  }
  step(detail.empty() ? std::string("▶ START") : "▶ START — " + std::string(detail));
}

void CallTimeline::beginIfIdle(std::string_view first, std::string_view second, std::string_view entry) {
  if (!isRunning()) {
    begin(first, second, entry);
    return;
  }
  const std::string text = "entry: " + std::string(entry);
  if (isRunning()) step(text);
}

void CallTimeline::noteEndReason(std::string_view reason) {
  std::lock_guard lock(mutex_);
  if (startedAt_ && !endReason_) endReason_ = std::string(reason);
}

void CallTimeline::markConnected(std::string_view text) {
  {
    std::lock_guard lock(mutex_);
    if (!connectedAt_) connectedAt_ = clock().monotonicNow();
  }
  if (isRunning()) step(text);
}

void CallTimeline::end(std::string_view reason) {
  std::string talk;
  {
    std::lock_guard lock(mutex_);
    if (!startedAt_) return;
    talk = connectedAt_ ? formatSeconds("talk %.1fs", clock().secondsSince(*connectedAt_)) : "never connected";
  }
  step("■ END — " + std::string(reason) + " | " + talk);
  std::lock_guard lock(mutex_);
  startedAt_.reset();
  lastStepAt_.reset();
  connectedAt_.reset();
  endReason_.reset();
}

std::optional<std::string> CallTimeline::endReason() const {
  std::lock_guard lock(mutex_);
  return endReason_;
}

bool CallTimeline::isRunning() const {
  std::lock_guard lock(mutex_);
  return startedAt_.has_value();
}

}  // namespace orvik
