// Remote endings: every way a call ends from the far side or from outside
// the local user (hang-up or cancel, busy or decline, no answer before the
// ring timer runs out, another of my devices took the ring, the server's
// rejection of the call token), and the server's call-record id. Each ending
// is recorded (timeline, call log, state) and then torn down in a fixed
// order with fixed delays; every delayed step belongs to the call that
// scheduled it and leaves a newer call alone.
#include <cstdio>

#include "calls/control/call_frame_routing.h"
#include "calls/control/native_call_manager.h"
#include "core/native_logger.h"
#include "platform/queue_checker.h"

namespace orvik {

std::string callStateName(const CallState& state);

namespace {

bool isVideoSession(const std::shared_ptr<CallSession>& session) {
  return session && session->type == CallType::video;
}

}  // namespace

void NativeCallManager::stopMedia() {
  c_.capture.stopCapture();
  if (peerConn_) peerConn_->close();
}

void NativeCallManager::handleRemoteEnd(bool force) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  auto& call = state_.call;
  if (!call.callState.isInCall()) return;
  const auto session = call.currentSession;
  const bool connected = session && session->connectedAt;
  timeline_.noteEndReason(connected ? "the other side hung up" : "the other side cancelled before it connected");
  if (call.iceDisconnectTimer) {
    if (!force) {
      log("[NativeCallMgr] remote end ignored — reconnect window active");
      return;
    }
    call.iceDisconnectTimer->cancel();
    call.iceDisconnectTimer.reset();
  }
  timers_.stopAll();
  callLogBridge_.finalize(makeCallLogContext(), "remoteEnd");
  c_.tones.stopTone();
  updateState(CallState::Kind::ended);
  c_.tones.playEndTone();
  if (connected) {
    if (isVideoSession(session)) {
      platform::mainQueue().post([weak = weak_from_this()] {
        if (auto self = weak.lock()) self->c_.windows.markVideoCallEnded();
      });
    }
    postForThisCall(kWindowCloseAfterConnectedSeconds, [](NativeCallManager& self) { self.closeCallWindows(); });
  } else {
    postForThisCall(0, [](NativeCallManager& self) { self.closeCallWindows(); });
  }
  // The media stop and the clean-up of this call only: a call placed before
  // they run keeps its own connection and state.
  postForThisCall(0, [](NativeCallManager& self) {
    self.stopMedia();
    self.cleanup();
  });
}

RemoteEndFacts NativeCallManager::remoteEndFacts(const std::optional<std::string>& from) const {
  const auto& call = state_.call;
  const auto& session = call.currentSession;
  RemoteEndFacts facts;
  facts.state = call.callState.kind();
  facts.from = from;
  facts.remoteUserNumber = call.remoteUserNumber;
  facts.remoteDeviceUdid = call.remoteDeviceUdid;
  facts.ignoredAnswerUdids = call.ignoredAnswerUdids;
  facts.outgoing = session && session->direction == CallDirection::outgoing;
  facts.connected = session && session->connectedAt;
  facts.remoteAnswerReceived = call.remoteAnswerReceived;
  return facts;
}

void NativeCallManager::signalingDidReceiveUserBusy(const std::optional<std::string>& from) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  auto& call = state_.call;
  RemoteEndFacts facts = remoteEndFacts(from);
  const auto& ringStarted = state_.kept.outgoingRingStartedAt;
  facts.ringingSeconds = ringStarted ? std::chrono::duration<double>(clock().now() - *ringStarted).count() : 0.0;

  switch (routeUserBusy(facts)) {
    case RemoteEndRoute::ignoredNotInCall:
    case RemoteEndRoute::ignoredIgnoredAnswer:
      return;
    case RemoteEndRoute::ignoredOtherPeer:
      log("[NativeCallMgr] userBusy from " + splitSignalingAddress(*from).user + " ignored — not the current peer (" +
          call.remoteUserNumber.value_or("") + ")");
      return;
    case RemoteEndRoute::ignoredNotAnsweringDevice:
      log("[NativeCallMgr] userBusy from " + *from + " ignored — the call was answered by " +
          call.remoteDeviceUdid.value_or("nil"));
      return;
    case RemoteEndRoute::noAnswer:
      log("[NativeCallMgr] userBusy after " + std::to_string(static_cast<long>(facts.ringingSeconds)) +
          "s ringing — treating as NO ANSWER, not busy");
      timers_.stopAll();
      ringTimerDidExpire();
      return;
    case RemoteEndRoute::remoteEnd:
    case RemoteEndRoute::remoteEndForced:
      log("[NativeCallMgr] userBusy after connect — treating as remote hang-up, not busy");
      handleRemoteEnd(false);
      return;
    case RemoteEndRoute::busyOrDecline:
      log("[NativeCallMgr] Remote is busy");
      handleBusyOrDecline();
      return;
  }
}

