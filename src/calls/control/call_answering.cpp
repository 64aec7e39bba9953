// Answering, declining, and what my other devices did with a call that rings
// here too.
//
// Accept works in every stage of the incoming set-up: before credentials (the
// parked call is marked and accepted when it is replayed), before the call
// socket exists (the early-accept path), while the peer connection is being
// built (accepted when it is ready) and once all is there. acceptCall moves
// the call to connecting, tells my other devices once, asks for the
// microphone, starts capture, and tryApplyOfferAndAnswer applies the caller's
// offer exactly once, when the peer connection, capture and the offer are all
// there, in whatever order they came. Permission and capture answers may come
// on other threads: they hop to the main queue with the call's generation
// before they touch anything.
#include "calls/control/incoming_call_rules.h"
#include "calls/control/native_call_manager.h"
#include "core/native_logger.h"
#include "platform/capture_authorization.h"
#include "platform/page_call.h"
#include "platform/queue_checker.h"

namespace orvik {

std::string callStateName(const CallState& state);

namespace {

bool credentialsComplete(const NativeCallState::Kept& kept) {
  return kept.myUserNumber && kept.myDeviceUdid && kept.myAuthToken;
}

const char* boolText(bool value) { return value ? "true" : "false"; }

}  // namespace

void NativeCallManager::acceptIncomingFromPanel(const std::string& from, const std::string& fromName, bool isAudio,
                                                const std::string& pushId, bool isDarkMode) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  auto& call = state_.call;
  auto& kept = state_.kept;
  const auto kind = call.callState.kind();
  const bool thisCallRings =
      kind == CallState::Kind::ringing && call.currentSession && call.currentSession->sessionId == pushId;
  if (!thisCallRings && wasRecentlyEndedIncoming(pushId)) {
    ignoreEndedIncoming("Accept", pushId);
    return;
  }
  timeline_.beginIfIdle("INCOMING", from, "ACCEPT tapped on the incoming panel");
  timeline_.step(std::string("ACCEPT tapped (incoming panel) — call socket ") +
                 (call.currentSession ? "already set up" : "not set up yet"));
  platform::mainQueue().post([weak = weak_from_this()] {
    if (auto self = weak.lock()) self->showMainAppWindow();
  });

  if (kind == CallState::Kind::idle && credentialsComplete(kept)) {
    // Accepted before any ringing session existed: this is a call attempt of
    // its own, so earlier calls' delayed steps and timers must not reach it.
    ++kept.callGeneration;
    timers_.stopAll();
    call.remoteUserNumber = from;
    call.remoteDeviceUdid.reset();
    resetPerCallSignalingState();
    call.pendingRemoteOffer.reset();
    call.captureReadyForAnswer = false;
    call.answerInProgress = false;
    call.pendingAutoAccept = true;
    armAcceptWatchdog("accepted on panel before the call socket existed");
    c_.tones.startTone(CallTones::Tone::connecting);
    call.currentSession = std::make_shared<CallSession>(
        CallSession{pushId, CallDirection::incoming, isAudio ? CallType::audio : CallType::video,
                    CallUser{from, fromName, std::nullopt, from, false}, CallState::Kind::ringing, std::nullopt});
    call.callState = CallState::Kind::ringing;
    platform::mainQueue().post([weak = weak_from_this(), fromName, isAudio] {
      if (auto self = weak.lock()) self->c_.windows.floatingPanelCallDidStart(fromName, "", isAudio, false);
    });
    attachDelegates();
    startIncomingSocket(pushId);
    platform::mainQueue().post([weak = weak_from_this(), isAudio, fromName, from] {
      if (auto self = weak.lock()) self->openEarlyAcceptedCallWindow(isAudio, fromName, from);
    });
    return;
  }

  if (kind == CallState::Kind::idle) {
    kept.deferredIncoming =
        parkAcceptedIncoming(kept.deferredIncoming, DeferredIncoming{from, fromName, isAudio, pushId, "", false, false,
                                                                     isDarkMode, false, true, clock().now()});
    log("[IncomingFlow] Accept before credentials — call parked to be accepted (pushId=" + pushId + ")");
    if (c_.fetchCredentials) c_.fetchCredentials("accept-incoming");
    return;
  }

