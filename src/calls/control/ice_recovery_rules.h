// Pure decisions of the call's ICE recovery: how long one ICE attempt may
// take before the call acts, whether a frame comes from the device the call
// is with, and what a failed or timed-out attempt leads to. The call manager
// (ice_recovery.cpp) applies them; tables of cases test them
// (ice_recovery_rules_test).
//
// THREAD-SAFETY: pure functions, any thread.
#pragma once

#include <optional>
#include <string>

namespace orvik {

// Seconds an ICE attempt may take: the callee waits longer than the caller
// (the caller acts first), and a peer that cannot restart ICE gets much
// longer, since the only remedy left is giving up.
//   callee: 12 s (peer restarts), 45 s (it cannot)
//   caller: 10 s (peer restarts), 30 s (it cannot)
double iceAttemptTimeoutSeconds(bool isCaller, bool peerCanRestart);

// Whether `from` is the device the call is with: the user part names the
// call's user and, when both device parts are known, they are equal.
bool isFromCurrentPeer(const std::optional<std::string>& from, const std::optional<std::string>& remoteUserNumber,
                       const std::optional<std::string>& remoteDeviceUdid);

// The device part of `from` when it belongs to `remoteUserNumber` and is not
// empty: what the call learns when it does not know the peer's device yet.
std::optional<std::string> deviceLearnedFromAddress(const std::optional<std::string>& from,
                                                    const std::optional<std::string>& remoteUserNumber);

// Restarts (caller) or restart requests (callee) a call that never connected
// may use up before it is given up. A call that had connected has no such
// limit: its reconnect window ends it.
inline constexpr int kMaxIceRecoveriesBeforeConnect = 2;

enum class IceFailureAction {
  askCallerToRestart,      // callee: send "iceRestartRequest"
  restartAsCaller,         // caller: a restart offer on the same connection
  leaveToReconnectWindow,  // nothing left to try; the 45 s window decides
  giveUp,                  // never connected and nothing left: end the call
};

struct IceFailureFacts {
  bool isCaller = false;
  bool peerCanRestart = false;
  // The call had connected at least once.
  bool midCall = false;
  int restartsStarted = 0;  // caller
  int requestsSent = 0;     // callee
  // Both the peer's and our own user number and device are known.
  bool identitiesKnown = false;
};

IceFailureAction decideIceFailure(const IceFailureFacts& facts);
// When the chosen restart could not start after all.
inline IceFailureAction whenNoRestartStarted(bool midCall) {
  return midCall ? IceFailureAction::leaveToReconnectWindow : IceFailureAction::giveUp;
}

const char* iceFailureActionName(IceFailureAction action);

}  // namespace orvik
