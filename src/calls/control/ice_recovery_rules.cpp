#include "calls/control/ice_recovery_rules.h"

#include "calls/control/call_frame_routing.h"

namespace orvik {

double iceAttemptTimeoutSeconds(bool isCaller, bool peerCanRestart) {
  if (isCaller) return peerCanRestart ? 10.0 : 30.0;
  return peerCanRestart ? 12.0 : 45.0;
}

bool isFromCurrentPeer(const std::optional<std::string>& from, const std::optional<std::string>& remoteUserNumber,
                       const std::optional<std::string>& remoteDeviceUdid) {
  if (!from || !remoteUserNumber) return false;
  const auto address = splitSignalingAddress(*from);
  if (address.user != *remoteUserNumber) return false;
  if (!address.device.empty() && remoteDeviceUdid && !remoteDeviceUdid->empty()) {
    return address.device == *remoteDeviceUdid;
  }
  return true;
}

std::optional<std::string> deviceLearnedFromAddress(const std::optional<std::string>& from,
                                                    const std::optional<std::string>& remoteUserNumber) {
  if (!from || !remoteUserNumber) return std::nullopt;
  const auto address = splitSignalingAddress(*from);
  if (address.user != *remoteUserNumber || address.device.empty()) return std::nullopt;
  return address.device;
}

IceFailureAction decideIceFailure(const IceFailureFacts& facts) {
  if (facts.peerCanRestart) {
    const int used = facts.isCaller ? facts.restartsStarted : facts.requestsSent;
    if (used >= kMaxIceRecoveriesBeforeConnect && !facts.midCall) return IceFailureAction::giveUp;
    if (facts.isCaller) return IceFailureAction::restartAsCaller;
    if (facts.identitiesKnown) return IceFailureAction::askCallerToRestart;
  }
  return whenNoRestartStarted(facts.midCall);
}

const char* iceFailureActionName(IceFailureAction action) {
  switch (action) {
    case IceFailureAction::askCallerToRestart: return "askCallerToRestart";
    case IceFailureAction::restartAsCaller: return "restartAsCaller";
    case IceFailureAction::leaveToReconnectWindow: return "leaveToReconnectWindow";
    case IceFailureAction::giveUp: return "giveUp";
  }
  return "?";
}

}  // namespace orvik
