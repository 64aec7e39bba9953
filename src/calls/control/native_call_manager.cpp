#include "calls/control/native_call_manager.h"

#include "calls/control/call_strings.h"
#include "core/native_logger.h"
#include "platform/display_sleep_inhibitor.h"
#include "platform/page_call.h"
#include "platform/queue_checker.h"
#include "platform/user_defaults.h"

namespace orvik {

std::string callStateName(const CallState& state) {
  switch (state.kind()) {
    case CallState::Kind::idle: return "idle";
    case CallState::Kind::ringing: return "ringing";
    case CallState::Kind::calling: return "calling";
    case CallState::Kind::connecting: return "connecting";
    case CallState::Kind::connected: return "connected";
    case CallState::Kind::ended: return "ended";
    case CallState::Kind::rejected: return "rejected";
    case CallState::Kind::missed: return "missed";
    case CallState::Kind::busy: return "busy";
    case CallState::Kind::failed: return "failed";
  }
  return "?";
}

std::shared_ptr<NativeCallManager> NativeCallManager::create(Collaborators collaborators) {
  auto manager = std::shared_ptr<NativeCallManager>(new NativeCallManager(std::move(collaborators)));
  // Observed for the manager's whole life.
  manager->c_.screenShare.setStreamDidStopHandler([weak = std::weak_ptr<NativeCallManager>(manager)] {
    platform::mainQueue().post([weak] {
      if (auto self = weak.lock()) self->handleScreenShareStreamDidStop();
    });
  });
  return manager;
}

NativeCallManager::NativeCallManager(Collaborators collaborators)
    : c_(std::move(collaborators)),
      signaling_(c_.signaling),
      peerConn_(c_.peerConnection),
      timers_(nullptr, c_.callSecondLength),
      callLogBridge_(c_.clock, c_.log),
      timeline_(c_.clock, c_.log) {
  state_.kept.isMasked = c_.defaults.boolValue(kMaskDataKey);
  state_.kept.isWiped = c_.defaults.boolValue(kReversePinKey);
  state_.kept.isScreenshotAccessAllowed = c_.defaults.boolValue(kScreenshotAccessKey);
}

NativeCallManager::~NativeCallManager() {
  // Quitting mid-call keeps the video seconds the call used.
  saveDailyVideoUsage();
  // Timers of the record must not outlive the manager they would call.
  for (const auto& timer : {state_.call.acceptWatchdogTimer, state_.call.candidateResendTimer,
                            state_.call.iceAttemptTimer, state_.call.iceDisconnectTimer, state_.call.iceWatchdogTimer,
                            state_.kept.videoUpgradeAnswerTimer}) {
    if (timer) timer->cancel();
  }
}

void NativeCallManager::log(const std::string& line) const {
  if (c_.log) {
    c_.log(line);
  } else {
    nativeLog(line);
  }
}

CallSignalingService& NativeCallManager::signaling() {
  if (!signaling_) signaling_ = c_.makeSignaling();
  return *signaling_;
}

PeerConnection& NativeCallManager::peerConnection() {
  if (!peerConn_) peerConn_ = c_.makePeerConnection();
  return *peerConn_;
}

platform::Clock& NativeCallManager::clock() const { return c_.clock ? *c_.clock : platform::systemClock(); }

CallStrings& NativeCallManager::strings() const { return c_.strings ? *c_.strings : ownStrings_; }

std::optional<std::string> NativeCallManager::myFromAddress() const {
  if (!state_.kept.myUserNumber || !state_.kept.myDeviceUdid) return std::nullopt;
  return *state_.kept.myUserNumber + "_" + *state_.kept.myDeviceUdid;
}

void NativeCallManager::postForThisCall(double seconds, std::function<void(NativeCallManager&)> step) {
  platform::mainQueue().postAfter(
      seconds, [weak = weak_from_this(), generation = state_.kept.callGeneration, step = std::move(step)] {
        auto self = weak.lock();
        if (!self || self->state_.kept.callGeneration != generation) return;
        step(*self);
      });
}

void NativeCallManager::hangUpCurrentCall() {
  switch (state_.call.callState.kind()) {
    case CallState::Kind::calling:
    case CallState::Kind::connecting:
    case CallState::Kind::connected:
      log("[NativeCallMgr] hangUpCurrentCall — ending active call");
      endCall();
      return;
    case CallState::Kind::ringing:
      log("[NativeCallMgr] hangUpCurrentCall — declining ringing call");
      rejectCall();
      return;
    default:
      return;
  }
}

void NativeCallManager::updateState(const CallState& newState) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  auto& call = state_.call;
  const CallState old = call.callState;
  log("[NativeCallMgr] updateState — " + callStateName(old) + " → " + callStateName(newState) + " session=" +
      (call.currentSession ? firstCharacters(call.currentSession->sessionId, 8) : std::string("nil")));
  if (!(old == newState) && timeline_.isRunning()) {
    timeline_.step("state " + callStateName(old) + " → " + callStateName(newState));
  }
  call.callState = newState;
  if (call.currentSession) call.currentSession->state = newState;

