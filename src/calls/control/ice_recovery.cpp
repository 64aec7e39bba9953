// ICE restart and reconnection: keeps a call alive when its ICE connection
// does not come up or breaks. Every negotiation step arms an attempt timer;
// when ICE fails or the timer runs out the caller restarts ICE on the same
// connection ("iceRestartOffer"), the callee asks it to ("iceRestartRequest"),
// and a mobile peer that cannot restart gets a plain re-offer after our call
// socket came back. A call that never connected is given up after two
// restarts or requests; one that had connected has the 45 s reconnect window
// (connection_states.cpp), in which every further failure, at most one per
// 2 s, tries again.
#include <cstdio>

#include <nlohmann/json.hpp>

#include "calls/control/call_frame_routing.h"
#include "calls/control/ice_recovery_rules.h"
#include "calls/control/native_call_manager.h"
#include "core/native_logger.h"
#include "platform/queue_checker.h"

namespace orvik {

std::string callStateName(const CallState& state);

namespace {

const char* boolText(bool value) { return value ? "true" : "false"; }

std::string wholeSeconds(double seconds) { return std::to_string(static_cast<long long>(seconds)); }

std::string attemptText(std::optional<std::int64_t> attempt) {
  return attempt ? std::to_string(*attempt) : std::string("-");
}

double secondsBetween(platform::Clock::WallTime from, platform::Clock::WallTime to) {
  return std::chrono::duration<double>(to - from).count();
}

}  // namespace

bool NativeCallManager::isCallerRole() const {
  const auto& session = state_.call.currentSession;
  return session && session->direction == CallDirection::outgoing;
}

bool NativeCallManager::wasEverConnected() const {
  const auto& session = state_.call.currentSession;
  return session && session->connectedAt.has_value();
}

bool NativeCallManager::isFromCurrentPeer(const std::optional<std::string>& from) const {
  return orvik::isFromCurrentPeer(from, state_.call.remoteUserNumber, state_.call.remoteDeviceUdid);
}

std::string NativeCallManager::iceAttemptElapsedText() const {
  const auto& startedAt = state_.call.iceAttemptStartedAt;
  if (!startedAt) return "";
  char text[48];
  std::snprintf(text, sizeof text, "(%.1fs into attempt)", secondsBetween(*startedAt, clock().now()));
  return text;
}

void NativeCallManager::learnRemoteDeviceFromAddress(const std::optional<std::string>& from,
                                                     const std::string& context) {
  auto& call = state_.call;
  if (call.remoteDeviceUdid && !call.remoteDeviceUdid->empty()) return;
  const auto device = deviceLearnedFromAddress(from, call.remoteUserNumber);
  if (!device) return;
  call.remoteDeviceUdid = *device;
  log("[NativeCallMgr] remoteDeviceUdid learned from " + context + ": " + *device);
}

void NativeCallManager::beginIceGeneration() {
  state_.call.localCandidatesThisGeneration.clear();
  iceManager_.beginRenegotiation();
}

// ---- The attempt timer ------------------------------------------------------

void NativeCallManager::armIceAttemptTimer(const std::string& reason, std::optional<double> timeout) {
  auto& call = state_.call;
  if (!call.callState.isInCall()) return;
  const bool caller = isCallerRole();
  const bool canRestart = peerCanRestartIce();
  const double seconds = timeout.value_or(iceAttemptTimeoutSeconds(caller, canRestart));
  if (call.iceAttemptTimer) call.iceAttemptTimer->cancel();
  call.iceAttemptStartedAt = clock().now();
  call.iceAttemptTimer = std::make_shared<platform::WorkItem>(
      [weak = weak_from_this(), generation = state_.kept.callGeneration, reason, seconds] {
        auto self = weak.lock();
        if (!self || self->state_.kept.callGeneration != generation) return;
        self->iceAttemptTimedOut(reason, seconds);
      });
  platform::mainQueue().postAfter(seconds, call.iceAttemptTimer);
  log("[ICERestart] attempt timer " + wholeSeconds(seconds) + "s armed — " + reason + " (peerCanRestart=" +
      boolText(canRestart) + " role=" + (caller ? "caller" : "callee") + ")");
}

void NativeCallManager::iceAttemptTimedOut(const std::string& reason, double timeout) {
  auto& call = state_.call;
  if (!call.callState.isInCall()) return;
  call.iceAttemptTimer.reset();
  if (isIceUp()) return;
  if (peerConn_) {
    peerConn_->logDiagnostics();
    peerConn_->checkStillConnecting();
  }
  handleIceFailure("not connected " + wholeSeconds(timeout) + "s after " + reason);
}

// ---- Failure -----------------------------------------------------------------

void NativeCallManager::handleIceFailure(const std::string& reason) {
  auto& call = state_.call;
  if (!call.callState.isInCall()) return;
  const auto now = clock().now();
  if (call.lastIceRecoverAt) {
    const double ago = secondsBetween(*call.lastIceRecoverAt, now);
    if (ago < kIceFailureRepeatSeconds) {
      char text[32];
      std::snprintf(text, sizeof text, "%.1f", ago);
      log("[ICERestart] " + reason + " — already handled " + text + "s ago, skipping (same failure reported twice)");
      return;
    }
  }
  call.lastIceRecoverAt = now;
  const bool midCall = wasEverConnected();
  const bool caller = isCallerRole();
  const bool canRestart = peerCanRestartIce();
  if (timeline_.isRunning()) timeline_.step("⏱ " + reason);
  log("[ICERestart] " + reason + " — role=" + (caller ? "caller" : "callee") + " peerCanRestart=" +
      boolText(canRestart) + " restarts=" + std::to_string(call.iceRestartCount) +
      " requests=" + std::to_string(call.iceRestartRequestsSent) + " midCall=" + boolText(midCall));

  // A failure reported while our restart offer waits for its answer means
  // that offer is lost: the caller may offer again.
  if (caller && canRestart) call.iceRestartInFlight = false;
  IceFailureAction action = decideIceFailure(IceFailureFacts{
      caller, canRestart, midCall, call.iceRestartCount, call.iceRestartRequestsSent,
      call.remoteUserNumber && call.remoteDeviceUdid && myFromAddress().has_value()});
  switch (action) {
    case IceFailureAction::askCallerToRestart: {
      const int n = ++call.iceRestartRequestsSent;
      log("[ICERestart] callee → asking caller to restart ICE (request " + std::to_string(n) + "/2)");
      if (timeline_.isRunning()) timeline_.step("🔁 asked the caller to restart ICE (" + std::to_string(n) + "/2)");
      signaling().sendIceRestartRequest(*call.remoteUserNumber, *call.remoteDeviceUdid, *myFromAddress());
      armIceAttemptTimer("restart request " + std::to_string(n) + " sent");
      return;
    }
    case IceFailureAction::restartAsCaller:
      if (restartIceAsCaller(reason)) return;
      action = whenNoRestartStarted(midCall);
      break;
    case IceFailureAction::leaveToReconnectWindow:
    case IceFailureAction::giveUp: break;
  }
  if (action == IceFailureAction::leaveToReconnectWindow) {
    log("[ICERestart] no restart left — the reconnect window decides");
    return;
  }
  giveUpIceRecovery(reason);
}

void NativeCallManager::giveUpIceRecovery(const std::string& reason) {
  auto& call = state_.call;
  log("[ICERestart] ❌ giving up — call never connected (" + reason + ")");
  timeline_.noteEndReason("could not connect — " + reason + " (see [ICE] WHY line)");
  if (call.iceDisconnectTimer) call.iceDisconnectTimer->cancel();
  call.iceDisconnectTimer.reset();
  endCall();
}

// ---- The caller's restart ----------------------------------------------------

bool NativeCallManager::restartIceAsCaller(const std::string& reason) {
  auto& call = state_.call;
  if (!call.callState.isInCall() || !isCallerRole() || !peerCanRestartIce() || call.iceRestartInFlight) return false;
  const auto from = myFromAddress();
  if (!call.remoteUserNumber || !call.remoteDeviceUdid || !from) {
    log("[ICERestart] cannot restart — missing remoteUserNumber/remoteDeviceUdid/myFromAddress");
    return false;
  }
  const int n = ++call.iceRestartCount;
  call.iceRestartInFlight = true;
  call.localCandidatesThisGeneration.clear();
  const std::string to = signalingAddress(*call.remoteUserNumber, *call.remoteDeviceUdid);
  log("[ICERestart] caller → restart " + std::to_string(n) + "/2 (" + reason + ")");
  if (timeline_.isRunning()) timeline_.step("🔁 ICE restart " + std::to_string(n) + "/2 — " + reason);
  if (!wasEverConnected()) {
    publishCallDuration(strings().string(CallStrings::kConnecting, CallStrings::kConnectingDefault));
  }
  iceManager_.beginRenegotiation();
  armIceAttemptTimer("restart " + std::to_string(n) + " started");
  peerConnection().createIceRestartOffer(
      [weak = weak_from_this(), generation = state_.kept.callGeneration, n, to,
       from = *from](const std::optional<std::string>& offer) {
        auto self = weak.lock();
        if (!self || self->state_.kept.callGeneration != generation) return;
        self->restartOfferReady(n, offer, to, from);
      });
  return true;
}

void NativeCallManager::restartOfferReady(int attempt, const std::optional<std::string>& offer, const std::string& to,
                                          const std::string& from) {
  auto& call = state_.call;
  if (!call.callState.isInCall() || call.iceRestartCount != attempt) return;
  if (!offer) {
    log("[ICERestart] restart " + std::to_string(attempt) + " offer could not be created — keeping the old path");
    call.iceRestartInFlight = false;
    iceManager_.remoteDescriptionWasSet();
    return;
  }
  OutgoingCallMessage message;
  message.type = "iceRestartOffer";
  message.to = to;
  message.from = from;
  message.sdp = *offer;
  message.advertisesIceRestart = true;
  message.iceRestartAttempt = attempt;
  signaling().emitCall(message.dictionary());
  armIceAttemptTimer("restart " + std::to_string(attempt) + " offer sent");
}

// ---- Frames of the peer ------------------------------------------------------

void NativeCallManager::signalingDidReceiveRestartCapability(const std::optional<std::string>& from) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  auto& call = state_.call;
  if (!call.callState.isInCall() || !from || !call.remoteUserNumber ||
      splitSignalingAddress(*from).user != *call.remoteUserNumber) {
    return;
  }
  if (call.iceRestartCapablePeers.insert(*from).second) log("[ICERestart] peer " + *from + " supports ICE restart");
  if (isCallerRole()) return;
  learnRemoteDeviceFromAddress(from, "capability flag");
  const bool timerPending = call.iceAttemptTimer && !call.iceAttemptTimer->isCancelled();
  if (peerCanRestartIce() && timerPending && !wasEverConnected() && !isIceUp()) {
    armIceAttemptTimer("peer ICE-restart capability learned");
  }
}

