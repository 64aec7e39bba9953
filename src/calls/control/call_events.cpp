// What the signalling client, the peer connection and the call timers tell
// the manager, on the main queue. The socket-level events build the peer
// connection of every call; the negotiation, candidate, recovery and
// remote-ending handlers that follow are still to be written in this class and log
// what they received until then.
#include "calls/control/native_call_manager.h"
#include "core/native_logger.h"

namespace orvik {

std::string callStateName(const CallState& state);

void NativeCallManager::signalingDidConnect() {
  auto& call = state_.call;
  ++call.callSocketConnects;
  if (call.callSocketConnects < 2) {
    log("[NativeCallMgr] Signaling connected");
    if (timeline_.isRunning()) timeline_.step("call socket connected — waiting for ICE servers (getToken)");
    return;
  }
  log("[NativeCallMgr] Signaling RE-connected (#" + std::to_string(call.callSocketConnects) +
      ") state=" + callStateName(call.callState));
  // TODO(ICE restart issue): recoverAfterSocketReconnect.
}

void NativeCallManager::signalingDidDisconnect() {
  log("[NativeCallMgr] Signaling disconnected");
  if (timeline_.isRunning()) {
    timeline_.step("⚠️ call socket disconnected (state=" + callStateName(state_.call.callState) + ")");
  }
}

void NativeCallManager::signalingDidReceiveIceServers(const std::vector<ICEServer>& servers, const std::string& policy) {
  log("[NativeCallMgr] ICE config: " + std::to_string(servers.size()) + " servers");
  if (timeline_.isRunning()) {
    timeline_.step("ICE servers received — " + std::to_string(servers.size()) + " entries, TURN=" +
                   (hasTurnServer(servers) ? "yes" : "NO (cross-network calls will likely fail)") +
                   " → building peer connection");
  }
  const auto& session = state_.call.currentSession;
  const bool isCaller = session && session->direction == CallDirection::outgoing;
  const bool isVideo = session && session->type == CallType::video;
  peerConnection().build(PeerConnectionSetup{servers, policy, isVideo, isCaller},
                   [weak = weak_from_this(), generation = state_.kept.callGeneration, isVideo](BuildResult result) {
                     auto self = weak.lock();
                     if (!self || self->state_.kept.callGeneration != generation) return;
                     if (result == BuildResult::built) self->peerConnectionSetupDidComplete(isVideo);
                   });
}

void NativeCallManager::peerConnectionSetupDidComplete(bool /*isVideo*/) {
  auto& call = state_.call;
  call.peerConnIsReady = true;
  const auto& session = call.currentSession;
  log(std::string("[NativeCallMgr] PeerConn setup complete — direction=") +
      (!session ? "nil" : session->direction == CallDirection::outgoing ? "outgoing" : "incoming"));
  // TODO(outgoing negotiation issue): capture, the callee's devices
  // (buildAddRecord) and the offer. TODO(incoming calls issue): the answer.
}

void NativeCallManager::signalingDidFailAuth() { log("[NativeCallMgr] signaling auth failed"); }

void NativeCallManager::signalingDidReceiveCallRecordId(std::int64_t recordId) {
  log("[NativeCallMgr] call record id " + std::to_string(recordId));
}

void NativeCallManager::signalingDidReceiveOffer(const std::string& from, const SDPPayload&, bool,
                                                 const std::optional<std::string>&, const std::optional<std::string>&,
                                                 const std::optional<std::string>&) {
  log("[NativeCallMgr] offer from " + from + " — incoming calls are not taken in yet");
}

void NativeCallManager::signalingDidReceiveAnswer(const SDPPayload&, const std::optional<std::string>& deviceUdid) {
  log("[NativeCallMgr] answer from device " + deviceUdid.value_or("nil"));
}

void NativeCallManager::signalingDidReceiveCandidate(const std::string&, const std::optional<std::string>&,
                                                     std::int32_t, const std::optional<std::string>&) {}

void NativeCallManager::signalingDidReceiveOfferReceived(const std::optional<std::string>& from) {
  log("[NativeCallMgr] offerReceived from " + from.value_or("nil"));
}

void NativeCallManager::signalingDidReceiveUserBusy(const std::optional<std::string>& from) {
  log("[NativeCallMgr] userBusy from " + from.value_or("nil"));
}

void NativeCallManager::signalingDidReceiveEndCall(const std::optional<std::string>& from) {
  log("[NativeCallMgr] endCall from " + from.value_or("nil"));
}

void NativeCallManager::signalingDidReceiveRestartCapability(const std::optional<std::string>&) {}
void NativeCallManager::signalingDidReceiveRestartOffer(const SDPPayload&, std::optional<std::int64_t>,
                                                        const std::optional<std::string>&) {}
void NativeCallManager::signalingDidReceiveRestartAnswer(const SDPPayload&, std::optional<std::int64_t>,
                                                         const std::optional<std::string>&) {}
void NativeCallManager::signalingDidReceiveRestartRequest(const std::optional<std::string>&) {}
void NativeCallManager::signalingDidReceivePendingCall() {}
void NativeCallManager::handleSendToMyDevices(const std::string& action) {
  log("[NativeCallMgr] sendToMyDevices action=" + action);
}

void NativeCallManager::peerConnectionDidFail(const PeerConnectionError& error) {
  log("[NativeCallMgr] peer connection failed: " + error.description);
}
void NativeCallManager::peerConnectionDidGenerateCandidate(const LocalIceCandidate&) {}
void NativeCallManager::peerConnectionDidChangeIceState(PeerConnectionState) {}
void NativeCallManager::peerConnectionDidCreateOffer(const std::optional<std::string>& description) {
  // Every offer is checked for the video upgrade's first (video_upgrade.cpp).
  if (takeVideoUpgradeOffer(description)) return;
}
void NativeCallManager::peerConnectionDidCreateAnswer(const std::optional<std::string>&) {}
void NativeCallManager::peerConnectionDidReceiveDataChannelMessage(const std::string&) {}
void NativeCallManager::peerConnectionDidOpenRemoteDataChannel() {}
void NativeCallManager::attachRemoteTrack(const RemoteMediaTrack&) {}

void NativeCallManager::ringTimerDidExpire() {
  // TODO(remote endings issue): the missed-call ending of an unanswered call.
  log("[NativeCallMgr] ring timer expired (state=" + callStateName(state_.call.callState) + ")");
}

void NativeCallManager::callTimerDidTick(double) {}

}  // namespace orvik
