// The ICE timeline of one call: "[ICE] <role> +<seconds>s · <text>" lines
// measured from the build of the connection, and the bookkeeping behind them
// (candidate tallies, state names seen last, first-candidate flags,
// gathering errors, the last ICE state). Free of WebRTC: the peer connection
// feeds it from WebRTC's events, a test from plain values.
//
// THREAD-SAFETY: every member may be called from any thread; WebRTC's event
// thread writes while the peer queue starts calls and attempts.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "calls/media/ice_diagnostics.h"
#include "calls/media/peer_connection.h"
#include "platform/dispatch/clock.h"

namespace orvik {

class IceTimeline {
 public:
  // `clock` is read at every line (systemClock() in the program).
  explicit IceTimeline(platform::Clock& clock);

  // A new call in `isCaller`'s role: the timeline starts now and everything
  // learnt about an earlier call is forgotten.
  void startCall(bool isCaller);
  // A restart: the attempt's candidates, count, gathering errors and
  // first-candidate flags start empty; the origin and the states stay.
  void startAttempt();
  // The connection closed: no candidates, and the ICE state is new again.
  void connectionClosed();

  // "[ICE] <role> +<seconds>s · <text>" to the log.
  void line(const std::string& text) const;

  // A local candidate gathered; returns how many this attempt has gathered.
  // The first of an attempt gets its own line.
  std::int64_t localCandidate(const std::string& candidateLine);
  // A remote candidate handed in; the first of an attempt gets its own line.
  void remoteCandidate(const std::string& candidateLine);
  std::int64_t localCandidatesSent() const;
  CandidateTally localTypes() const;
  // "local[host=… ] remote[host=… ]"
  std::string candidateSummary() const;

  // "ICE state <old> → <name>", with " after <s>s of checking" once a
  // checking attempt settles (connected, completed, failed).
  void iceStateChanged(IceConnectionState state, const std::string& name);
  IceConnectionState lastIceState() const;
  std::string iceStateName() const;
  // "gathering <old> → <name> — <summary>"
  void gatheringChanged(const std::string& name);
  // "peer connection (ICE+DTLS) <old> → <name>"
  void connectionChanged(const std::string& name);

  // Keeps `entry` among the attempt's distinct gathering errors (at most
  // kMaxGatherErrors) and writes it with `hint`.
  void gatheringError(const std::string& entry, const std::string& hint);
  std::vector<std::string> gatherErrors() const;

  // What the statistics are read against.
  IceStatsSnapshot snapshot(const std::string& policyName, bool hasRemoteDescription) const;

 private:
  platform::Clock& clock_;
  mutable std::mutex lock_;
  platform::Clock::MonotonicTime startedAt_;
  std::optional<platform::Clock::MonotonicTime> checkingAt_;
  bool isCaller_ = false;
  std::string iceStateName_ = "new";
  std::string gatherStateName_ = "new";
  std::string connectionStateName_ = "new";
  IceConnectionState lastIceState_ = IceConnectionState::newState;
  bool firstLocalLogged_ = false;
  bool firstRemoteLogged_ = false;
  std::int64_t localCandidatesSent_ = 0;
  CandidateTally localTypes_;
  CandidateTally remoteTypes_;
  std::vector<std::string> gatherErrors_;
};

}  // namespace orvik
