// The call screens' microphone, speaker and camera buttons. Each changes the
// local media at once, tells the peer where it needs to know (microphone and
// camera, never the speaker) and mirrors the value into the screen models on
// the main queue.
#include "calls/control/data_channel_messages.h"
#include "calls/control/native_call_manager.h"
#include "core/native_logger.h"
#include "platform/queue_checker.h"

namespace orvik {

void NativeCallManager::setMuted(bool muted) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  state_.call.localMuted = muted;
  c_.capture.setMuted(muted);
  // Before the connection exists the flag waits for its build
  // (applyLocalTrackFlags); the text waits in the channel's queue.
  if (peerConn_) {
    peerConn_->setLocalAudioEnabled(!muted);
    peerConn_->sendDataChannelMessage(dataChannelFlagMessage(dataChannelText::kAudioToggled, !muted));
  }
  platform::mainQueue().post([weak = weak_from_this(), muted] {
    if (auto self = weak.lock()) self->c_.windows.publishMuted(muted);
  });
}

void NativeCallManager::setSpeakerEnabled(bool enabled) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  // The peer's voice is silenced here only: nothing is sent and the output
  // device stays.
  if (peerConn_) peerConn_->setRemoteAudioEnabled(enabled);
  platform::mainQueue().post([weak = weak_from_this(), enabled] {
    if (auto self = weak.lock()) self->c_.windows.publishSpeakerOff(!enabled);
  });
}

void NativeCallManager::setCameraOff(bool off) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  auto& call = state_.call;
  call.localCameraOff = off;
  c_.capture.setCameraOff(off);
  if (peerConn_) {
    // While a share runs the sender carries the screen, and the camera track
    // waits aside: both follow the button.
    peerConn_->setLocalVideoEnabled(!off, call.isScreenSharing ? call.savedCameraVideoTrack : nullptr);
    peerConn_->sendDataChannelMessage(dataChannelFlagMessage(dataChannelText::kVideoToggled, !off));
  }
  platform::mainQueue().post([weak = weak_from_this(), off] {
    if (auto self = weak.lock()) self->c_.windows.publishCameraOff(off);
  });
  // The camera keeps running under a share (or one stopping), so that
  // turning it back on needs no restart.
  if (call.isScreenSharing) return;
  if (off) {
    c_.capture.stopCapture();
    platform::mainQueue().post([weak = weak_from_this()] {
      if (auto self = weak.lock()) self->c_.windows.setVideoCameraSession(nullptr);
    });
    return;
  }
  c_.capture.startCapture(/*startVideo=*/true, [weak = weak_from_this(), generation = state_.kept.callGeneration](
                                                   const std::optional<std::string>& error) {
    platform::mainQueue().post([weak, generation, error] {
      auto self = weak.lock();
      if (!self || self->state_.kept.callGeneration != generation) return;
      // A failed start leaves the preview empty.
      if (error) return;
      self->c_.windows.setVideoCameraSession(self->c_.capture.cameraSession());
    });
  });
}

void NativeCallManager::applyLocalTrackFlags() {
  const auto& call = state_.call;
  if (!peerConn_) return;
  if (call.localMuted) peerConn_->setLocalAudioEnabled(false);
  if (call.localCameraOff) peerConn_->setLocalVideoEnabled(false);
}

}  // namespace orvik
