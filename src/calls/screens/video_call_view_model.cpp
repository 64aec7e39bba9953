#include "calls/screens/video_call_view_model.h"

#include "calls/control/call_strings.h"
#include "platform/queue_checker.h"

namespace orvik {

VideoCallViewModel::VideoCallViewModel(const CallStrings& strings) : strings_(strings) {
  fields_.timerText = strings_.string(CallStrings::kCalling, CallStrings::kCallingDefault);
}

void VideoCallViewModel::assertOnMain() const { ORVIK_ASSERT_ON_MAIN_QUEUE(); }

void VideoCallViewModel::setRemoteVideoTrack(VideoTrackHandle track) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  remoteVideoTrack_ = std::move(track);
}

void VideoCallViewModel::setLocalScreenTrack(VideoTrackHandle track) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  localScreenTrack_ = std::move(track);
}

void VideoCallViewModel::applyOpening(const VideoCallOpening& opening) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  VideoCallFields next = fields_;
  next.calleeName = opening.calleeName;
  next.calleeOrvikID = opening.calleeOrvikID;
  next.imageUrl = opening.imageUrl;
  next.localName = opening.localName;
  next.localImageUrl = opening.localImageUrl;
  next.callEnded = false;
  next.isConnected = opening.isConnected;
  next.isMuted = next.isCameraOff = next.isSpeakerOff = false;
  next.remoteMuted = next.remoteVideoOff = false;
  next.isScreenSharing = next.remoteScreenSharing = next.isSwapped = false;
  next.screenShareOptions = nullptr;
  next.showScreenSharePrimer = next.showScreenRecordingDenied = false;
  next.isSubscribed = opening.isSubscribed;
  next.isDarkMode = opening.isDarkMode;
  if (opening.isUpgrade) {
    next.isIncoming = false;
    next.timerText = strings_.string(CallStrings::kConnecting, CallStrings::kConnectingDefault);
  } else {
    next.isIncoming = !opening.isOutgoing;
    next.timerText =
        opening.isOutgoing ? strings_.string(CallStrings::kCalling, CallStrings::kCallingDefault) : "Incoming call";
  }
  localScreenTrack_ = nullptr;
  if (next == fields_) return;
  fields_ = std::move(next);
  changed_.notify();
}

}  // namespace orvik
