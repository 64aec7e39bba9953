// Taking an incoming call in: the page's panel message, a push or the page's
// request for the call window announce the call before its offer comes. The
// announcement may ring (decoy and wipe-out modes, a call that ended here
// moments ago and a call in progress say no), sets the ringing session up and
// connects the call socket early so the offer can arrive while it rings.
// Without credentials the call is parked in one slot and replayed when the
// page hands them over.
#include "calls/control/incoming_call_rules.h"
#include "calls/control/native_call_manager.h"
#include "core/native_logger.h"
#include "platform/queue_checker.h"

namespace orvik {

std::string callStateName(const CallState& state);

namespace {

bool credentialsComplete(const NativeCallState::Kept& kept) {
  return kept.myUserNumber && kept.myDeviceUdid && kept.myAuthToken;
}

const char* mediaWord(bool isAudio) { return isAudio ? "audio" : "video"; }

// The name shown for a caller whose identity the page only guessed.
std::string guessedCallerName(const std::optional<std::string>& fromName) {
  if (fromName && !fromName->empty() && *fromName != "Unknown" && *fromName != "Unknown Caller") return *fromName;
  return "Unknown Caller";
}

}  // namespace

bool NativeCallManager::isRingingCallAnnouncement(const std::string& from, const std::string& pushId) const {
  const auto& call = state_.call;
  if (!isInCall()) return false;
  // The call this device is in, announced again (a late push, the page's
  // panel message after the push): answering it "busy" would end it.
  if (call.currentSession && !pushId.empty() && call.currentSession->sessionId == pushId) return true;
  return call.callState.kind() == CallState::Kind::ringing && !from.empty() && call.remoteUserNumber == from;
}

void NativeCallManager::prepareSignalingForIncoming(const std::string& from, const std::optional<std::string>& fromName,
                                                    bool isAudio, const std::string& pushId,
                                                    const std::string& imageUrl, bool fromPush,
                                                    bool remoteIsSubscribed, bool isDarkMode, bool identityGuessed) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  auto& call = state_.call;
  auto& kept = state_.kept;
  if (isMaskedOrWiped()) {
    log("[IncomingFlow] prepareSignalingForIncoming ignored — decoy/wipeout active");
    return;
  }
  if (wasRecentlyEndedIncoming(pushId)) {
    ignoreEndedIncoming("prepareSignalingForIncoming", pushId);
    return;
  }
  if (isRingingCallAnnouncement(from, pushId)) {
    log("[IncomingFlow] prepareSignalingForIncoming — the ringing call announced again (from=" + from +
        "), nothing sent");
    return;
  }
  if (isInCall()) {
    log("[IncomingFlow] prepareSignalingForIncoming — busy (" + callStateName(call.callState) + "), userBusy to " + from);
    if (const auto sender = myFromAddress()) {
      signaling().emitCall(nlohmann::json{{"type", "userBusy"}, {"to", from}, {"from", *sender}});
    }
    return;
  }

  ++kept.callGeneration;
  timers_.stopAll();
  if (call.callState.kind() != CallState::Kind::idle) cleanup();

  timeline_.beginIfIdle("INCOMING", from,
                        std::string("via ") + (fromPush ? "push (APNs)" : "incoming panel / web") + " · " +
                            mediaWord(isAudio) +
                            (identityGuessed ? " · caller identity GUESSED (fixed when the offer arrives)" : ""));
  call.incomingFromPush = fromPush;

  if (!credentialsComplete(kept)) {
    kept.deferredIncoming =
        parkAnnouncedIncoming(kept.deferredIncoming, DeferredIncoming{from, fromName.value_or(""), isAudio, pushId,
                                                                      imageUrl, fromPush, remoteIsSubscribed,
                                                                      isDarkMode, identityGuessed, false, clock().now()});
    log("[IncomingFlow] no credentials yet — call parked (pushId=" + pushId + "), asking the page");
    if (c_.fetchCredentials) c_.fetchCredentials("incoming-call");
    return;
  }

  call.remoteUserNumber = from;
  call.remoteDeviceUdid.reset();
  resetPerCallSignalingState();
  call.pendingRemoteOffer.reset();
  call.captureReadyForAnswer = false;
  call.answerInProgress = false;
  call.pendingAutoAccept = false;
  kept.pendingIsDarkMode = isDarkMode;

