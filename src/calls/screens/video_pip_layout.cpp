#include "calls/screens/video_pip_layout.h"

#include <algorithm>

#include "calls/screens/video_call_view_model.h"

namespace orvik {

StageRect videoPiPFrame(StageRect workArea) {
  if (workArea.width <= 0 || workArea.height <= 0) workArea = kFallbackWorkArea;
  return {workArea.x + workArea.width - kPiPWidth - kPiPMargin, workArea.y + kPiPMargin, kPiPWidth, kPiPHeight};
}

StageSize clampVideoPiPSize(StageSize size) {
  return {std::clamp(size.width, kPiPMinimumSize.width, kPiPMaximumSize.width),
          std::clamp(size.height, kPiPMinimumSize.height, kPiPMaximumSize.height)};
}

namespace {

PiPFeedLook localFeed(const VideoCallFields& f, double avatarSize) {
  PiPFeedLook look;
  look.feed = PiPFeed::local;
  look.showsVideo = !f.isCameraOff && f.cameraSession != nullptr;
  look.fills = look.showsVideo;
  look.avatarSize = avatarSize;
  return look;
}

PiPFeedLook remoteFeed(const VideoCallFields& f, bool hasRemoteTrack, bool isInset, double avatarSize) {
  PiPFeedLook look;
  look.feed = PiPFeed::remote;
  look.showsVideo = !f.remoteVideoOff && f.hasRemoteVideo && hasRemoteTrack;
  // A shared screen is always shown whole; so is the main picture.
  look.fills = look.showsVideo && isInset && !f.remoteScreenSharing;
  look.avatarSize = avatarSize;
  return look;
}

}  // namespace

PiPContent videoPiPContent(const VideoCallFields& f, bool hasRemoteTrack, bool hasLocalScreenTrack) {
  constexpr double kMainAvatar = 56;
  constexpr double kInsetAvatar = 30;
  PiPContent content;
  if (f.isScreenSharing && hasLocalScreenTrack) {
    content.main = {PiPFeed::localScreenShare, true, false, kMainAvatar};
  } else if (f.isSwapped) {
    content.main = localFeed(f, kMainAvatar);
  } else {
    content.main = remoteFeed(f, hasRemoteTrack, false, kMainAvatar);
  }
  content.inset = (f.isScreenSharing || f.isSwapped) ? remoteFeed(f, hasRemoteTrack, true, kInsetAvatar)
                                                      : localFeed(f, kInsetAvatar);
  content.insetOpacity = (f.remoteScreenSharing && !f.isScreenSharing) ? 0 : 1;
  return content;
}

std::string videoPiPTitle(const VideoCallFields& f) { return f.calleeName.empty() ? "Call" : f.calleeName; }

std::string videoPiPTimer(const VideoCallFields& f) { return f.timerText.empty() ? "Connected" : f.timerText; }

std::string videoPiPMuteIcon(const VideoCallFields& f) {
  return f.isMuted ? "microphone.slash.fill" : "microphone.fill";
}

}  // namespace orvik
