// Video upgrade: a connected audio call becomes a video call on the same
// connection. This side adds a camera track, starts the camera, and sends
// the new offer to the peer's device as a "videoUpgradeOffer"; the peer's
// "videoUpgradeAnswer", applied only while our offer waits and only from the
// device we are in the call with, turns the session into a video call and
// the audio window gives way to the video window. An offer the peer never
// answers is undone after 15 s (rolled back, the camera sender removed, the
// camera stopped), so the connection is stable again and later ICE restarts
// can still offer. Upgrades are only requested here: a peer's own upgrade
// offer is ignored by the signalling client.
#include "calls/control/native_call_manager.h"
#include "calls/signaling/call_event_parsers.h"
#include "core/native_logger.h"
#include "platform/queue_checker.h"

namespace orvik {

void NativeCallManager::requestVideoUpgrade() {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  const auto& call = state_.call;
  if (call.callState.kind() != CallState::Kind::connected || !call.currentSession ||
      call.currentSession->type != CallType::audio || !peerConn_) {
    log("[NativeCallMgr] requestVideoUpgrade — not a connected audio call, ignored");
    return;
  }
  if (state_.kept.videoUpgradeAnswerTimer || call.videoUpgradeOfferPending) {
    log("[NativeCallMgr] requestVideoUpgrade — an upgrade is already under way");
    return;
  }
  if (!c_.capture.hasCamera()) {
    log("[NativeCallMgr] requestVideoUpgrade — no camera");
    return;
  }
  c_.windows.setAudioUpgradeState(CallWindows::VideoUpgradeState::requesting);
  peerConn_->addLocalVideoTrack(
      [weak = weak_from_this(), generation = state_.kept.callGeneration](VideoTrackHandle track, VideoSourceHandle source) {
        auto self = weak.lock();
        if (!self || self->state_.kept.callGeneration != generation) return;
        self->videoUpgradeTrackAdded(std::move(track), std::move(source));
      });
  armVideoUpgradeAnswerTimer();
}

void NativeCallManager::armVideoUpgradeAnswerTimer() {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  auto& timer = state_.kept.videoUpgradeAnswerTimer;
  if (timer) timer->cancel();
  timer = std::make_shared<platform::WorkItem>([weak = weak_from_this(), generation = state_.kept.callGeneration] {
    auto self = weak.lock();
    if (!self || self->state_.kept.callGeneration != generation) return;
    self->videoUpgradeAnswerTimedOut();
  });
  platform::mainQueue().postAfter(kVideoUpgradeAnswerSeconds, timer);
}

void NativeCallManager::videoUpgradeTrackAdded(VideoTrackHandle track, VideoSourceHandle source) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  if (!track || !source) {
    log("[NativeCallMgr] Video upgrade — no camera track could be added; no offer");
    return;
  }
  c_.capture.attachVideo(track, source);
  c_.capture.startCapture(true, [weak = weak_from_this(), generation = state_.kept.callGeneration](
                                    const std::optional<std::string>& error) {
    auto self = weak.lock();
    if (!self || self->state_.kept.callGeneration != generation) return;
    if (error) {
      self->log("[NativeCallMgr] Video upgrade — camera failed to start: " + *error + "; no offer");
      return;
    }
    if (!self->state_.kept.videoUpgradeAnswerTimer) {
      // Undone meanwhile (timed out): an offer now would leave the
      // connection waiting for an answer nobody sends.
      self->log("[NativeCallMgr] Video upgrade — camera started after the upgrade was undone; no offer");
      return;
    }
    self->c_.windows.showUpgradeCameraPreview(self->c_.capture.cameraSession());
    self->state_.kept.isSendingVideoUpgradeOffer = true;
    if (self->peerConn_) self->peerConn_->createOffer();
  });
}