  if (kind != CallState::Kind::ringing || !call.currentSession) {
    log("[IncomingFlow] Accept ignored — state=" + callStateName(call.callState));
    return;
  }
  const auto session = call.currentSession;
  if (!pushId.empty() && !session->sessionId.empty() && session->sessionId != pushId) {
    // A panel left over from another call must not answer the one ringing now.
    log("[IncomingFlow] Accept for pushId=" + pushId + " ignored — the ringing call is " +
        firstCharacters(session->sessionId, 8));
    return;
  }
  timers_.stopRingTimer();
  c_.tones.stopTone();
  broadcastAcceptToMyDevices();
  platform::mainQueue().post([weak = weak_from_this(), isAudio = session->type == CallType::audio,
                              remote = session->remoteUser] {
    if (auto self = weak.lock()) {
      self->showAcceptedCallWindow(isAudio, remote.name, remote.userNumber, remote.avatarURL.value_or(""),
                                   remote.isSubscribed);
    }
  });
  if (!call.peerConnIsReady) {
    call.pendingAutoAccept = true;
    armAcceptWatchdog("accepted on panel, peer connection still setting up");
    c_.tones.startTone(CallTones::Tone::connecting);
    return;
  }
  acceptCall();
}

void NativeCallManager::acceptCall() {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  platform::mainQueue().post([weak = weak_from_this()] {
    if (auto self = weak.lock()) self->showMainAppWindow();
  });
  auto& call = state_.call;
  if (call.callState.kind() != CallState::Kind::ringing || !call.currentSession) return;
  const auto session = call.currentSession;
  timeline_.step(std::string("ACCEPT tapped (call window) — offer already here: ") +
                 (call.pendingRemoteOffer ? "yes" : "no, waiting for it"));

  if (!c_.capture.hasMicrophone()) {
    showCallAlert("No Microphone Found", "No microphone is connected. Please attach a microphone to answer calls.");
    endCall();
    return;
  }

  timers_.stopRingTimer();
  c_.tones.stopTone();
  platform::mainQueue().post([weak = weak_from_this()] {
    if (auto self = weak.lock()) {
      self->clearIncomingFlagOnCallWindows();
      self->c_.windows.setFloatingAwaitingAccept(false);
    }
  });
  updateState(CallState::Kind::connecting);
  if (call.acceptWatchdogTimer) call.acceptWatchdogTimer->cancel();
  call.acceptWatchdogTimer.reset();
  broadcastAcceptToMyDevices();
  if (const auto context = makeCallLogContext()) callLogBridge_.sendStatus("accepted", *context, "accept");

  const auto sender = myFromAddress();
  if (call.remoteUserNumber && sender) {
    // The caller restarts its ring timer on it: the answer gets a fresh ring
    // period to arrive in.
    const std::string device = call.remoteDeviceUdid.value_or("");
    OutgoingCallMessage again;
    again.type = "offerReceived";
    again.to = device.empty() ? *call.remoteUserNumber : *call.remoteUserNumber + "_" + device;
    again.from = *sender;
    again.isAudio = session->type == CallType::audio;
    signaling().emitCall(again.dictionary());
  }

  const bool isVideo = session->type == CallType::video;
  if (isVideo && !c_.capture.hasCamera()) {
    showCallAlert("No Camera Found", "No camera is connected. The call will continue with audio only.");
    startWithCameraOff();
  }

  const auto answer = [weak = weak_from_this(), generation = state_.kept.callGeneration, isVideo](bool granted) {
    // The system answers on a thread of its own.
    platform::mainQueue().post([weak, generation, isVideo, granted] {
      auto self = weak.lock();
      if (!self || self->state_.kept.callGeneration != generation) return;
      self->handleMicrophonePermission(granted, isVideo);
    });
  };
  if (c_.captureAuthorization) {
    c_.captureAuthorization->request(platform::CaptureDevice::microphone, answer);
  } else {
    answer(true);
  }
}

void NativeCallManager::handleMicrophonePermission(bool granted, bool isVideo) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  // The user may have hung up while the prompt was open.
  if (state_.call.callState.kind() != CallState::Kind::connecting) return;
  if (!granted) {
    timeline_.step("microphone permission DENIED — ending the call");
    timeline_.noteEndReason("microphone permission denied");
    endCall();
    return;
  }
  timeline_.step("microphone permission granted");
  armAcceptWatchdog("accepted, mic permission granted");
  startCaptureAndAnswer(isVideo);
}