  CallUser remote;
  remote.OrvikID = from;
  if (identityGuessed) {
    remote.name = guessedCallerName(fromName);
  } else {
    remote.name = fromName && !fromName->empty() ? *fromName : from;
    if (!imageUrl.empty()) remote.avatarURL = imageUrl;
    remote.userNumber = from;
    remote.isSubscribed = remoteIsSubscribed;
  }
  call.currentSession = std::make_shared<CallSession>(
      CallSession{pushId, CallDirection::incoming, isAudio ? CallType::audio : CallType::video, remote,
                  CallState::Kind::ringing, std::nullopt});
  call.callState = CallState::Kind::ringing;

  notifyWebNativeCallActive(true);
  preventDisplaySleep();
  platform::mainQueue().post([weak = weak_from_this(), name = remote.name,
                              picture = identityGuessed ? std::string() : imageUrl, isAudio] {
    if (auto self = weak.lock()) self->c_.windows.floatingPanelCallDidStart(name, picture, isAudio, true);
  });

  attachDelegates();
  c_.tones.startTone(CallTones::Tone::incomingRingtone);
  timers_.startRingTimer();
  if (!isAudio) c_.capture.prewarmCamera();
  startIncomingSocket(pushId);
}

void NativeCallManager::handleIncomingCall(const std::string& from, const std::optional<std::string>& fromName,
                                           bool isAudio, const std::string& pushId, bool isDarkMode) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  auto& call = state_.call;
  auto& kept = state_.kept;
  if (isMaskedOrWiped()) {
    log("[IncomingFlow] handleIncomingCall ignored — decoy/wipeout active");
    return;
  }
  if (wasRecentlyEndedIncoming(pushId)) {
    ignoreEndedIncoming("handleIncomingCall", pushId);
    return;
  }
  const std::string name = fromName && !fromName->empty() ? *fromName : from;
  if (isRingingCallAnnouncement(from, pushId)) {
    // The page asks again for the window of the call that rings: show it,
    // answer nobody.
    log("[IncomingFlow] handleIncomingCall — the ringing call announced again (from=" + from +
        "), showing its window, nothing sent");
    if (call.callState.kind() == CallState::Kind::ringing) {
      platform::mainQueue().post([weak = weak_from_this(), isAudio, name, from, isDarkMode] {
        if (auto self = weak.lock()) self->openIncomingCallWindow(isAudio, name, from, isDarkMode);
      });
    }
    return;
  }
  if (isInCall()) {
    log("[IncomingFlow] handleIncomingCall — busy (" + callStateName(call.callState) + "), userBusy to " + from);
    if (const auto sender = myFromAddress()) {
      signaling().emitCall(nlohmann::json{{"type", "userBusy"}, {"to", from}, {"from", *sender}});
      signaling().sendToMyDevices("rejectCall");
    }
    return;
  }

  ++kept.callGeneration;
  timers_.stopAll();
  if (call.callState.kind() != CallState::Kind::idle) cleanup();

  timeline_.beginIfIdle("INCOMING", from,
                        std::string("via web bridge · ") + mediaWord(isAudio) + " · pushId=" +
                            (pushId.empty() ? "none" : "set"));

  if (!credentialsComplete(kept)) {
    kept.deferredIncoming = parkAnnouncedIncoming(
        kept.deferredIncoming, DeferredIncoming{from, fromName.value_or(""), isAudio, pushId, "", true, false,
                                                isDarkMode, false, false, clock().now()});
    log("[IncomingFlow] no credentials yet — call parked (pushId=" + pushId + "), asking the page");
    if (c_.fetchCredentials) c_.fetchCredentials("incoming-call-push");
    return;
  }

  call.remoteUserNumber = from;
  call.remoteDeviceUdid.reset();
  resetPerCallSignalingState();
  kept.pendingIsDarkMode = isDarkMode;
  call.pendingRemoteOffer.reset();
  call.captureReadyForAnswer = false;
  call.answerInProgress = false;

  const CallUser remote{from, name, std::nullopt, from, false};
  call.currentSession = std::make_shared<CallSession>(
      CallSession{pushId, CallDirection::incoming, isAudio ? CallType::audio : CallType::video, remote,
                  CallState::Kind::ringing, std::nullopt});
  call.callState = CallState::Kind::ringing;

  notifyWebNativeCallActive(true);
  preventDisplaySleep();
  platform::mainQueue().post([weak = weak_from_this(), name, isAudio] {
    if (auto self = weak.lock()) self->c_.windows.floatingPanelCallDidStart(name, "", isAudio, true);
  });
  attachDelegates();
  c_.tones.startTone(CallTones::Tone::incomingRingtone);
  if (!isAudio) c_.capture.prewarmCamera();
  startIncomingSocket(pushId);
  platform::mainQueue().post([weak = weak_from_this(), isAudio, name, from, isDarkMode] {
    if (auto self = weak.lock()) self->openIncomingCallWindow(isAudio, name, from, isDarkMode);
  });
  timers_.startRingTimer();
}

