// The caller's offer on the callee's side: routed (stored for the ringing
// call, dropped when it belongs to someone else or came twice), acknowledged
// with "offerReceived" while it rings, applied once the call is accepted, and
// answered to the one caller device that placed the call. Rings whose offer
// never comes ("ghost" rings: the caller hung up before this device fetched
// the call) are dismissed.
#include <cstdio>

#include "calls/control/incoming_call_rules.h"
#include "calls/control/native_call_manager.h"
#include "core/native_logger.h"
#include "platform/queue_checker.h"

namespace orvik {

std::string callStateName(const CallState& state);

namespace {
const char* boolText(bool value) { return value ? "true" : "false"; }
}  // namespace

bool NativeCallManager::peerHasRemoteDescription() const {
  const auto& call = state_.call;
  const bool outgoing = call.currentSession && call.currentSession->direction == CallDirection::outgoing;
  return call.remoteOfferApplied || (outgoing && call.remoteAnswerReceived);
}

void NativeCallManager::incomingPeerConnectionReady() {
  auto& call = state_.call;
  if (call.pendingAutoAccept) {
    call.pendingAutoAccept = false;
    log("[NativeCallMgr] pendingAutoAccept — running acceptCall() after peerConn setup");
    acceptCall();
  }
  tryApplyOfferAndAnswer();
}

void NativeCallManager::signalingDidReceiveOffer(const std::string& from, const SDPPayload& sdp, bool isAudio,
                                                 const std::optional<std::string>& fromDeviceUdid,
                                                 const std::optional<std::string>& callerName,
                                                 const std::optional<std::string>& callerProfileImage) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  auto& call = state_.call;
  log("[NativeCallMgr] Offer received from " + from + " — peerConnIsReady=" + boolText(call.peerConnIsReady));
  if (timeline_.isRunning()) {
    timeline_.step("offer (caller's SDP) received from " + from + " via " +
                   (callerName ? "getPendingCall" : "live socket"));
  }
  const auto [callerUser, offerDevice] = splitCallAddress(from);
  const auto& session = call.currentSession;

  IncomingOfferFacts facts;
  facts.state = call.callState.kind();
  facts.hasSession = session != nullptr;
  facts.sessionIsOutgoing = session && session->direction == CallDirection::outgoing;
  facts.sessionIdentityGuessed =
      session && session->direction == CallDirection::incoming && session->remoteUser.userNumber.empty();
  facts.offerStored = call.pendingRemoteOffer.has_value();
  facts.remoteDescriptionSet = peerHasRemoteDescription();
  facts.answerInProgress = call.answerInProgress;
  facts.answered = facts.sessionIsOutgoing ? call.remoteAnswerReceived : call.localAnswerSent;
  facts.callerUser = callerUser;
  facts.offerDevice = offerDevice;
  facts.remoteDeviceUdid = call.remoteDeviceUdid;
  facts.remoteUserNumber = call.remoteUserNumber;
  facts.offerSdp = sdp.sdp;
  facts.originalRemoteOfferSDP = call.originalRemoteOfferSDP;

  const auto decision = routeIncomingOffer(facts);
  switch (decision.route) {
    case IncomingOfferRoute::ignoreOtherCaller:
      log("[NativeCallMgr] Offer from " + callerUser + " while busy with " + call.remoteUserNumber.value_or("") +
          " — ignoring it, sending nothing");
      if (call.callState.kind() != CallState::Kind::connected) {
        publishCallDuration(strings().string(CallStrings::kConnecting, CallStrings::kConnectingDefault));
      }
      return;
    case IncomingOfferRoute::ignoreOtherDevice:
      log("[NativeCallMgr] mid-call offer from another device " + offerDevice + " ignored — call is with " +
          call.remoteDeviceUdid.value_or("nil"));
      return;
    case IncomingOfferRoute::midCallOffer:
      handleMidCallOffer(sdp, from);
      return;
    case IncomingOfferRoute::ignoreDuplicate:
      log("[NativeCallMgr] Offer already applied / answer in progress — ignoring duplicate");
      return;
    case IncomingOfferRoute::store: break;
  }
  if (decision.correctsCaller) {
    log("[NativeCallMgr] Offer from " + callerUser + " differs from the web-supplied caller " +
        call.remoteUserNumber.value_or("") + " — trusting the offer (peer not yet verified)");
  }
  storeRemoteOffer(from, sdp, isAudio, fromDeviceUdid, callerName, callerProfileImage);
}

void NativeCallManager::storeRemoteOffer(const std::string& from, const SDPPayload& sdp, bool isAudio,
                                         const std::optional<std::string>& fromDeviceUdid,
                                         const std::optional<std::string>& callerName,
                                         const std::optional<std::string>& callerProfileImage) {
  auto& call = state_.call;
  noteRemoteDeviceSource(sdp.deviceSource, "offer");
  call.originalRemoteOfferSDP = sdp.sdp;
  if (fromDeviceUdid && !fromDeviceUdid->empty()) call.remoteDeviceUdid = fromDeviceUdid;
  const std::string callerUser = splitCallAddress(from).first;
  if (!callerUser.empty() && call.remoteUserNumber != callerUser) {
    log("[NativeCallMgr] remoteUserNumber corrected from offer: " + call.remoteUserNumber.value_or("nil") + " → " +
        callerUser);
    call.remoteUserNumber = callerUser;
    correctDisplayedCallerIdentity(callerUser, callerName, callerProfileImage);
  }
  call.pendingRemoteOffer = PendingRemoteOffer{from, sdp, isAudio, call.remoteDeviceUdid};
  log("[NativeCallMgr] Offer stored — applying on accept (callState=" + callStateName(call.callState) + ")");

  const auto sender = myFromAddress();
  if (call.callState.kind() == CallState::Kind::ringing && call.remoteUserNumber && sender) {
    const std::string device = call.remoteDeviceUdid.value_or("");
    OutgoingCallMessage ack;
    ack.type = "offerReceived";
    ack.to = device.empty() ? *call.remoteUserNumber : *call.remoteUserNumber + "_" + device;
    ack.from = *sender;
    ack.isAudio = isAudio;
    ack.advertisesIceRestart = true;
    signaling().emitCall(ack.dictionary());
  }
  tryApplyOfferAndAnswer();
}