void NativeCallManager::signalingDidReceiveRestartOffer(const SDPPayload& offer, std::optional<std::int64_t> attempt,
                                                        const std::optional<std::string>& from) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  auto& call = state_.call;
  const bool caller = isCallerRole();
  if (!caller) learnRemoteDeviceFromAddress(from, "iceRestartOffer");
  const bool answered = peerHasRemoteDescription();
  const bool currentPeer = isFromCurrentPeer(from);
  const auto sender = myFromAddress();
  if (!call.callState.isInCall() || caller || !answered || !currentPeer || !call.remoteUserNumber ||
      !call.remoteDeviceUdid || !sender) {
    log("[ICERestart] restart offer from " + from.value_or("-") + " ignored — state=" + callStateName(call.callState) +
        " outgoing=" + boolText(caller) + " answered=" + boolText(answered) + " currentPeer=" + boolText(currentPeer));
    return;
  }
  if (timeline_.isRunning()) timeline_.step("🔁 caller sent an ICE restart — answering");
  log("[ICERestart] callee ← restart offer attempt=" + attemptText(attempt) + " — answering");
  if (!wasEverConnected()) {
    publishCallDuration(strings().string(CallStrings::kConnecting, CallStrings::kConnectingDefault));
  }
  beginIceGeneration();
  armIceAttemptTimer("restart offer " + attemptText(attempt) + " received");
  const std::string to = signalingAddress(*call.remoteUserNumber, *call.remoteDeviceUdid);
  const auto generation = state_.kept.callGeneration;
  peerConnection().answerIceRestartOffer(
      offer,
      [weak = weak_from_this(), generation] {
        auto self = weak.lock();
        if (self && self->state_.kept.callGeneration == generation) self->iceManager_.remoteDescriptionWasSet();
      },
      [weak = weak_from_this(), generation, attempt, to, from = *sender](const std::optional<std::string>& answer) {
        auto self = weak.lock();
        if (!self || self->state_.kept.callGeneration != generation) return;
        self->restartAnswerReady(attempt, answer, to, from);
      });
}