bool NativeCallManager::takeVideoUpgradeOffer(const std::optional<std::string>& description) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  auto& kept = state_.kept;
  if (!kept.isSendingVideoUpgradeOffer) return false;
  kept.isSendingVideoUpgradeOffer = false;
  auto& call = state_.call;
  if (!description) {
    log("[NativeCallMgr] Video upgrade — the offer could not be written; not sent");
    return true;
  }
  if (!kept.videoUpgradeAnswerTimer) {
    log("[NativeCallMgr] Video upgrade — offer produced after the upgrade was undone; dropped");
    return true;
  }
  const auto from = myFromAddress();
  if (!call.remoteUserNumber || !call.remoteDeviceUdid || !from) {
    log("[NativeCallMgr] Video upgrade — peer or own address unknown; offer not sent");
    return true;
  }
  OutgoingCallMessage message;
  message.type = "videoUpgradeOffer";
  message.to = *call.remoteUserNumber + "_" + *call.remoteDeviceUdid;
  message.from = *from;
  message.sdp = *description;
  signaling().emitCall(message.dictionary());
  call.videoUpgradeOfferPending = true;
  log("[NativeCallMgr] Video upgrade offer sent to " + message.to);
  return true;
}

void NativeCallManager::signalingDidReceiveVideoUpgradeAnswer(const SDPPayload& answer,
                                                             const std::optional<std::string>& deviceUdid) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  auto& call = state_.call;
  if (!shouldApplyVideoUpgradeAnswer(call.videoUpgradeOfferPending, call.remoteDeviceUdid, deviceUdid) || !peerConn_) {
    log("[NativeCallMgr] videoUpgradeAnswer ignored — no upgrade offer of ours waits for it from device " +
        deviceUdid.value_or("nil"));
    return;
  }
  call.videoUpgradeOfferPending = false;
  auto& timer = state_.kept.videoUpgradeAnswerTimer;
  if (timer) timer->cancel();
  timer.reset();
  c_.windows.setAudioUpgradeState(CallWindows::VideoUpgradeState::connecting);
  peerConn_->setRemoteDescription(answer, [weak = weak_from_this(), generation = state_.kept.callGeneration] {
    auto self = weak.lock();
    if (!self || self->state_.kept.callGeneration != generation) return;
    self->iceManager_.remoteDescriptionWasSet();
    self->switchCallUIToVideo(false);
    self->log("[NativeCallMgr] ✅ Video upgrade accepted — remote answered");
  });
}

void NativeCallManager::videoUpgradeAnswerTimedOut() {
  auto& kept = state_.kept;
  auto& call = state_.call;
  log("[NativeCallMgr] ⚠️ Video upgrade — no answer received within timeout");
  kept.videoUpgradeAnswerTimer.reset();
  call.videoUpgradeOfferPending = false;
  // isSendingVideoUpgradeOffer stays as it is: an offer still on its way is
  // recognised and dropped (takeVideoUpgradeOffer) instead of going out as an
  // ordinary re-offer.
  if (!peerConn_) return;
  peerConn_->cancelVideoUpgrade([weak = weak_from_this(), generation = kept.callGeneration] {
    auto self = weak.lock();
    if (!self || self->state_.kept.callGeneration != generation) return;
    self->c_.capture.stopCapture();
    self->c_.windows.showUpgradeCameraPreview(nullptr);
    self->c_.windows.setAudioUpgradeState(CallWindows::VideoUpgradeState::none);
    self->log("[NativeCallMgr] Video upgrade undone — offer rolled back, camera stopped; the call stays audio");
  });
}

void NativeCallManager::switchCallUIToVideo(bool cameraOff) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  if (auto& session = state_.call.currentSession) session->type = CallType::video;
  platform::mainQueue().post([weak = weak_from_this(), cameraOff] {
    if (auto self = weak.lock()) self->c_.windows.switchCallUIToVideo(cameraOff, self->c_.capture.cameraSession());
  });
}

void NativeCallManager::acceptVideoUpgrade() {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  // Peers' upgrade offers are never taken in, so nothing waits here.
  if (!state_.kept.pendingVideoUpgradeOffer) return;
}

void NativeCallManager::declineVideoUpgrade() {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  state_.kept.pendingVideoUpgradeOffer.reset();
  platform::mainQueue().post([weak = weak_from_this()] {
    if (auto self = weak.lock()) self->c_.windows.setAudioUpgradeState(CallWindows::VideoUpgradeState::none);
  });
  log("[NativeCallMgr] Video upgrade offer declined by user — no answer sent");
}

}  // namespace orvik