void NativeCallManager::signalingDidReceivePendingCall() {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  const auto& call = state_.call;
  if (timeline_.isRunning()) timeline_.step("server has NO pending call — the caller already hung up (stale ring)");
  if (call.callState.kind() != CallState::Kind::ringing || call.pendingRemoteOffer || peerHasRemoteDescription()) {
    return;
  }
  if (call.incomingFromPush) {
    log("[NativeCallMgr] No pending call (stale push) — dismissing ghost incoming");
    dismissGhostIncomingCall();
    return;
  }
  const double grace = ghostRingGraceSeconds(false, state_.kept.lastCredentialsSetAt, clock().now());
  char graceText[16];
  std::snprintf(graceText, sizeof graceText, "%.1f", grace);
  log(std::string("[NativeCallMgr] No pending call (foreground/socket) — grace window ") + graceText +
      "s before treating as stale (recentlyReauthed=" + boolText(grace > 5.0) + ")");
  platform::mainQueue().postAfter(grace, [weak = weak_from_this(), generation = state_.kept.callGeneration] {
    if (auto self = weak.lock()) self->ghostRingGraceExpired(generation);
  });
}

void NativeCallManager::ghostRingGraceExpired(std::int64_t generation) {
  const auto& call = state_.call;
  if (state_.kept.callGeneration != generation || call.callState.kind() != CallState::Kind::ringing ||
      call.pendingRemoteOffer || peerHasRemoteDescription()) {
    log("[NativeCallMgr] Ghost-ring dismiss skipped — offer arrived or state changed during grace window");
    return;
  }
  log("[NativeCallMgr] Still no offer after grace window — dismissing ghost incoming");
  dismissGhostIncomingCall();
}

void NativeCallManager::dismissGhostIncomingCall() {
  const auto& session = state_.call.currentSession;
  log("[NativeCallMgr] dismissGhostIncomingCall — no offer arrived in time, dismissing session=" +
      (session ? firstCharacters(session->sessionId, 8) : std::string("nil")));
  c_.tones.stopTone();
  timers_.stopRingTimer();
  platform::mainQueue().post([weak = weak_from_this()] {
    if (auto self = weak.lock()) self->closeCallWindows();
  });
  cleanup();
}

void NativeCallManager::remoteOfferDidApply() {
  state_.call.remoteOfferApplied = true;
  iceManager_.remoteDescriptionWasSet();
  log("[NativeCallMgr] setRemoteDescription OK — creating answer");
  peerConnection().createAnswer();
}

void NativeCallManager::peerConnectionDidCreateAnswer(const std::optional<std::string>& description) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  if (!description) {
    // Nothing to send; the accept watchdog ends the call.
    log("[NativeCallMgr] Answer could not be written — not sending");
    return;
  }
  log("[NativeCallMgr] Answer ready — sending (callState=" + callStateName(state_.call.callState) + ")");
  sendAnswerToRemote(*description);
}

void NativeCallManager::sendAnswerToRemote(const std::string& sdp) {
  auto& call = state_.call;
  const auto sender = myFromAddress();
  if (!call.remoteUserNumber || !sender) {
    log("[NativeCallMgr] sendAnswerToRemote — missing remoteUserNumber or myFromAddress");
    return;
  }
  const std::string device = call.remoteDeviceUdid.value_or("");
  const bool broadcast = device.empty();
  const std::string target = broadcast ? *call.remoteUserNumber : *call.remoteUserNumber + "_" + device;
  log("[NativeCallMgr] Sending answer from=" + *sender + " to=" + target + " sdp_len=" + std::to_string(sdp.size()) +
      " remoteDeviceUdid=" + (broadcast ? std::string("nil(will broadcast)") : device));
  if (timeline_.isRunning()) {
    timeline_.step("answer sent to " + target + (broadcast ? " (caller device unknown → broadcast)" : "") +
                   " — now ICE connects the two devices");
  }
  call.localAnswerSent = true;
  if (call.acceptWatchdogTimer) call.acceptWatchdogTimer->cancel();
  call.acceptWatchdogTimer.reset();
  signaling().sendAnswer(*call.remoteUserNumber, device, *sender, sdp);

  if (call.iceWatchdogTimer) call.iceWatchdogTimer->cancel();
  call.iceWatchdogTimer = std::make_shared<platform::WorkItem>([weak = weak_from_this()] {
    if (auto self = weak.lock()) self->answerWatchdogFired();
  });
  platform::mainQueue().postAfter(kAnswerWatchdogSeconds, call.iceWatchdogTimer);
  armIceAttemptTimer("answer sent");
  scheduleCandidateResend();
  if (!call.pendingLocalCandidates.empty()) flushPendingLocalCandidates();
}

void NativeCallManager::answerWatchdogFired() {
  const auto& call = state_.call;
  if (call.callState.kind() != CallState::Kind::connecting) return;
  if (peerConn_) peerConn_->logDiagnostics();
  log("[NativeCallMgr] ⚠️ ICE WATCHDOG: still connecting 20s after answer sent — callState=" +
      callStateName(call.callState) + " remoteDeviceUdid=" + call.remoteDeviceUdid.value_or("nil"));
}

}  // namespace orvik