void NativeCallManager::restartAnswerReady(std::optional<std::int64_t> attempt,
                                           const std::optional<std::string>& answer, const std::string& to,
                                           const std::string& from) {
  if (!state_.call.callState.isInCall()) return;
  if (!answer) {
    log("[ICERestart] restart answer could not be created — keeping the old path");
    iceManager_.remoteDescriptionWasSet();
    return;
  }
  OutgoingCallMessage message;
  message.type = "iceRestartAnswer";
  message.to = to;
  message.from = from;
  message.sdp = *answer;
  message.advertisesIceRestart = true;
  if (attempt) message.iceRestartAttempt = static_cast<int>(*attempt);
  signaling().emitCall(message.dictionary());
}

void NativeCallManager::signalingDidReceiveRestartAnswer(const SDPPayload& answer, std::optional<std::int64_t> attempt,
                                                         const std::optional<std::string>& from) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  auto& call = state_.call;
  const bool current = !attempt || *attempt == call.iceRestartCount;
  if (!call.callState.isInCall() || !isCallerRole() || !call.iceRestartInFlight || !isFromCurrentPeer(from) ||
      !current) {
    log("[ICERestart] restart answer from " + from.value_or("-") + " attempt=" + attemptText(attempt) +
        " ignored — inFlight=" + boolText(call.iceRestartInFlight) +
        " current=" + std::to_string(call.iceRestartCount));
    return;
  }
  peerConnection().applyIceRestartAnswer(
      answer, [weak = weak_from_this(), generation = state_.kept.callGeneration](bool applied) {
        auto self = weak.lock();
        if (!self || self->state_.kept.callGeneration != generation || !self->isInCall()) return;
        self->state_.call.iceRestartInFlight = false;
        self->iceManager_.remoteDescriptionWasSet();
        self->log("[ICERestart] caller ← restart answer " + std::to_string(self->state_.call.iceRestartCount) +
                  (applied ? " applied — ICE re-checking" : " could NOT be applied"));
      });
}

