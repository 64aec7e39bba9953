// Events that rescue or end a call outside the normal offer and answer: an
// offer the current peer sends in the middle of the call (a renegotiation or
// its own ICE restart, typically a mobile peer whose network changed) is
// answered on the same connection, one at a time; a fatal error of the peer
// connection ends the active call, telling the peer first. The accept
// watchdog's verdict lives with the accept path (call_answering.cpp).
#include "calls/control/call_frame_routing.h"
#include "calls/control/native_call_manager.h"
#include "core/native_logger.h"
#include "platform/queue_checker.h"

namespace orvik {

std::string callStateName(const CallState& state);

void NativeCallManager::handleMidCallOffer(const SDPPayload& offer, const std::string& from) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  auto& call = state_.call;
  if (call.midCallOfferInProgress) {
    log("[NativeCallMgr] mid-call offer from " + from + " ignored — already answering one");
    return;
  }
  call.midCallOfferInProgress = true;
  call.lastPeerMidCallOfferAt = clock().now();
  // The peer's own offer replaces the plain re-offer we may be waiting on.
  call.plainRestartInFlight = false;
  learnRemoteDeviceFromAddress(from, "mid-call offer");
  log("[NativeCallMgr] 🔁 mid-call offer from " + from +
      " (peer renegotiation / ICE restart) — answering on the same connection");
  if (timeline_.isRunning()) timeline_.step("🔁 the other side re-offered (network recovery) — answering");
  const auto generation = state_.kept.callGeneration;
  beginIceGeneration();
  peerConnection().answerIceRestartOffer(
      offer,
      [weak = weak_from_this(), generation] {
        auto self = weak.lock();
        if (self && self->state_.kept.callGeneration == generation) self->iceManager_.remoteDescriptionWasSet();
      },
      [weak = weak_from_this(), generation](const std::optional<std::string>& answer) {
        auto self = weak.lock();
        if (!self || self->state_.kept.callGeneration != generation) return;
        self->midCallAnswerReady(answer);
      });
}

void NativeCallManager::midCallAnswerReady(const std::optional<std::string>& answer) {
  auto& call = state_.call;
  if (!call.callState.isInCall()) return;
  call.midCallOfferInProgress = false;
  if (!answer) {
    log("[NativeCallMgr] mid-call answer could not be created — staying on the old description");
    iceManager_.remoteDescriptionWasSet();
    return;
  }
  const auto from = myFromAddress();
  if (!call.remoteUserNumber || !from) {
    log("[NativeCallMgr] mid-call answer — missing remoteUserNumber or myFromAddress, not sent");
    return;
  }
  signaling().sendAnswer(*call.remoteUserNumber, call.remoteDeviceUdid.value_or(""), *from, *answer);
  if (!isIceUp()) armIceAttemptTimer("answered the peer's re-offer");
}

void NativeCallManager::peerConnectionDidFail(const PeerConnectionError& error) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  auto& call = state_.call;
  log("[NativeCallMgr] PeerConn error: " + error.description);
  // A failure can reach us after the call it belonged to ended; it must not
  // end whatever call runs now or tear down an idle manager again.
  if (!call.callState.isInCall()) {
    log("[NativeCallMgr] PeerConn error ignored — no active call (state=" + callStateName(call.callState) + ")");
    return;
  }
  timeline_.noteEndReason("WebRTC error: " + error.description);
  callLogBridge_.finalize(makeCallLogContext(), "iceFailed");
  // The peer would otherwise wait on a call that is gone here until its own
  // time-outs end it.
  if (const auto from = myFromAddress(); call.remoteUserNumber && from) {
    const bool connected = wasEverConnected();
    const std::string device = connected ? call.remoteDeviceUdid.value_or("") : "";
    log("[NativeCallMgr] PeerConn error — sending endCall to " + signalingAddress(*call.remoteUserNumber, device));
    signaling().sendEndCall(*call.remoteUserNumber, device, *from);
  }
  updateState(CallState::failed(error.description));
  c_.tones.playEndTone();
  platform::mainQueue().post([weak = weak_from_this()] {
    if (auto self = weak.lock()) self->closeCallWindows();
  });
  cleanup();
}

}  // namespace orvik