void NativeCallManager::startIncomingSocket(const std::string& pushId) {
  const auto& kept = state_.kept;
  signaling().connect(CallingSocketParams{*kept.myAuthToken, *kept.myUserNumber, *kept.myDeviceUdid, pushId, "false"});
}

void NativeCallManager::openIncomingCallWindow(bool isAudio, const std::string& name, const std::string& userNumber,
                                               bool isDarkMode) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  if (isAudio) {
    c_.windows.openAudioCallWindow(name, userNumber, "", false, isDarkMode, false, false);
  } else {
    c_.windows.openVideoCallWindow(name, userNumber, "", false, isDarkMode, false);
  }
}

void NativeCallManager::sendBusyToNewCaller(const std::string& from) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  const auto sender = myFromAddress();
  if (!sender || from.empty()) return;
  if (isRingingCallAnnouncement(from, "")) {
    log("[IncomingFlow] sendBusyToNewCaller — " + from + " is the caller ringing here, nothing sent");
    return;
  }
  log("[IncomingFlow] sendBusyToNewCaller — userBusy to " + from);
  signaling().emitCall(nlohmann::json{{"type", "userBusy"}, {"to", from}, {"from", *sender}});
  signaling().sendToMyDevices("rejectCall");
}

void NativeCallManager::handleMissedCallMessage(const std::string& from, const std::string& pushId) {
  log("[IncomingFlow] reliable missed-call cancel from=" + from + " pushId=" + pushId + " — nothing to do");
}

void NativeCallManager::ignoreEndedIncoming(const std::string& context, const std::string& pushId) {
  log("[IncomingFlow] " + context + " — pushId=" + pushId + " ended here moments ago, ignoring it");
  // Held strongly: the stale panel must go even if nothing else keeps us.
  platform::mainQueue().post([self = shared_from_this()] { self->dismissCallUIIfIdle(); });
}

void NativeCallManager::handleCredentialsStored() {
  if (state_.call.awaitingReauth) reconnectAfterReauth();
  replayDeferredIncoming();
}

void NativeCallManager::reconnectAfterReauth() {
  auto& call = state_.call;
  call.awaitingReauth = false;
  if (!isInCall() || !call.currentSession || !credentialsComplete(state_.kept)) return;
  log("[NativeCallMgr] reconnecting the call socket with the fresh token");
  attachDelegates();
  startIncomingSocket(call.currentSession->sessionId);
}

void NativeCallManager::replayDeferredIncoming() {
  auto& kept = state_.kept;
  const auto slot = std::exchange(kept.deferredIncoming, std::nullopt);
  switch (decideDeferredReplay(slot, clock().now(), state_.call.callState.kind() == CallState::Kind::idle,
                               kDeferredIncomingTTL)) {
    case DeferredReplay::nothingParked: return;
    case DeferredReplay::dropStale:
      log("[IncomingFlow] parked call " + slot->pushId + " is stale — dropped");
      return;
    case DeferredReplay::dropBusy:
      log("[IncomingFlow] parked call " + slot->pushId + " dropped — another call is active");
      return;
    case DeferredReplay::replay: break;
  }
  const DeferredIncoming& parked = *slot;
  log("[IncomingFlow] replaying parked call " + parked.pushId + (parked.acceptWhenReady ? " (accepted early)" : ""));
  prepareSignalingForIncoming(parked.from,
                              parked.fromName.empty() ? std::nullopt : std::optional<std::string>(parked.fromName),
                              parked.isAudio, parked.pushId, parked.imageUrl, parked.fromPush,
                              parked.remoteIsSubscribed, parked.isDarkMode, parked.identityGuessed);
  if (parked.acceptWhenReady) {
    acceptIncomingFromPanel(parked.from, parked.fromName.empty() ? parked.from : parked.fromName, parked.isAudio,
                            parked.pushId, parked.isDarkMode);
  }
}

}  // namespace orvik