void NativeCallManager::signalingDidReceiveRestartRequest(const std::optional<std::string>& from) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  auto& call = state_.call;
  const bool caller = isCallerRole();
  if (!call.callState.isInCall() || !caller || !isFromCurrentPeer(from)) {
    log("[ICERestart] restart request from " + from.value_or("-") + " ignored — state=" +
        callStateName(call.callState) + " outgoing=" + boolText(caller));
    return;
  }
  if (call.iceRestartInFlight) {
    log("[ICERestart] restart request — a restart is already in progress");
    return;
  }
  if (isIceUp()) {
    log("[ICERestart] restart request — caller side is connected, ignoring");
    return;
  }
  if (call.iceRestartCount >= kMaxIceRecoveriesBeforeConnect && !wasEverConnected()) {
    log("[ICERestart] restart request — no restarts left (" + std::to_string(call.iceRestartCount) + ")");
    return;
  }
  restartIceAsCaller("callee requested");
}

// ---- The call socket came back -------------------------------------------------

void NativeCallManager::recoverAfterSocketReconnect() {
  auto& call = state_.call;
  const bool caller = isCallerRole();
  const bool answered = caller ? call.remoteAnswerReceived : call.localAnswerSent;
  const bool iceUp = isIceUp();
  if (!call.callState.isInCall() || !answered || iceUp) {
    log(std::string("[NativeCallMgr] call socket reconnected — nothing to recover (answered=") + boolText(answered) +
        " iceConnected=" + boolText(iceUp) + ")");
    return;
  }
  if (timeline_.isRunning()) timeline_.step("🔌 call socket reconnected while not connected — refreshing ICE");
  const bool midCall = wasEverConnected();
  const bool canRestart = peerCanRestartIce();
  const auto sender = myFromAddress();
  if (canRestart) {
    if (!caller) {
      if ((call.iceRestartRequestsSent < kMaxIceRecoveriesBeforeConnect || midCall) && sender) {
        const int n = ++call.iceRestartRequestsSent;
        log("[ICERestart] callee → asking caller to restart ICE after socket reconnect (request " + std::to_string(n) +
            "/2)");
        signaling().sendIceRestartRequest(*call.remoteUserNumber, *call.remoteDeviceUdid, *sender);
      } else if (!midCall && call.iceRestartRequestsSent >= kMaxIceRecoveriesBeforeConnect) {
        resendCandidatesByBroadcast("call socket reconnected");
        return;
      }
    } else {
      if (midCall) {
        call.iceRestartInFlight = false;
      } else if (call.iceRestartCount >= kMaxIceRecoveriesBeforeConnect) {
        resendCandidatesByBroadcast("call socket reconnected");
        return;
      }
      if (!call.iceRestartInFlight && restartIceAsCaller("call socket reconnected")) return;
    }
  }
  resendCandidatesByBroadcast("call socket reconnected");
  if (midCall && !canRestart && (!call.remoteDeviceSource || call.remoteDeviceSource->empty())) {
    schedulePlainRestartCheck("our call socket reconnected");
  }
}

