// One compact, timed trace per call in the log: a START line, a line for each
// notable step with the time since the start and since the previous step,
// and an END line with the reason and the talk time. Its tag "CallFlow" is
// not muted, so a call's course stays readable when the call engine's own
// chatter is. Only the call manager drives it.
//
// THREAD-SAFETY: every method may be called from any thread; fields are read
// and written under one lock, released before a line is logged.
#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/dispatch/clock.h"

namespace orvik {

class CallTimeline {
 public:
  using LogFunction = std::function<void(const std::string& message)>;

  // `clock` null means the process-wide clock; `log` empty means nativeLog.
  explicit CallTimeline(platform::Clock* clock = nullptr, LogFunction log = {});


  // Starts a timeline labelled "first second", closing a running one first.
  void begin(std::string_view first, std::string_view second, std::string_view detail);
  // Starts a timeline when none runs; otherwise records "entry: …" as a step.
  void beginIfIdle(std::string_view first, std::string_view second, std::string_view entry);
  void step(std::string_view text);
  // The first reason noted for the running timeline wins.
  void noteEndReason(std::string_view reason);
  // Records the first connect time and logs `text` as a step.
  void markConnected(std::string_view text);
  // Logs the END line and returns to idle; nothing when idle.
  void end(std::string_view reason);

  std::optional<std::string> endReason() const;
  bool isRunning() const;

 private:
  using Instant = platform::Clock::MonotonicTime;
  platform::Clock& clock() const;
  void write(const std::string& message) const;

  platform::Clock* clock_;
  LogFunction log_;
  mutable std::mutex mutex_;
  std::optional<Instant> startedAt_;
  std::optional<Instant> lastStepAt_;
  std::optional<Instant> connectedAt_;
  std::string label_;
  std::optional<std::string> endReason_;
};

}  // namespace orvik
