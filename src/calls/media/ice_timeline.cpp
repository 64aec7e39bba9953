#include "calls/media/ice_timeline.h"

#include <cstdio>
#include <utility>

#include "calls/media/peer_connection_events.h"
#include "core/native_logger.h"

namespace orvik {
namespace {

std::string secondsText(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", seconds);
  return text;
}

}  // namespace

IceTimeline::IceTimeline(platform::Clock& clock) : clock_(clock), startedAt_(clock.monotonicNow()) {}

void IceTimeline::startCall(bool isCaller) {
  std::lock_guard lock(lock_);
  startedAt_ = clock_.monotonicNow();
  checkingAt_.reset();
  isCaller_ = isCaller;
  iceStateName_ = gatherStateName_ = connectionStateName_ = "new";
  firstLocalLogged_ = firstRemoteLogged_ = false;
  localCandidatesSent_ = 0;
  localTypes_.clear();
  remoteTypes_.clear();
  gatherErrors_.clear();
}

void IceTimeline::startAttempt() {
  std::lock_guard lock(lock_);
  localCandidatesSent_ = 0;
  localTypes_.clear();
  remoteTypes_.clear();
  gatherErrors_.clear();
  firstLocalLogged_ = firstRemoteLogged_ = false;
}

void IceTimeline::connectionClosed() {
  std::lock_guard lock(lock_);
  localCandidatesSent_ = 0;
  localTypes_.clear();
  remoteTypes_.clear();
  lastIceState_ = IceConnectionState::newState;
}

void IceTimeline::line(const std::string& text) const {
  platform::Clock::MonotonicTime startedAt;
  bool isCaller = false;
  {
    std::lock_guard lock(lock_);
    startedAt = startedAt_;
    isCaller = isCaller_;
  }
  nativeLog("[ICE] " + std::string(isCaller ? "caller" : "callee") + " +" + secondsText(clock_.secondsSince(startedAt)) +
            "s · " + text);
}

std::int64_t IceTimeline::localCandidate(const std::string& candidateLine) {
  bool first = false;
  std::int64_t count = 0;
  {
    std::lock_guard lock(lock_);
    count = ++localCandidatesSent_;
    ++localTypes_[candidateType(candidateLine)];
    first = !std::exchange(firstLocalLogged_, true);
  }
  if (first) {
    line("first LOCAL candidate gathered — " + candidateType(candidateLine) + "/" + candidateTransport(candidateLine));
  }
  return count;
}

void IceTimeline::remoteCandidate(const std::string& candidateLine) {
  bool first = false;
  {
    std::lock_guard lock(lock_);
    ++remoteTypes_[candidateType(candidateLine)];
    first = !std::exchange(firstRemoteLogged_, true);
  }
  if (first) {
    line("first REMOTE candidate arrived — " + candidateType(candidateLine) + "/" + candidateTransport(candidateLine));
  }
}

std::int64_t IceTimeline::localCandidatesSent() const {
  std::lock_guard lock(lock_);
  return localCandidatesSent_;
}

CandidateTally IceTimeline::localTypes() const {
  std::lock_guard lock(lock_);
  return localTypes_;
}

std::string IceTimeline::candidateSummary() const {
  std::lock_guard lock(lock_);
  return candidateTypeSummary(localTypes_, remoteTypes_);
}

void IceTimeline::iceStateChanged(IceConnectionState state, const std::string& name) {
  const auto now = clock_.monotonicNow();
  std::string old, suffix;
  {
    std::lock_guard lock(lock_);
    lastIceState_ = state;
    old = std::exchange(iceStateName_, name);
    if (state == IceConnectionState::checking && !checkingAt_) checkingAt_ = now;
    const bool settled = state == IceConnectionState::connected || state == IceConnectionState::completed ||
                         state == IceConnectionState::failed;
    if (checkingAt_ && settled) {
      suffix = " after " + secondsText(std::chrono::duration<double>(now - *checkingAt_).count()) + "s of checking";
    }
  }
  line("ICE state " + old + " → " + name + suffix);
}

IceConnectionState IceTimeline::lastIceState() const {
  std::lock_guard lock(lock_);
  return lastIceState_;
}

std::string IceTimeline::iceStateName() const {
  std::lock_guard lock(lock_);
  return iceStateName_;
}

void IceTimeline::gatheringChanged(const std::string& name) {
  std::string old;
  {
    std::lock_guard lock(lock_);
    old = std::exchange(gatherStateName_, name);
  }
  line("gathering " + old + " → " + name + " — " + candidateSummary());
}

void IceTimeline::connectionChanged(const std::string& name) {
  std::string old;
  {
    std::lock_guard lock(lock_);
    old = std::exchange(connectionStateName_, name);
  }
  line("peer connection (ICE+DTLS) " + old + " → " + name);
}

void IceTimeline::gatheringError(const std::string& entry, const std::string& hint) {
  {
    std::lock_guard lock(lock_);
    keepGatherError(gatherErrors_, entry);
  }
  line("⚠️ gathering error: " + entry + " — " + hint);
}

std::vector<std::string> IceTimeline::gatherErrors() const {
  std::lock_guard lock(lock_);
  return gatherErrors_;
}

IceStatsSnapshot IceTimeline::snapshot(const std::string& policyName, bool hasRemoteDescription) const {
  std::lock_guard lock(lock_);
  return {policyName, localTypes_, remoteTypes_, gatherErrors_, hasRemoteDescription};
}

}  // namespace orvik
