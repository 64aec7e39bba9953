// Screen-share control: during a video call the user sends a display or a
// window instead of the camera. The screen track "screen0" goes on the
// call's existing video sender in place of the camera track, which is kept
// and put back when sharing stops; the peer hears of both through a
// "ScreenShareToggled" data-channel text. The picker and the permission
// screens belong to the video screen; the capture to ScreenShareCapture.
#include "calls/control/native_call_manager.h"
#include "calls/media/screen_share_capture.h"
#include "core/native_logger.h"
#include "platform/queue_checker.h"

namespace orvik {

void NativeCallManager::toggleScreenShare() {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  if (state_.call.isScreenSharing) {
    stopScreenShare();
  } else {
    requestScreenShareOptions(false);
  }
}

void NativeCallManager::requestScreenShareOptions(bool afterPrimer) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  const auto& call = state_.call;
  const auto kind = call.callState.kind();
  if (call.isScreenSharing || call.screenShareStarting ||
      (kind != CallState::Kind::connecting && kind != CallState::Kind::connected)) {
    return;
  }
  if (!call.currentSession || call.currentSession->type != CallType::video) {
    log("[NativeCallMgr] requestScreenShareOptions — no existing video sender (audio-only call)");
    return;
  }
  const auto fetch = [this] {
    c_.screenShare.fetchShareableContent(
        ownCallWindowNumbers(), state_.kept.isScreenshotAccessAllowed,
        [weak = weak_from_this(), generation = state_.kept.callGeneration](std::optional<ShareableContent> content,
                                                                           const std::string& error) {
          auto self = weak.lock();
          if (!self || self->state_.kept.callGeneration != generation) return;
          if (!content) {
            self->log("[NativeCallMgr] requestScreenShareOptions — fetch failed: " + error);
            return;
          }
          self->c_.windows.publishScreenShareOptions(*content);
        });
  };
  if (c_.screenShare.hasScreenCapturePermission()) return fetch();
  if (!afterPrimer) {
    c_.windows.showScreenSharePrimer();
    return;
  }
  c_.screenShare.requestScreenCapturePermission(
      [weak = weak_from_this(), generation = state_.kept.callGeneration, fetch](bool granted) {
        platform::mainQueue().post([weak, generation, fetch, granted] {
          auto self = weak.lock();
          if (!self || self->state_.kept.callGeneration != generation) return;
          if (granted) {
            fetch();
          } else {
            self->c_.windows.showScreenRecordingDenied();
          }
        });
      });
}

void NativeCallManager::startScreenShare(const ShareTarget& target) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  auto& call = state_.call;
  if (call.isScreenSharing || call.screenShareStarting || !peerConn_) return;
  call.screenShareStarting = true;
  peerConn_->makeVideoTrack(kScreenTrackId, [weak = weak_from_this(), generation = state_.kept.callGeneration, target](
                                                VideoTrackHandle screen, VideoSourceHandle source,
                                                VideoTrackHandle camera) {
    auto self = weak.lock();
    if (!self || self->state_.kept.callGeneration != generation) return;
    auto& call = self->state_.call;
    if (!screen || !source) {
      call.screenShareStarting = false;
      self->log("[NativeCallMgr] startScreenShare — no peer connection factory");
      return;
    }
    if (!camera) {
      // Nothing to swap the screen onto: no share, and the peer hears
      // nothing of one.
      call.screenShareStarting = false;
      self->log("[NativeCallMgr] startScreenShare — no existing video sender; share refused");
      self->showCallAlert(kScreenShareFailedTitle, kScreenShareNoSenderText);
      return;
    }
    self->c_.screenShare.startCapture(
        target, source, self->ownCallWindowNumbers(), !self->state_.kept.isScreenshotAccessAllowed,
        [weak, generation, camera, screen](const std::optional<std::string>& error) {
          auto self = weak.lock();
          if (!self || self->state_.kept.callGeneration != generation) return;
          self->screenShareCaptureDidStart(error, camera, screen);
        });
  });
}

