// The video call window's share of the call windows' port: what the call
// manager writes into the video screen's model, and the window's opening and
// closing.
#include <memory>

#include "app/call_engine_ports.h"
#include "calls/windows/native_audio_call_window.h"
#include "calls/windows/native_video_call_window.h"
#include "calls/windows/native_video_pip.h"

namespace orvik {

namespace {

template <typename Write>
void writeVideo(NativeVideoCallWindow* window, Write write) {
  if (window) write(window->model());
}

}  // namespace

void ShellCallWindows::writeVideoModel(const std::function<void(VideoCallViewModel&)>& write) {
  writeVideo(videoWindow(), write);
}

void ShellCallWindows::publishVideoTimerText(const std::string& text) {
  writeVideo(videoWindow(), [&](VideoCallViewModel& m) { m.set(&VideoCallFields::timerText, text); });
}

void ShellCallWindows::publishVideoConnected(bool connected) {
  writeVideo(videoWindow(), [&](VideoCallViewModel& m) { m.set(&VideoCallFields::isConnected, connected); });
}

void ShellCallWindows::hideVideoLimitBanner() {
  writeVideo(videoWindow(), [](VideoCallViewModel& m) {
    m.set(&VideoCallFields::limitWarning, std::nullopt);
    m.set(&VideoCallFields::callLimitCanExtend, false);
  });
}

void ShellCallWindows::closeVideoCallWindow() {
  if (auto* video = videoWindow()) video->close();
}

// A call ringing here opens as incoming; an answered one shows
// "Connecting..." without placing a call.
void ShellCallWindows::openVideoCallWindow(const std::string& name, const std::string& userNumber,
                                           const std::string& imageUrl, bool isSubscribed, bool isDarkMode,
                                           bool connecting) {
  if (auto* video = videoWindow()) {
    video->open(videoCallRequest(connecting ? VideoCallEntry::accepted : VideoCallEntry::incoming,
                                 {name, userNumber, imageUrl}, isSubscribed, isDarkMode));
  }
}

void ShellCallWindows::clearIncomingFlag() {
  if (auto* audio = audioWindow_()) audio->model().update([](AudioCallViewState& s) { s.isIncoming = false; });
  writeVideo(videoWindow(), [](VideoCallViewModel& m) { m.set(&VideoCallFields::isIncoming, false); });
}

void ShellCallWindows::setVideoCameraSession(CameraSessionHandle session) {
  writeVideo(videoWindow(), [&](VideoCallViewModel& m) { m.set(&VideoCallFields::cameraSession, session); });
}

void ShellCallWindows::markVideoCallEnded() {
  writeVideo(videoWindow(), [](VideoCallViewModel& m) { m.set(&VideoCallFields::callEnded, true); });
}

void ShellCallWindows::resetVideoCallModel() {
  writeVideo(videoWindow(), [](VideoCallViewModel& m) {
    m.setRemoteVideoTrack(nullptr);
    m.setLocalScreenTrack(nullptr);
    m.set(&VideoCallFields::hasRemoteVideo, false);
    m.set(&VideoCallFields::isScreenSharing, false);
    m.set(&VideoCallFields::remoteScreenSharing, false);
    m.set(&VideoCallFields::showScreenSharePrimer, false);
    m.set(&VideoCallFields::showScreenRecordingDenied, false);
    m.set(&VideoCallFields::cameraSession, nullptr);
    m.set(&VideoCallFields::screenShareOptions, nullptr);
  });
}

std::vector<std::uint64_t> ShellCallWindows::ownCallWindowNumbers() {
  std::vector<std::uint64_t> numbers;
  if (auto* video = videoWindow(); video && video->windowNumber()) numbers.push_back(video->windowNumber());
  if (auto* pip = videoPiP(); pip && pip->windowNumber()) numbers.push_back(pip->windowNumber());
  return numbers;
}

void ShellCallWindows::showScreenSharePrimer() {
  writeVideo(videoWindow(), [](VideoCallViewModel& m) { m.set(&VideoCallFields::showScreenSharePrimer, true); });
}

void ShellCallWindows::showScreenRecordingDenied() {
  writeVideo(videoWindow(), [](VideoCallViewModel& m) { m.set(&VideoCallFields::showScreenRecordingDenied, true); });
}

void ShellCallWindows::publishScreenShareOptions(const ShareableContent& content) {
  writeVideo(videoWindow(), [&](VideoCallViewModel& m) {
    m.set(&VideoCallFields::screenShareOptions, std::make_shared<const ShareableContent>(content));
  });
}

void ShellCallWindows::publishScreenSharing(bool sharing, VideoTrackHandle localScreenTrack) {
  writeVideo(videoWindow(), [&](VideoCallViewModel& m) {
    m.setLocalScreenTrack(std::move(localScreenTrack));
    m.set(&VideoCallFields::isScreenSharing, sharing);
  });
}

void ShellCallWindows::showUpgradeCameraPreview(CameraSessionHandle session) {
  writeVideo(videoWindow(), [&](VideoCallViewModel& m) {
    m.set(&VideoCallFields::isCameraOff, session == nullptr);
    m.set(&VideoCallFields::cameraSession, session);
  });
}

// The running audio call carries on in the video window.
void ShellCallWindows::switchCallUIToVideo(bool cameraOff, CameraSessionHandle session) {
  auto* video = videoWindow();
  auto* audio = audioWindow_();
  if (!video) return;
  VideoCallParty callee;
  bool isSubscribed = false;
  bool isDarkMode = true;
  if (audio) {
    const AudioCallViewState& s = audio->model().state();
    callee = {s.calleeName, s.calleeOrvikID, s.imageUrl};
    isSubscribed = s.isSubscribed;
    isDarkMode = s.isDarkMode;
  }
  video->open(videoCallRequest(VideoCallEntry::upgrade, callee, isSubscribed, isDarkMode));
  video->model().set(&VideoCallFields::isCameraOff, cameraOff);
  video->model().set(&VideoCallFields::cameraSession, session);
  if (audio) audio->closeForUpgrade();
}

}  // namespace orvik
