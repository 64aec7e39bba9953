// Candidate exchange: local candidates go to the other side as "candidate"
// frames (the caller holds its own until the callee's answer says which
// device picked up; the callee sends at once, by broadcast until it learns the
// caller's device), remote candidates go through the ICE candidate buffer and
// teach the call's device, and while nothing connects after the answer the
// candidates of the current ICE generation are sent again, at 6 s and 12 s.
#include "calls/control/call_frame_routing.h"
#include "calls/control/native_call_manager.h"
#include "core/native_logger.h"
#include "platform/queue_checker.h"

namespace orvik {

namespace {

HeldLocalCandidate held(const LocalIceCandidate& candidate) {
  return {candidate.sdpMid, candidate.sdpMLineIndex, candidate.candidate};
}

LocalIceCandidate local(const HeldLocalCandidate& candidate) {
  return {candidate.sdpMid, candidate.sdpMLineIndex, candidate.candidate};
}

std::string midText(const std::string& mid, const char* none) { return mid.empty() ? std::string(none) : mid; }

}  // namespace

void NativeCallManager::peerConnectionDidGenerateCandidate(const LocalIceCandidate& candidate) {
  // The peer connection reports on the main queue already; a report from
  // elsewhere hops there first.
  if (!platform::mainQueue().isCurrent()) {
    platform::mainQueue().post([weak = weak_from_this(), candidate] {
      if (auto self = weak.lock()) self->sendOrBufferLocalCandidate(candidate);
    });
    return;
  }
  sendOrBufferLocalCandidate(candidate);
}

void NativeCallManager::sendOrBufferLocalCandidate(const LocalIceCandidate& candidate) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  auto& call = state_.call;
  const auto from = myFromAddress();
  if (!call.remoteUserNumber || !from) {
    log("[NativeCallMgr] ICE candidate — missing remoteUserNumber or myFromAddress, dropping");
    return;
  }
  call.localCandidatesThisGeneration.push_back(held(candidate));
  const auto& session = call.currentSession;
  if (session && session->direction == CallDirection::outgoing && !call.remoteAnswerReceived) {
    call.pendingLocalCandidates.push_back(held(candidate));
    log("[NativeCallMgr] Buffering local ICE candidate (until the answer) total=" +
        std::to_string(call.pendingLocalCandidates.size()) + " sdpMid=" + midText(candidate.sdpMid, "-"));
    return;
  }
  if (call.awaitingReauth) {
    // The server rejected the token and the socket waits for fresh
    // credentials: a frame sent now would be lost. It goes out with the
    // others once the socket is back (signalingDidConnect).
    call.pendingLocalCandidates.push_back(held(candidate));
    log("[NativeCallMgr] Holding local ICE candidate until the call socket is re-authenticated total=" +
        std::to_string(call.pendingLocalCandidates.size()));
    return;
  }
  const std::string device = call.remoteDeviceUdid.value_or("");
  log("[NativeCallMgr] Sending ICE candidate → " +
      (device.empty() ? *call.remoteUserNumber + " (broadcast — caller device unknown)"
                      : signalingAddress(*call.remoteUserNumber, device)) +
      " sdpMid=" + midText(candidate.sdpMid, "-"));
  sendLocalCandidate(candidate, *call.remoteUserNumber, device, *from);
}

void NativeCallManager::sendLocalCandidate(const LocalIceCandidate& candidate, const std::string& toUser,
                                           const std::string& toDevice, const std::string& from) {
  log("[NativeCallMgr] sendLocalCandidate — to=" + toUser + " deviceUdid=" + firstCharacters(toDevice, 8) +
      "… sdpMid=" + midText(candidate.sdpMid, "nil"));
  OutgoingCallMessage message;
  message.type = "candidate";
  message.to = signalingAddress(toUser, toDevice);
  message.from = from;
  message.candidate = nlohmann::json{
      {"candidate", candidate.candidate},
      {"sdpMid", candidate.sdpMid.empty() ? nlohmann::json() : nlohmann::json(candidate.sdpMid)},
      {"sdpMLineIndex", candidate.sdpMLineIndex}};
  message.advertisesIceRestart = true;
  signaling().emitCall(message.dictionary());
}

