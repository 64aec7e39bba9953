// Outgoing call negotiation: from the call socket's connect to the callee's
// answer. The socket's connect and its ICE servers build the peer connection
// of every call; for an outgoing call capture starts, then the callee's
// device list and the offer are fetched side by side and whichever finishes
// last sends the offer, exactly once. Ringing devices restart the ring timer;
// the first answer from the callee wins.
#include <nlohmann/json.hpp>

#include "calls/control/call_frame_routing.h"
#include "calls/control/native_call_manager.h"
#include "core/native_logger.h"
#include "platform/queue_checker.h"

namespace orvik {

std::string callStateName(const CallState& state);

namespace {

const char* boolText(bool value) { return value ? "true" : "false"; }

std::string trimmedLowerCase(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return "";
  const auto last = text.find_last_not_of(" \t\r\n");
  std::string out = text.substr(first, last - first + 1);
  for (auto& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

void NativeCallManager::signalingDidConnect() {
  auto& call = state_.call;
  ++call.callSocketConnects;
  if (call.callSocketConnects < 2) {
    log("[NativeCallMgr] Signaling connected");
    if (timeline_.isRunning()) timeline_.step("call socket connected — waiting for ICE servers (getToken)");
  } else {
    log("[NativeCallMgr] Signaling RE-connected (#" + std::to_string(call.callSocketConnects) +
        ") state=" + callStateName(call.callState));
    recoverAfterSocketReconnect();
  }
  // Candidates held while the socket waited for fresh credentials go out now
  // (the caller's own wait for the answer keeps its hold).
  const auto& session = call.currentSession;
  const bool callerAwaitingAnswer =
      session && session->direction == CallDirection::outgoing && !call.remoteAnswerReceived;
  if (!call.pendingLocalCandidates.empty() && !callerAwaitingAnswer && !call.awaitingReauth &&
      call.callState.isInCall()) {
    flushPendingLocalCandidates();
  }
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
                           if (result == BuildResult::built) {
                             self->peerConnectionSetupDidComplete(isVideo);
                           } else if (result == BuildResult::refusedOpenConnection) {
                             // Fresh credentials re-arm the ICE servers mid-call: the running
                             // connection and its media stay; no capture restart, no offer.
                             self->log("[NativeCallMgr] ICE config refreshed — the call's peer connection stays, "
                                       "set-up skipped");
                           }
                         });
}

void NativeCallManager::peerConnectionSetupDidComplete(bool isVideo) {
  auto& call = state_.call;
  call.peerConnIsReady = true;
  const auto session = call.currentSession;
  log(std::string("[NativeCallMgr] PeerConn setup complete — direction=") +
      (!session ? "nil" : session->direction == CallDirection::outgoing ? "outgoing" : "incoming") +
      " videoSource=" + (isVideo ? "set" : "nil"));
  applyLocalTrackFlags();
  if (!session) return;
  if (session->direction == CallDirection::incoming) {
    if (call.answerCaptureWaitsForConnection) {
      call.answerCaptureWaitsForConnection = false;
      startCaptureAndAnswer(true);
    }
    incomingPeerConnectionReady();
    return;
  }
  const bool startVideo = isVideo && !call.localCameraOff;
  log(std::string("[NativeCallMgr] Starting capture isVideo=") + boolText(isVideo) + " startVideo=" +
      boolText(startVideo) + " cameraOff=" + boolText(call.localCameraOff));
  handCameraTrackToCapture(startVideo, [](NativeCallManager& self, bool startVideo) {
    self.c_.capture.startCapture(startVideo, [weak = self.weak_from_this(), generation = self.state_.kept.callGeneration,
                                              startVideo](const std::optional<std::string>& error) {
      platform::mainQueue().post([weak, generation, startVideo, error] {
        auto self = weak.lock();
        if (!self || self->state_.kept.callGeneration != generation) return;
        self->outgoingCaptureDidStart(error, startVideo);
      });
    });
  });
}

void NativeCallManager::handCameraTrackToCapture(bool video, std::function<void(NativeCallManager&, bool)> then) {
  if (!video) return then(*this, false);
  // The connection made the camera's track and source when it was built
  // for video; the camera's frames go into that source.
  peerConnection().addLocalVideoTrack([weak = weak_from_this(), generation = state_.kept.callGeneration,
                                       then = std::move(then)](VideoTrackHandle track, VideoSourceHandle source) {
    auto self = weak.lock();
    if (!self || self->state_.kept.callGeneration != generation) return;
    self->c_.capture.attachVideo(std::move(track), std::move(source));
    then(*self, true);
  });
}

void NativeCallManager::outgoingCaptureDidStart(const std::optional<std::string>& error, bool startVideo) {
  auto& call = state_.call;
  if (error) {
    log("[NativeCallMgr] Capture failed: " + *error);
    endCall();
    return;
  }
  if (startVideo) {
    platform::mainQueue().post([weak = weak_from_this()] {
      if (auto self = weak.lock()) self->publishLocalCameraSession();
    });
  }
  log("[NativeCallMgr] Capture OK — starting getUserDevices + createOffer in parallel");
  auto* socket = signaling().socket();
  if (!socket) {
    log("[Signaling] fetchUserDevice — socket nil");
    userDevicesDidArrive(std::nullopt);
  } else {
    // The acknowledgement belongs to this call: one that comes back after a
    // redial must not put the earlier callee's push record into the new offer.
    socket->emitWithAck("getUserDevices", nlohmann::json::array({{{"userNumber", call.remoteUserNumber.value_or("")}}}),
                        CallSignalingService::kUserDevicesAckTimeout,
                        [weak = weak_from_this(), generation = state_.kept.callGeneration](const nlohmann::json& ack) {
                          auto self = weak.lock();
                          if (!self || self->state_.kept.callGeneration != generation) return;
                          self->signaling().getUserDevices(ack, [&self](std::optional<nlohmann::json> record) {
                            self->userDevicesDidArrive(record);
                          });
                        });
  }
  peerConnection().createOffer();
}

void NativeCallManager::publishLocalCameraSession() { c_.windows.setVideoCameraSession(c_.capture.cameraSession()); }

void NativeCallManager::userDevicesDidArrive(const std::optional<nlohmann::json>& deviceRecord) {
  auto& call = state_.call;
  buildAddRecord(deviceRecord);
  call.deviceFetchDone = true;
  log(std::string("[NativeCallMgr] getUserDevices done — addRecord=") + boolText(call.outgoingAddRecord.has_value()));
  if (call.pendingOfferSDP) {
    const std::string sdp = *std::exchange(call.pendingOfferSDP, std::nullopt);
    log("[NativeCallMgr] Sending deferred offer (device fetch completed last)");
    sendPreparedOffer(sdp);
  }
}

void NativeCallManager::peerConnectionDidCreateOffer(const std::optional<std::string>& description) {
  // Every offer is checked for the video upgrade's first (video_upgrade.cpp).
  if (takeVideoUpgradeOffer(description)) return;
  auto& call = state_.call;
  if (!description) {
    log("[NativeCallMgr] Offer creation gave no description — nothing to send");
    return;
  }
  if (call.deviceFetchDone) {
    log("[NativeCallMgr] Offer ready & device fetch done — sending immediately");
    sendPreparedOffer(*description);
  } else {
    log("[NativeCallMgr] Offer ready but device fetch pending — storing SDP");
    call.pendingOfferSDP = *description;
  }
}

void NativeCallManager::sendPreparedOffer(const std::string& sdp) {
  auto& call = state_.call;
  if (call.callState.kind() != CallState::Kind::calling) {
    log("[NativeCallMgr] sendPreparedOffer — aborted, call no longer calling (state=" + callStateName(call.callState) +
        ") — cancelled before offer finished building");
    return;
  }
  const auto from = myFromAddress();
  if (!call.remoteUserNumber || !from) {
    log("[NativeCallMgr] sendPreparedOffer — missing remoteUserNumber or myFromAddress");
    return;
  }
  std::string offerText = sdp;
  auto description = nlohmann::json::parse(sdp, nullptr, false);
  if (description.is_object()) {
    description["deviceUdids"] = *state_.kept.myDeviceUdid;
    description["deviceSource"] = "desktop";
    description["iceRestartV1"] = true;
    if (call.outgoingAddRecord) (*call.outgoingAddRecord)["callerOffer"] = description;
    offerText = description.dump();
  }
  const bool isAudio = call.currentSession && call.currentSession->type == CallType::audio;
  log("[NativeCallMgr] Sending offer from=" + *from + " to=" + *call.remoteUserNumber + " isAudio=" +
      boolText(isAudio) + " sdp_len=" + std::to_string(offerText.size()) +
      " addRecord=" + boolText(call.outgoingAddRecord.has_value()));
  OutgoingCallMessage message;
  message.type = "offer";
  message.to = *call.remoteUserNumber;
  message.from = *from;
  message.sdp = offerText;
  message.isAudio = isAudio;
  message.isFreeUser = "false";
  message.pushId = c_.pushToken ? c_.pushToken() : std::string();
  message.addRecord = call.outgoingAddRecord;
  message.advertisesIceRestart = true;
  signaling().emitCall(message.dictionary(), "offer");
}

void NativeCallManager::signalingDidReceiveOfferReceived(const std::optional<std::string>& from) {
  auto& call = state_.call;
  if (!call.callState.isInCall()) {
    log("[NativeCallMgr] offerReceived ignored — terminal state " + callStateName(call.callState));
    return;
  }
  const std::string fromText = from.value_or("-");
  log("[NativeCallMgr] Callee is ringing — offerReceived from=" + fromText);
  if (timeline_.isRunning()) timeline_.step("callee device is RINGING (offerReceived from " + fromText + ")");
  if (from && from->find('_') != std::string::npos) {
    const auto device = splitSignalingAddress(*from).device;
    if (!device.empty()) {
      call.ringingDeviceUdids.insert(device);
      if (!call.remoteDeviceUdid) {
        call.remoteDeviceUdid = device;
        log("[NativeCallMgr] remoteDeviceUdid learned from offerReceived: " + device);
      }
    }
  }
  publishCallDuration(strings().string(CallStrings::kRinging, CallStrings::kRingingDefault));
  if (call.callState.kind() == CallState::Kind::calling && !call.remoteAnswerReceived) {
    // Every ringing device gives the callee a fresh 35 s.
    timers_.startRingTimer();
    c_.tones.startTone(CallTones::Tone::ringback);
  }
}

void NativeCallManager::signalingDidReceiveAnswer(const SDPPayload& answer,
                                                  const std::optional<std::string>& deviceUdid,
                                                  const std::optional<std::string>& from) {
  auto& call = state_.call;
  const auto route = routeAnswer(AnswerFacts{call.callState.kind(), from, call.remoteUserNumber,
                                             call.plainRestartInFlight, call.remoteAnswerReceived});
  switch (route) {
    case AnswerRoute::ignoredNotInCall:
      log("[NativeCallMgr] answer ignored — terminal state " + callStateName(call.callState));
      return;
    case AnswerRoute::ignoredNotFromCallee:
      log("[NativeCallMgr] answer from " + from.value_or("nil") + " ignored — not the callee (" +
          call.remoteUserNumber.value_or("nil") + ")");
      return;
    case AnswerRoute::plainRestartAnswer:
      call.plainRestartInFlight = false;
      peerConnection().applyIceRestartAnswer(
          answer, [weak = weak_from_this(), generation = state_.kept.callGeneration](bool applied) {
            auto self = weak.lock();
            if (!self || self->state_.kept.callGeneration != generation) return;
            self->plainRestartAnswerDidApply(applied);
          });
      return;
    case AnswerRoute::laterAnswer:
      log("[NativeCallMgr] second answer from " + deviceUdid.value_or("nil") + " ignored — already answered by " +
          call.remoteDeviceUdid.value_or("nil"));
      if (deviceUdid && !deviceUdid->empty() && deviceUdid != call.remoteDeviceUdid) {
        call.ignoredAnswerUdids.insert(*deviceUdid);
      }
      return;
    case AnswerRoute::firstAnswer:
      break;
  }
  call.remoteAnswerReceived = true;
  noteRemoteDeviceSource(answer.deviceSource, "answer");
  log("[NativeCallMgr] Answer received fromDeviceUdid=" + deviceUdid.value_or("nil") +
      " — buffered local candidates=" + std::to_string(call.pendingLocalCandidates.size()));
  if (timeline_.isRunning()) {
    timeline_.step("callee ANSWERED from device " + (deviceUdid ? firstCharacters(*deviceUdid, 8) : "unknown") +
                   "… — now ICE connects the two devices");
  }
  call.remoteDeviceUdid = deviceUdid;
  timers_.stopRingTimer();
  updateState(CallState::Kind::connecting);
  armIceAttemptTimer("answer received");
  peerConnection().setRemoteDescription(answer, [weak = weak_from_this(), generation = state_.kept.callGeneration] {
    auto self = weak.lock();
    if (!self || self->state_.kept.callGeneration != generation) return;
    self->remoteAnswerDidApply();
  });
}

void NativeCallManager::remoteAnswerDidApply() {
  iceManager_.remoteDescriptionWasSet();
  // While the socket waits for fresh credentials the held candidates stay
  // held; the reconnect sends them (signalingDidConnect).
  if (!state_.call.awaitingReauth) flushPendingLocalCandidates();
  postForThisCall(0, [](NativeCallManager& self) {
    self.armIceAttemptTimer("answer applied");
    self.scheduleCandidateResend();
  });
}

void NativeCallManager::plainRestartAnswerDidApply(bool applied) {
  iceManager_.remoteDescriptionWasSet();
  log(std::string("[ICERestart] mobile peer's restart answer ") +
      (applied ? "applied — ICE re-checking" : "could NOT be applied"));
}

void NativeCallManager::noteRemoteDeviceSource(const std::optional<std::string>& source, const std::string& via) {
  if (via == "offer" || via == "answer") state_.call.remoteDeviceSource = source;
  const bool supported = source && trimmedLowerCase(*source) == "desktop";
  log("[NativeCallMgr] Video upgrade capability (" + via + "): source=" + source.value_or("unknown") +
      " supported=" + boolText(supported));
  platform::mainQueue().post([weak = weak_from_this(), supported] {
    if (auto self = weak.lock()) self->c_.windows.setCanRequestVideoUpgrade(supported);
  });
}

}  // namespace orvik