void NativeCallManager::startCaptureAndAnswer(bool isVideo) {
  auto& call = state_.call;
  const bool captureVideo = isVideo && !call.localCameraOff;
  if (captureVideo && !call.peerConnIsReady) {
    // The camera's frames go into the connection's video source, which the
    // connection makes when it is built: the capture starts then.
    call.answerCaptureWaitsForConnection = true;
    timeline_.step("camera capture waits for the peer connection");
    return;
  }
  handCameraTrackToCapture(captureVideo, [](NativeCallManager& self, bool captureVideo) {
    self.c_.capture.startCapture(captureVideo, [weak = self.weak_from_this(),
                                                generation = self.state_.kept.callGeneration,
                                                captureVideo](const std::optional<std::string>& error) {
      platform::mainQueue().post([weak, generation, captureVideo, error] {
        auto self = weak.lock();
        if (!self || self->state_.kept.callGeneration != generation) return;
        self->handleCaptureResult(error, captureVideo);
      });
    });
  });
}

void NativeCallManager::handleCaptureResult(const std::optional<std::string>& error, bool captureVideo) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  auto& call = state_.call;
  if (call.callState.kind() != CallState::Kind::connecting) return;
  if (error) {
    timeline_.noteEndReason("camera/microphone capture failed: " + *error);
    endCall();
    return;
  }
  timeline_.step(std::string("mic") + (captureVideo ? " + camera" : "") + " capture started");
  if (captureVideo) {
    platform::mainQueue().post([weak = weak_from_this()] {
      if (auto self = weak.lock()) self->c_.windows.setVideoCameraSession(self->c_.capture.cameraSession());
    });
  }
  call.captureReadyForAnswer = true;
  tryApplyOfferAndAnswer();
}

void NativeCallManager::tryApplyOfferAndAnswer() {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  auto& call = state_.call;
  if (!call.peerConnIsReady || !call.captureReadyForAnswer || call.answerInProgress || peerHasRemoteDescription() ||
      !call.pendingRemoteOffer) {
    return;
  }
  call.answerInProgress = true;
  const PendingRemoteOffer offer = std::move(*call.pendingRemoteOffer);
  call.pendingRemoteOffer.reset();
  timeline_.step("applying the caller's offer and creating our answer");
  peerConnection().setRemoteDescription(offer.sdp, [weak = weak_from_this(), generation = state_.kept.callGeneration] {
    auto self = weak.lock();
    if (!self || self->state_.kept.callGeneration != generation) return;
    self->remoteOfferDidApply();
  });
}

void NativeCallManager::armAcceptWatchdog(const std::string& reason) {
  auto& call = state_.call;
  if (call.acceptWatchdogTimer || call.localAnswerSent) return;
  call.acceptWatchdogTimer = std::make_shared<platform::WorkItem>(
      [weak = weak_from_this(), generation = state_.kept.callGeneration, reason] {
        if (auto self = weak.lock()) self->acceptWatchdogFired(generation, reason);
      });
  platform::mainQueue().postAfter(kAcceptWatchdogSeconds, call.acceptWatchdogTimer);
}

void NativeCallManager::acceptWatchdogFired(std::int64_t generation, const std::string& phase) {
  auto& call = state_.call;
  if (state_.kept.callGeneration != generation || !isInCall()) return;
  call.acceptWatchdogTimer.reset();
  if (call.localAnswerSent || (call.currentSession && call.currentSession->connectedAt)) return;
  log("[NativeCallMgr] ❌ ACCEPT WATCHDOG: answer still not sent 20s after accept (" + phase +
      ") — offerStored=" + boolText(call.pendingRemoteOffer.has_value()) +
      " peerConnIsReady=" + boolText(call.peerConnIsReady) + " captureReady=" + boolText(call.captureReadyForAnswer) +
      " — ending");
  timeline_.noteEndReason("accepted, but the caller's offer / call setup never completed in 20s");
  endCall();
}

void NativeCallManager::broadcastAcceptToMyDevices() {
  auto& call = state_.call;
  if (call.acceptBroadcastSent) return;
  call.acceptBroadcastSent = true;
  if (!signaling().sendToMyDevices("acceptCall")) {
    platform::mainQueue().post([weak = weak_from_this()] {
      if (auto self = weak.lock()) self->broadcastAcceptThroughWeb();
    });
  }
}

void NativeCallManager::broadcastAcceptThroughWeb() {
  if (webView_.expired()) {
    log("[MultiDeviceCall] accept broadcast — no call socket and no web view, other devices not told");
    return;
  }
  const auto script = platform::pageFunctionCallReportingPresence(
      "__orvikBroadcastAccept", {platform::jsObjectLiteral({{"nativeUnavailable", true}})});
  platform::callPage(webView_, script, [weak = weak_from_this()](const platform::PageScriptResult& result) {
    auto self = weak.lock();
    if (!self) return;
    if (result.error) {
      self->log("[MultiDeviceCall] accept broadcast through the page failed: " + *result.error);
    } else if (result.value == true) {
      self->log("[MultiDeviceCall] accept broadcast through the page — invoked");
    } else {
      self->log("[MultiDeviceCall] accept broadcast through the page — page function missing");
    }
  });
}