void NativeCallManager::flushPendingLocalCandidates() {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  auto& call = state_.call;
  const auto from = myFromAddress();
  if (!call.remoteUserNumber || !from) {
    log("[NativeCallMgr] flushPendingLocalCandidates — missing remoteUserNumber/from, discarding " +
        std::to_string(call.pendingLocalCandidates.size()));
    call.pendingLocalCandidates.clear();
    return;
  }
  const std::string device = call.remoteDeviceUdid.value_or("");
  log("[NativeCallMgr] Flushing " + std::to_string(call.pendingLocalCandidates.size()) +
      " buffered ICE candidate(s) → " + signalingAddress(*call.remoteUserNumber, device));
  // Taken out first: a send never re-enters, but the list is ours to empty.
  const auto pending = std::exchange(call.pendingLocalCandidates, {});
  for (const auto& candidate : pending) sendLocalCandidate(local(candidate), *call.remoteUserNumber, device, *from);
}

void NativeCallManager::signalingDidReceiveCandidate(const std::string& candidate,
                                                     const std::optional<std::string>& sdpMid,
                                                     std::int32_t sdpMLineIndex,
                                                     const std::optional<std::string>& deviceUdid) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  auto& call = state_.call;
  ++call.remoteCandidatesReceived;
  if (!call.remoteDeviceUdid && deviceUdid && !deviceUdid->empty()) {
    call.remoteDeviceUdid = *deviceUdid;
    log("[NativeCallMgr] remoteDeviceUdid learned from ICE candidate: " + *deviceUdid);
    const auto& session = call.currentSession;
    const bool callerAwaitingAnswer =
        session && session->direction == CallDirection::outgoing && !call.remoteAnswerReceived;
    if (!call.pendingLocalCandidates.empty() && !callerAwaitingAnswer && !call.awaitingReauth) {
      flushPendingLocalCandidates();
    }
  }
  iceManager_.addRemoteCandidate(candidate, sdpMid, sdpMLineIndex);
}

void NativeCallManager::scheduleCandidateResend() {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  auto& call = state_.call;
  if (call.candidateResendTimer) call.candidateResendTimer->cancel();
  call.candidateResendTimer.reset();
  const int done = call.candidateResendsDone;
  if (done >= 2) return;
  const double offset = kCandidateResendOffsets[done];
  const double delay = done == 0 ? offset : offset - kCandidateResendOffsets[0];
  auto item = std::make_shared<platform::WorkItem>(
      [weak = weak_from_this(), generation = state_.kept.callGeneration, offset] {
        auto self = weak.lock();
        if (!self || self->state_.kept.callGeneration != generation) return;
        self->candidateResendDue(offset);
      });
  call.candidateResendTimer = item;
  platform::mainQueue().postAfter(delay, item);
}

void NativeCallManager::candidateResendDue(double offset) {
  auto& call = state_.call;
  if (!call.callState.isInCall()) return;
  call.candidateResendTimer.reset();
  if (isIceUp()) return;
  ++call.candidateResendsDone;
  resendCandidatesByBroadcast("still not connected " + std::to_string(static_cast<int>(offset)) +
                              "s after the answer (received " + std::to_string(call.remoteCandidatesReceived) +
                              " candidate(s) from the peer)");
  scheduleCandidateResend();
}

void NativeCallManager::resendCandidatesByBroadcast(const std::string& reason) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  const auto& call = state_.call;
  const auto from = myFromAddress();
  if (!call.remoteUserNumber || !from) return;
  const auto candidates = call.localCandidatesThisGeneration;
  const std::string remote = *call.remoteUserNumber;
  const std::string device = call.remoteDeviceUdid.value_or("");
  log("[Deliver] " + reason + " — re-sending " + std::to_string(candidates.size()) +
      " local candidate(s) by broadcast → " + remote + " (remoteDeviceUdid=" + call.remoteDeviceUdid.value_or("nil") +
      ")");
  if (timeline_.isRunning()) {
    timeline_.step("📮 nothing received from the other side — re-sent " + std::to_string(candidates.size()) +
                   " ICE candidate(s) by broadcast");
  }
  for (const auto& candidate : candidates) sendLocalCandidate(local(candidate), remote, "", *from);
  if (!device.empty()) {
    for (const auto& candidate : candidates) sendLocalCandidate(local(candidate), remote, device, *from);
  }
}

bool NativeCallManager::isIceUp() const {
  if (!peerConn_) return false;
  const auto state = peerConn_->lastIceState();
  return state == IceConnectionState::connected || state == IceConnectionState::completed;
}

}  // namespace orvik