  switch (newState.kind()) {
    case CallState::Kind::idle:
      publishCallDuration("");
      publishConnected(false);
      break;
    case CallState::Kind::ringing:
      publishCallDuration("Incoming call");
      break;
    case CallState::Kind::calling:
      publishCallDuration(strings().string(CallStrings::kCalling, CallStrings::kCallingDefault));
      break;
    case CallState::Kind::connecting:
      publishCallDuration(strings().string(CallStrings::kConnecting, CallStrings::kConnectingDefault));
      if (old.kind() != CallState::Kind::connecting) {
        armConnectingWatchdog();
        const auto& session = call.currentSession;
        if (!session || (session->direction == CallDirection::incoming && !session->connectedAt)) {
          c_.tones.startTone(CallTones::Tone::connecting);
        } else {
          c_.tones.stopTone();
        }
      }
      break;
    case CallState::Kind::connected:
      publishCallDuration("");
      publishConnected(true);
      break;
    case CallState::Kind::ended:
      publishCallDuration("Call ended");
      publishConnected(false);
      break;
    case CallState::Kind::rejected:
      publishCallDuration("Call rejected");
      publishConnected(false);
      break;
    case CallState::Kind::missed:
      publishCallDuration("Missed call");
      publishConnected(false);
      break;
    case CallState::Kind::busy:
      publishCallDuration("User busy right now");
      publishConnected(false);
      break;
    case CallState::Kind::failed:
      publishCallDuration("Failed: " + newState.reason());
      publishConnected(false);
      break;
  }
}

void NativeCallManager::armConnectingWatchdog() {
  postForThisCall(kConnectingWatchdogSeconds, [](NativeCallManager& self) { self.connectingWatchdogFired(); });
}

void NativeCallManager::connectingWatchdogFired() {
  const auto& call = state_.call;
  if (call.callState.kind() != CallState::Kind::connecting) return;
  if (call.currentSession && call.currentSession->connectedAt) return;
  const int seconds = static_cast<int>(kConnectingWatchdogSeconds);
  const bool iceConnected = isIceUp();
  log("[NativeCallMgr] ❌ CONNECTING HARD LIMIT: still connecting " + std::to_string(seconds) +
      "s after it started — ending (answerSent=" + (call.localAnswerSent ? "true" : "false") +
      " answerReceived=" + (call.remoteAnswerReceived ? "true" : "false") +
      " iceConnected=" + (iceConnected ? "true" : "false") +
      " attemptTimer=" + (call.iceAttemptTimer ? "true" : "false") + ")");
  timeline_.noteEndReason("stuck on Connecting for " + std::to_string(seconds) + "s — safety limit");
  endCall();
}

void NativeCallManager::resetIceRestartState() {
  auto& call = state_.call;
  if (call.iceAttemptTimer) call.iceAttemptTimer->cancel();
  call.iceAttemptTimer.reset();
  call.iceAttemptStartedAt.reset();
  call.iceRestartCount = 0;
  call.iceRestartRequestsSent = 0;
  call.iceRestartInFlight = false;
}

void NativeCallManager::resetPerCallSignalingState() {
  auto& call = state_.call;
  if (call.candidateResendTimer) call.candidateResendTimer->cancel();
  call.candidateResendTimer.reset();
  call.candidateResendsDone = 0;
  call.localCandidatesThisGeneration.clear();
  call.remoteCandidatesReceived = 0;
  call.remoteAnswerReceived = false;
  call.ignoredAnswerUdids.clear();
  call.acceptBroadcastSent = false;
  call.localAnswerSent = false;
  if (call.acceptWatchdogTimer) call.acceptWatchdogTimer->cancel();
  call.acceptWatchdogTimer.reset();
  call.callSocketConnects = 0;
  call.ringingDeviceUdids.clear();
  call.midCallOfferInProgress = false;
  call.originalRemoteOfferSDP.reset();
  call.remoteDeviceSource.reset();
  call.plainRestartInFlight = false;
  call.lastPeerMidCallOfferAt.reset();
  call.serverCallFinishedAt.reset();
  call.lastIceRecoverAt.reset();
}

