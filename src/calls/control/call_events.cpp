// What the signalling client, the peer connection and the call timers tell
// the manager, on the main queue, for the behaviours still to be written in
// this class: they log what they received until then. The outgoing
// negotiation, candidates, connection states and remote endings have files
// of their own.
#include "calls/control/native_call_manager.h"
#include "core/native_logger.h"

namespace orvik {

std::string callStateName(const CallState& state);

void NativeCallManager::signalingDidReceiveRestartCapability(const std::optional<std::string>&) {}
void NativeCallManager::signalingDidReceiveRestartOffer(const SDPPayload&, std::optional<std::int64_t>,
                                                        const std::optional<std::string>&) {}
void NativeCallManager::signalingDidReceiveRestartAnswer(const SDPPayload&, std::optional<std::int64_t>,
                                                         const std::optional<std::string>&) {}
void NativeCallManager::signalingDidReceiveRestartRequest(const std::optional<std::string>&) {}

void NativeCallManager::peerConnectionDidFail(const PeerConnectionError& error) {
  log("[NativeCallMgr] peer connection failed: " + error.description);
}
}  // namespace orvik