void NativeCallManager::screenShareCaptureDidStart(const std::optional<std::string>& error, VideoTrackHandle cameraTrack,
                                                   VideoTrackHandle screenTrack) {
  auto& call = state_.call;
  if (error) {
    call.screenShareStarting = false;
    if (*error == ScreenShareCapture::kStartCancelled) {
      log("[NativeCallMgr] startScreenShare — stopped before the capture started");
      return;
    }
    log("[NativeCallMgr] startScreenShare — capture failed to start: " + *error);
    showCallAlert(kScreenShareFailedTitle, kScreenShareFailedText);
    return;
  }
  call.savedCameraVideoTrack = cameraTrack;
  peerConn_->replaceLocalVideoTrack(screenTrack, [weak = weak_from_this(), generation = state_.kept.callGeneration,
                                                  screenTrack] {
    auto self = weak.lock();
    if (!self || self->state_.kept.callGeneration != generation) return;
    auto& call = self->state_.call;
    call.screenShareStarting = false;
    call.isScreenSharing = true;
    call.cameraOffBeforeShare = call.localCameraOff;
    self->state_.kept.screenShareStartedAt = self->clock().now();
    if (self->peerConn_) self->peerConn_->sendDataChannelMessage(dataChannelFlagMessage("ScreenShareToggled", true));
    self->c_.windows.publishScreenSharing(true, screenTrack);
    self->log("[NativeCallMgr] Screen share started");
  });
}

void NativeCallManager::stopScreenShare() {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  auto& call = state_.call;
  if (!call.isScreenSharing || call.screenShareStopping) return;
  call.screenShareStopping = true;
  auto camera = std::exchange(call.savedCameraVideoTrack, nullptr);
  c_.screenShare.stopCapture();
  state_.kept.screenShareStartedAt.reset();
  const auto restored = [weak = weak_from_this(), generation = state_.kept.callGeneration] {
    auto self = weak.lock();
    if (!self || self->state_.kept.callGeneration != generation) return;
    auto& call = self->state_.call;
    call.isScreenSharing = false;
    call.screenShareStopping = false;
    if (self->peerConn_) self->peerConn_->sendDataChannelMessage(dataChannelFlagMessage("ScreenShareToggled", false));
    self->c_.windows.publishScreenSharing(false, nullptr);
    self->log("[NativeCallMgr] Screen share stopped — camera track restored");
  };
  if (!peerConn_) return restored();
  peerConn_->replaceLocalVideoTrack(std::move(camera), restored);
}

void NativeCallManager::handleScreenShareStreamDidStop() {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  if (!state_.call.isScreenSharing) return;
  log("[NativeCallMgr] Screen share stream stopped externally — reverting to camera");
  stopScreenShare();
}

void NativeCallManager::applyScreenshotAccess(bool allowed) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  if (!allowed && c_.screenShare.isSharingOwnWindow()) {
    log("[NativeCallMgr] screenshot access revoked while sharing an Orvik window — stopping share");
    if (state_.call.isScreenSharing) {
      stopScreenShare();
    } else {
      // Still starting: the capture goes before the screen reaches the sender.
      c_.screenShare.stopCapture();
    }
    return;
  }
  c_.screenShare.setExcludedWindows(ownCallWindowNumbers(), !allowed);
}

void NativeCallManager::endScreenShareAndUpgradeForCleanup() {
  auto& call = state_.call;
  auto& kept = state_.kept;
  // A capture still starting is stopped too: nothing may keep sending the
  // screen after the call.
  if (call.screenShareStarting && !call.isScreenSharing) c_.screenShare.stopCapture();
  kept.screenShareStartedAt.reset();
  if (kept.videoUpgradeAnswerTimer) kept.videoUpgradeAnswerTimer->cancel();
  kept.videoUpgradeAnswerTimer.reset();
  kept.isSendingVideoUpgradeOffer = false;
  kept.isAnsweringVideoUpgrade = false;
  kept.pendingVideoUpgradeOffer.reset();
  kept.pendingUpgradeAnswerTarget.reset();
}

}  // namespace orvik