void NativeCallManager::cleanup() {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  auto& call = state_.call;
  const auto& session = call.currentSession;
  log("[NativeCallMgr] cleanup() — tearing down session=" +
      (session ? firstCharacters(session->sessionId, 8) : std::string("nil")) +
      " remote=" + call.remoteUserNumber.value_or("nil") + " state=" + callStateName(call.callState));

  if (session && session->direction == CallDirection::incoming && !session->sessionId.empty()) {
    const auto now = clock().now();
    std::lock_guard lock(recentlyEndedIncomingLock_);
    std::erase_if(recentlyEndedIncoming_, [&](const auto& entry) {
      return std::chrono::duration<double>(now - entry.second).count() >= kRecentlyEndedIncomingSeconds;
    });
    recentlyEndedIncoming_[session->sessionId] = now;
  }

  callLogBridge_.warnIfOutgoingUnlogged(makeCallLogContext());
  timeline_.end(timeline_.endReason().value_or("call torn down (state=" + callStateName(call.callState) + ")"));
  c_.windows.floatingPanelCallDidEnd();

  if (call.powerAssertionActive) {
    c_.displaySleep.uninhibit(call.powerAssertionID);
    log("[NativeCallMgr] Screen sleep allowed — call ended");
  }

  for (const auto& timer : {call.iceDisconnectTimer, call.iceWatchdogTimer}) {
    if (timer) timer->cancel();
  }
  resetIceRestartState();
  callLogBridge_.clearLogged();
  platform::mainQueue().post([weak = weak_from_this()] {
    if (auto self = weak.lock()) self->c_.windows.hideCallLimitBanner();
  });
  if (c_.stopAudioAutoSwitching) c_.stopAudioAutoSwitching();

  // The window models go back to no call, unless a later call has begun by
  // the time this runs.
  const auto resetModels = [](NativeCallManager& self) {
    self.timers_.stopAll();
    self.c_.windows.resetVideoCallModel();
  };
  if (platform::mainQueue().isCurrent()) {
    resetModels(*this);
  } else {
    postForThisCall(0, resetModels);
  }

  c_.tones.stopTone();
  endScreenShareAndUpgradeForCleanup();
  if (call.isScreenSharing) c_.screenShare.stopCapture();
  c_.capture.stopCapture();
  if (peerConn_) peerConn_->close();
  iceManager_.reset();
  if (signaling_) signaling_->disconnect();

  // Every per-call field, the per-call negotiation state included, back to
  // its default; the timers were cancelled above.
  resetPerCallSignalingState();
  saveDailyVideoUsage();
  call = NativeCallState::PerCall{};

  notifyWebNativeCallActive(false);
}

std::optional<CallLogContext> NativeCallManager::makeCallLogContext() const {
  const auto& call = state_.call;
  if (!call.currentSession) return std::nullopt;
  CallLogContext context;
  context.direction = call.currentSession->direction;
  context.sessionId = call.currentSession->sessionId;
  context.callId = call.currentCallId;
  context.remoteUserNumber = call.remoteUserNumber;
  context.isAudio = call.currentSession->type != CallType::video;
  context.connectedAt = call.currentSession->connectedAt;
  context.webView = webView_;
  return context;
}

void NativeCallManager::attachDelegates() {
  const auto self = shared_from_this();
  signaling().setDelegate(std::weak_ptr<CallSignalingDelegate>(self));
  peerConnection().setDelegate(std::weak_ptr<CallPeerConnectionDelegate>(self));
  timers_.setDelegate(std::weak_ptr<CallTimerDelegate>(self));
  iceManager_.onApplyCandidate = [weak = weak_from_this()](const std::string& candidate,
                                                          const std::optional<std::string>& sdpMid,
                                                          std::int32_t sdpMLineIndex) {
    auto manager = weak.lock();
    if (manager && manager->peerConn_) manager->peerConn_->addICECandidate(candidate, sdpMid, sdpMLineIndex);
  };
}

void NativeCallManager::showCallAlert(const std::string& title, const std::string& message) {
  if (!platform::mainQueue().isCurrent()) {
    platform::mainQueue().post([weak = weak_from_this(), title, message] {
      if (auto self = weak.lock()) self->showCallAlert(title, message);
    });
    return;
  }
  c_.alerts.showCallAlert(title, message);
}

void NativeCallManager::publishCallDuration(const std::string& text) {
  platform::mainQueue().post([weak = weak_from_this(), text] {
    if (auto self = weak.lock()) self->c_.windows.publishTimerText(text);
  });
}

void NativeCallManager::publishConnected(bool connected) {
  platform::mainQueue().post([weak = weak_from_this(), connected] {
    if (auto self = weak.lock()) self->c_.windows.publishConnected(connected);
  });
}

void NativeCallManager::closeCallWindows() {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  c_.windows.closeAudioCallWindow();
  c_.windows.closeVideoCallWindow();
  c_.windows.dismissIncomingCallPanel();
}

void NativeCallManager::dismissCallUIIfIdle() {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  if (isInCall()) return;
  c_.windows.dismissIncomingCallPanel();
  c_.windows.closeAudioCallWindow();
  c_.windows.closeVideoCallWindow();
  c_.windows.floatingPanelCallDidEnd();
}

void NativeCallManager::markCameraOffInWindows() {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  c_.windows.markCameraOff();
}

std::string NativeCallManager::dataChannelFlagMessage(const std::string& type, bool flag) {
  // Key order matters to the peer's reader: "type" first, then "data".
  return "{\"type\":" + nlohmann::json(type).dump() + ",\"data\":" + (flag ? "true" : "false") + "}";
}

std::vector<std::uint64_t> NativeCallManager::ownCallWindowNumbers() { return c_.windows.ownCallWindowNumbers(); }

bool NativeCallManager::wasRecentlyEndedIncoming(const std::string& pushId) const {
  if (pushId.empty()) return false;
  const auto now = clock().now();
  std::lock_guard lock(recentlyEndedIncomingLock_);
  const auto found = recentlyEndedIncoming_.find(pushId);
  return found != recentlyEndedIncoming_.end() &&
         std::chrono::duration<double>(now - found->second).count() < kRecentlyEndedIncomingSeconds;
}

}  // namespace orvik