// ---- The plain re-offer to a mobile peer -----------------------------------------

void NativeCallManager::schedulePlainRestartCheck(const std::string& reason) {
  const auto requestedAt = clock().now();
  postForThisCall(kPlainRestartCheckSeconds, [requestedAt, reason](NativeCallManager& self) {
    const auto& call = self.state_.call;
    if (!call.callState.isInCall() || !self.wasEverConnected() || self.isIceUp()) return;
    if (call.lastPeerMidCallOfferAt && *call.lastPeerMidCallOfferAt > requestedAt) {
      self.log("[ICERestart] mobile peer already re-offered — not sending ours");
      return;
    }
    self.sendPlainRestartOffer(reason);
  });
}

void NativeCallManager::sendPlainRestartOffer(const std::string& reason) {
  auto& call = state_.call;
  if (call.plainRestartInFlight || call.midCallOfferInProgress || !call.remoteUserNumber || !myFromAddress()) return;
  call.plainRestartInFlight = true;
  log("[ICERestart] → plain restart offer to mobile peer (" + reason + ")");
  if (timeline_.isRunning()) timeline_.step("🔁 offered the mobile peer an ICE restart (" + reason + ")");
  beginIceGeneration();
  peerConnection().createIceRestartOffer(
      [weak = weak_from_this(), generation = state_.kept.callGeneration](const std::optional<std::string>& offer) {
        auto self = weak.lock();
        if (!self || self->state_.kept.callGeneration != generation) return;
        self->plainRestartOfferReady(offer);
      });
}

void NativeCallManager::plainRestartOfferReady(const std::optional<std::string>& offer) {
  auto& call = state_.call;
  if (!call.callState.isInCall()) return;
  const auto from = myFromAddress();
  if (!offer || !call.remoteUserNumber || !from) {
    call.plainRestartInFlight = false;
    iceManager_.remoteDescriptionWasSet();
    return;
  }
  std::string text = *offer;
  if (auto description = nlohmann::json::parse(text, nullptr, false); description.is_object()) {
    description["deviceUdids"] = state_.kept.myDeviceUdid.value_or("");
    text = description.dump();
  }
  OutgoingCallMessage message;
  message.type = "offer";
  message.to = signalingAddress(*call.remoteUserNumber, call.remoteDeviceUdid.value_or(""));
  message.from = *from;
  message.sdp = text;
  message.isAudio = call.currentSession && call.currentSession->type == CallType::audio;
  message.deviceSource = "desktop";
  signaling().emitCall(message.dictionary());
  postForThisCall(kPlainRestartAnswerSeconds, [](NativeCallManager& self) {
    auto& current = self.state_.call;
    if (!current.plainRestartInFlight) return;
    self.log("[ICERestart] mobile peer didn't answer the restart offer in 10s");
    current.plainRestartInFlight = false;
    self.iceManager_.remoteDescriptionWasSet();
  });
}

}  // namespace orvik