void NativeCallManager::showAcceptedCallWindow(bool isAudio, const std::string& name, const std::string& userNumber,
                                               const std::string& imageUrl, bool isSubscribed) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  const bool dark = state_.kept.pendingIsDarkMode;
  if (isAudio) {
    c_.windows.openAudioCallWindow(name, userNumber, imageUrl, isSubscribed, dark, true, false);
    return;
  }
  c_.windows.openVideoCallWindow(name, userNumber, imageUrl, isSubscribed, dark, true);
  c_.windows.setVideoCameraSession(c_.capture.cameraSession());
}

void NativeCallManager::openEarlyAcceptedCallWindow(bool isAudio, const std::string& name,
                                                    const std::string& userNumber) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  if (isAudio) {
    c_.windows.openAudioCallWindow(name, userNumber, "", false, true, true, false);
    return;
  }
  c_.windows.openVideoCallWindow(name, userNumber, "", false, true, true);
  c_.windows.setVideoCameraSession(c_.capture.cameraSession());
}

void NativeCallManager::clearIncomingFlagOnCallWindows() {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  c_.windows.clearIncomingFlag();
}

void NativeCallManager::startWithCameraOff() {
  c_.capture.startWithCameraOff();
  platform::mainQueue().post([weak = weak_from_this()] {
    if (auto self = weak.lock()) self->markCameraOffInWindows();
  });
}

// ---- Declining ------------------------------------------------------------

void NativeCallManager::rejectCall() {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  auto& call = state_.call;
  if (call.callState.kind() != CallState::Kind::ringing) return;
  timeline_.step("DECLINE tapped by me");
  timeline_.noteEndReason("declined by me");
  if (const auto context = makeCallLogContext()) {
    callLogBridge_.sendStatus("missed", *context, "reject");
    callLogBridge_.postRejectApi(*context);
    callLogBridge_.logRejected(*context, "reject");
  }
  c_.tones.stopTone();
  timers_.stopRingTimer();
  const auto sender = myFromAddress();
  if (call.remoteUserNumber && sender) {
    // The caller sees a decline as busy.
    signaling().emitCall(nlohmann::json{{"type", "userBusy"}, {"to", *call.remoteUserNumber}, {"from", *sender}});
  }
  signaling().sendToMyDevices("rejectCall");
  platform::mainQueue().post([weak = weak_from_this()] {
    if (auto self = weak.lock()) self->broadcastRejectThroughWeb();
  });
  updateState(CallState::Kind::rejected);
  platform::mainQueue().post([weak = weak_from_this()] {
    if (auto self = weak.lock()) self->closeCallWindows();
  });
  postForThisCall(kRejectCleanupSeconds, [](NativeCallManager& self) { self.cleanup(); });
}

void NativeCallManager::broadcastRejectThroughWeb() {
  platform::callPage(webView_, platform::pageFunctionCall("__orvikBroadcastReject"));
}

// ---- My other devices -------------------------------------------------------

void NativeCallManager::handleSendToMyDevices(const std::string& action) { handleSendToMyDevices(action, std::nullopt); }

void NativeCallManager::handleSendToMyDevices(const std::optional<std::string>& type,
                                              const std::optional<std::string>& pushId) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  const auto& call = state_.call;
  if (!type) {
    log("[MultiDeviceCall] sendToMyDevices without an action — ignored");
    return;
  }
  // What another of my devices did concerns a call that rings on all of
  // them. A call this device has answered, or one it places, is its own: an
  // accept or end of some other call over there must not end it.
  const auto& session = call.currentSession;
  if (call.callState.kind() != CallState::Kind::ringing || !session ||
      session->direction != CallDirection::incoming) {
    log("[MultiDeviceCall] " + *type + " from my other device ignored — nothing rings here (state=" +
        callStateName(call.callState) + ")");
    return;
  }
  if (pushId && !pushId->empty() && !session->sessionId.empty() && *pushId != session->sessionId) {
    log("[MultiDeviceCall] " + *type + " from my other device ignored — it names another call");
    return;
  }
  const char* reason = *type == "acceptCall"   ? "answered on another of my devices"
                       : *type == "rejectCall" ? "declined on another of my devices"
                       : *type == "endCall"    ? "ended on another of my devices"
                                               : nullptr;
  timeline_.step("my OTHER device says: " + *type);
  if (!reason) return;
  timeline_.noteEndReason(reason);
  dismissRingHandledElsewhere();
}

}  // namespace orvik
