// Ending a call here (endCall): the other side is told, the call is reported
// to the page's call log, the state moves to ended, media stop, and the
// windows close and the record is cleaned up after fixed delays. Every
// delayed step belongs to the call that scheduled it: a redial in between
// keeps its camera, its connection and its windows.
#include "calls/control/native_call_manager.h"
#include "core/native_logger.h"

namespace orvik {

std::string callStateName(const CallState& state);

void NativeCallManager::endCall() {
  if (!platform::mainQueue().isCurrent()) {
    platform::mainQueue().post([weak = weak_from_this()] {
      if (auto self = weak.lock()) self->endCall();
    });
    return;
  }
  auto& call = state_.call;
  const auto kind = call.callState.kind();
  if (kind == CallState::Kind::idle || kind == CallState::Kind::ended) return;

  const std::string stateText = callStateName(call.callState);
  const auto session = call.currentSession;
  if (kind == CallState::Kind::connected) {
    timeline_.noteEndReason("I hung up");
  } else if (session && session->direction == CallDirection::outgoing) {
    timeline_.noteEndReason("I cancelled before it was answered (state=" + stateText + ")");
  } else {
    timeline_.noteEndReason("I ended it before it connected (state=" + stateText + ")");
  }

  const auto from = myFromAddress();
  log("[NativeCallMgr] endCall — callState=" + stateText + " remoteUser=" + call.remoteUserNumber.value_or("nil") +
      " remoteDid=" + call.remoteDeviceUdid.value_or("nil") + " from=" + from.value_or("nil"));
  const bool mediaUnderway = kind == CallState::Kind::connecting || kind == CallState::Kind::connected;
  const bool wasVideoConnected = session && session->type == CallType::video && mediaUnderway;
  log(std::string("[NativeCallMgr] endCall — wasVideoConnected=") + (wasVideoConnected ? "true" : "false") +
      " (type=" + (session ? (session->type == CallType::video ? "video" : "audio") : "nil") + " state=" + stateText +
      ")");

  callLogBridge_.finalize(makeCallLogContext(), "endCall");

  if (call.remoteUserNumber && from) {
    const std::string& remote = *call.remoteUserNumber;
    const bool connected = kind == CallState::Kind::connected || (session && session->connectedAt);
    // Before the answer nobody knows which device will pick up: every device
    // of the callee hears the end.
    const std::string device = connected ? call.remoteDeviceUdid.value_or("") : "";
    log("[NativeCallMgr] endCall — sending endCall (callState=" + stateText + " connected=" +
        (connected ? "true" : "false") + ") to=" + (device.empty() ? remote + " (all devices)" : remote + "_" + device));
    signaling().sendEndCall(remote, device, *from);
    if (!connected) {
      signaling().sendStopRinging(remote, device, *from);
      if (session && session->direction == CallDirection::outgoing) cancelRingingDevices(remote, *from);
    }
    if (mediaUnderway && peerConn_) peerConn_->sendDataChannelMessage("endCall");
  } else {
    log("[NativeCallMgr] endCall — NOT sending (remoteUserNumber/from missing)");
  }

  updateState(CallState::Kind::ended);

  if (wasVideoConnected) {
    platform::mainQueue().post([weak = weak_from_this()] {
      if (auto self = weak.lock()) self->c_.windows.markVideoCallEnded();
    });
  }
  c_.windows.floatingPanelCallDidEnd();
  timers_.stopAll();
  c_.tones.stopTone();
  c_.tones.playEndTone();

  // Media teardown of this call only: a call placed before it runs has its
  // own capture and connection, which the lingering-call clean-up already
  // replaced.
  postForThisCall(0, [](NativeCallManager& self) {
    self.c_.capture.stopCapture();
    if (self.peerConn_) self.peerConn_->close();
  });

  const double closeAfter =
      session && session->connectedAt ? kWindowCloseAfterConnectedSeconds : kWindowCloseSeconds;
  postForThisCall(closeAfter, [](NativeCallManager& self) { self.closeCallWindows(); });
  postForThisCall(closeAfter + kCleanupAfterWindowCloseSeconds, [](NativeCallManager& self) { self.cleanup(); });
}

void NativeCallManager::cancelRingingDevices(const std::string& remote, const std::string& from) {
  auto devices = state_.call.ringingDeviceUdids;
  if (const auto& answering = state_.call.remoteDeviceUdid; answering && !answering->empty()) devices.erase(*answering);
  if (devices.empty()) return;
  log("[NativeCallMgr] cancel → also targeting " + std::to_string(devices.size()) + " ringing device(s) of " + remote);
  for (const auto& device : devices) {
    const std::string to = device.empty() ? remote : remote + "_" + device;
    signaling().emitCall(nlohmann::json{{"type", "endCall"}, {"to", to}, {"from", from}});
    signaling().emitCall(nlohmann::json{{"type", "StopRinging"}, {"to", to}, {"from", from}});
  }
}

}  // namespace orvik