void NativeCallManager::ringTimerDidExpire() {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  auto& call = state_.call;
  log("[NativeCallMgr] Ring timer expired — no answer");
  timeline_.noteEndReason("no answer — ring timeout");
  callLogBridge_.finalize(makeCallLogContext(), "ringTimeout");
  if (const auto from = myFromAddress(); call.remoteUserNumber && from) {
    const std::string remote = *call.remoteUserNumber;
    log("[NativeCallMgr] ring expiry — sending endCall + StopRinging to " + remote + " (all devices)");
    signaling().sendEndCall(remote, "", *from);
    signaling().sendStopRinging(remote, "", *from);
    cancelRingingDevices(remote, *from);
  }
  c_.tones.stopTone();
  updateState(CallState::Kind::missed);
  const auto session = call.currentSession;
  if (session && session->direction == CallDirection::outgoing) {
    publishCallDuration("Call ended");
    c_.tones.playEndTone();
    if (isVideoSession(session)) {
      platform::mainQueue().post([weak = weak_from_this()] {
        if (auto self = weak.lock()) self->c_.windows.markVideoCallEnded();
      });
    }
    postForThisCall(kMissedCloseSeconds, [](NativeCallManager& self) { self.closeCallWindows(); });
  } else {
    postForThisCall(0, [](NativeCallManager& self) { self.closeCallWindows(); });
  }
  postForThisCall(0, [](NativeCallManager& self) { self.stopMedia(); });
  postForThisCall(kCleanupAfterWindowCloseSeconds, [](NativeCallManager& self) { self.cleanup(); });
}

void NativeCallManager::handleBusyOrDecline() {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  auto& call = state_.call;
  timeline_.noteEndReason("the other side is busy / declined");
  if (call.iceDisconnectTimer) call.iceDisconnectTimer->cancel();
  call.iceDisconnectTimer.reset();
  timers_.stopAll();
  callLogBridge_.finalize(makeCallLogContext(), "busyOrRemoteDecline");
  c_.tones.stopTone();
  updateState(CallState::Kind::busy);
  c_.tones.playEndTone();
  postForThisCall(0, [](NativeCallManager& self) { self.stopMedia(); });
  postForThisCall(kBusyEndedSeconds, [](NativeCallManager& self) {
    if (self.state_.call.callState.kind() != CallState::Kind::busy) return;
    self.updateState(CallState::Kind::ended);
    if (isVideoSession(self.state_.call.currentSession)) self.c_.windows.markVideoCallEnded();
  });
  postForThisCall(kBusyCloseSeconds, [](NativeCallManager& self) {
    self.closeCallWindows();
    self.cleanup();
  });
}

void NativeCallManager::signalingDidReceiveEndCall(const std::optional<std::string>& from) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  auto& call = state_.call;
  if (!call.callState.isInCall()) return;
  if (timeline_.isRunning()) timeline_.step("end/cancel signal from " + from.value_or("-"));
  RemoteEndFacts facts = remoteEndFacts(from);
  const auto route = routeEndFrame(facts);
  switch (route) {
    case RemoteEndRoute::ignoredNotInCall:
    case RemoteEndRoute::noAnswer:
      return;
    case RemoteEndRoute::ignoredOtherPeer:
      log("[NativeCallMgr] end/cancel from " + splitSignalingAddress(*from).user +
          " ignored — not the current peer (" + call.remoteUserNumber.value_or("") + ")");
      return;
    case RemoteEndRoute::ignoredIgnoredAnswer:
      log("[NativeCallMgr] end/cancel from " + *from + " ignored — that device's answer was ignored; our call is with " +
          call.remoteDeviceUdid.value_or("nil"));
      return;
    case RemoteEndRoute::ignoredNotAnsweringDevice:
      log("[NativeCallMgr] end/cancel from " + *from + " ignored — the call was answered by " +
          call.remoteDeviceUdid.value_or("nil"));
      return;
    case RemoteEndRoute::busyOrDecline:
      log("[NativeCallMgr] Remote call ended (socket)");
      handleBusyOrDecline();
      return;
    case RemoteEndRoute::remoteEnd:
    case RemoteEndRoute::remoteEndForced:
      log("[NativeCallMgr] Remote call ended (socket)");
      if (facts.outgoing && facts.state != CallState::Kind::connected) {
        log("[NativeCallMgr] callee ended after answering — never connected, not busy");
      }
      handleRemoteEnd(route == RemoteEndRoute::remoteEndForced);
      return;
  }
}

void NativeCallManager::dismissRingHandledElsewhere() {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  auto& call = state_.call;
  const auto& session = call.currentSession;
  log("[MultiDeviceCall] DISMISS local ringing — handled on another device | state=" + callStateName(call.callState) +
      " session=" + (session ? firstCharacters(session->sessionId, 8) : std::string("none")));
  timers_.stopRingTimer();
  c_.tones.stopTone();
  const bool wasConnected = call.callState.kind() == CallState::Kind::connected;
  platform::mainQueue().post([weak = weak_from_this(), wasConnected] {
    auto self = weak.lock();
    if (!self) return;
    self->c_.windows.dismissIncomingCallPanel();
    if (wasConnected) return;
    self->c_.windows.closeAudioCallWindow();
    self->c_.windows.closeVideoCallWindow();
    self->c_.windows.floatingPanelCallDidEnd();
  });
  if (call.callState.kind() == CallState::Kind::ringing) {
    updateState(CallState::Kind::ended);
    postForThisCall(0, [](NativeCallManager& self) { self.cleanup(); });
  }
}

void NativeCallManager::signalingDidFailAuth() {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  auto& call = state_.call;
  auto& kept = state_.kept;
  if (timeline_.isRunning()) timeline_.step("⚠️ call socket rejected the token (invalid_token) — re-auth path");
  std::string age = "never set";
  if (kept.lastCredentialsSetAt) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2fs",
                  std::chrono::duration<double>(clock().now() - *kept.lastCredentialsSetAt).count());
    age = text;
  }
  const auto& session = call.currentSession;
  log("[NativeCallMgr] Auth failed — token invalid | callState=" + callStateName(call.callState) + " direction=" +
      (!session ? "nil" : session->direction == CallDirection::outgoing ? "outgoing" : "incoming") +
      " incomingFromPush=" + (call.incomingFromPush ? "true" : "false") + " credentialsAge=" + age);
  if (call.callState.isInCall() && !call.reauthAttempted) {
    call.reauthAttempted = true;
    call.awaitingReauth = true;
    // Only the token goes: the user's number and device stay, so frames and
    // candidates of the running call still carry their sender, and the call
    // counts as lacking credentials until fresh ones arrive.
    kept.myAuthToken.reset();
    log("[NativeCallMgr] Auth failed — dropping the token and re-fetching, call kept alive");
    if (c_.fetchCredentials) c_.fetchCredentials("invalid-token");
    return;
  }
  callLogBridge_.finalize(makeCallLogContext(), "authFailed");
  updateState(CallState::failed("Auth failed"));
  platform::mainQueue().post([weak = weak_from_this()] {
    if (auto self = weak.lock()) self->closeCallWindows();
  });
  cleanup();
}

void NativeCallManager::signalingDidReceiveCallRecordId(std::int64_t recordId) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  auto& call = state_.call;
  const auto& session = call.currentSession;
  const std::string id = std::to_string(recordId);
  if (session && call.callState.isInCall()) {
    if (call.currentCallId && *call.currentCallId != recordId) {
      log("[CallLog] call-record id " + id + " ignored — this call already has id " +
          std::to_string(*call.currentCallId));
      return;
    }
    log("[NativeCallMgr] Received call-record id: " + id + " (dir=" +
        (session->direction == CallDirection::outgoing ? "outgoing, from offer ack" : "incoming, from getPendingCall") +
        ")");
    call.currentCallId = recordId;
    return;
  }
  if (session && session->direction == CallDirection::outgoing && !session->connectedAt && !call.currentCallId) {
    log("[CallEnd] call-record id " + id + " arrived after an unanswered cancel — closing the server record");
    CallLogContext context;
    context.direction = session->direction;
    context.callId = recordId;
    context.remoteUserNumber = call.remoteUserNumber;
    context.isAudio = session->type != CallType::video;
    context.sessionId = session->sessionId;
    context.webView = webView_;
    callLogBridge_.serverEnd(context, "lateCallId");
    return;
  }
  log("[CallLog] call-record id " + id + " ignored — no active call (late ack/pending record) state=" +
      callStateName(call.callState));
}

}  // namespace orvik
