// Recording fakes of the call manager's ports (call_ports.h) and of the
// display-sleep inhibitor. Every fake writes what it was told, in order, to
// one shared list of lines, so a test reads a whole call as one sequence:
//   "timer Calling...", "floating start Bob audio ringing=false",
//   "tone connecting", "close audio", "inhibit Orvik Call In Progress", …
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "calls/control/call_ports.h"
#include "platform/dispatch/task_queue.h"
#include "calls/media/camera_source.h"
#include "platform/display_sleep_inhibitor.h"


namespace orvik::testing {

using PortLog = std::vector<std::string>;

class RecordingCallWindows final : public CallWindows {
 public:
  explicit RecordingCallWindows(PortLog& log) : log_(log) {}
  void publishTimerText(const std::string& text) override { log_.push_back("timer " + text); }
  void publishConnected(bool connected) override {
    log_.push_back(std::string("connected ") + (connected ? "true" : "false"));
  }
  void closeAudioCallWindow() override { log_.push_back("close audio"); }
  void closeVideoCallWindow() override { log_.push_back("close video"); }
  void dismissIncomingCallPanel() override { log_.push_back("dismiss panel"); }
  void openAudioCallWindow(const std::string& name, const std::string& userNumber, const std::string& imageUrl,
                           bool isSubscribed, bool isDarkMode, bool connecting, bool outgoing) override {
    log_.push_back("open audio " + name + " " + userNumber + " image=" + imageUrl + (isSubscribed ? " gold" : "") +
                   (isDarkMode ? " dark" : " light") + (connecting ? " connecting" : " incoming") +
                   (outgoing ? " outgoing" : ""));
  }
  void openVideoCallWindow(const std::string& name, const std::string& userNumber, const std::string& imageUrl,
                           bool isSubscribed, bool isDarkMode, bool connecting) override {
    log_.push_back("open video " + name + " " + userNumber + " image=" + imageUrl + (isSubscribed ? " gold" : "") +
                   (isDarkMode ? " dark" : " light") + (connecting ? " connecting" : " incoming"));
  }
  void clearIncomingFlag() override { log_.push_back("clear incoming"); }
  void setFloatingAwaitingAccept(bool awaiting) override {
    log_.push_back(std::string("floating awaitingAccept ") + (awaiting ? "true" : "false"));
  }
  void updateIncomingPanelIdentity(const std::string& name, const std::string& orvikID, const std::string& avatarURL,
                                   bool isSubscribed) override {
    log_.push_back("panel identity " + name + " " + orvikID + " image=" + avatarURL + (isSubscribed ? " gold" : ""));
  }
  void incomingPanelIdentityResolved() override { log_.push_back("panel revealed"); }
  void updateCallScreenIdentity(bool isAudio, const std::string& name, const std::string& orvikID,
                                const std::string& avatarURL, bool isSubscribed) override {
    log_.push_back(std::string(isAudio ? "audio" : "video") + " screen identity " + name + " " + orvikID +
                   " image=" + avatarURL + (isSubscribed ? " gold" : ""));
  }
  void floatingPanelCallDidStart(const std::string& name, const std::string& avatarURL, bool isAudio,
                                 bool startsRinging) override {
    log_.push_back("floating start " + name + " avatar=" + avatarURL + (isAudio ? " audio" : " video") +
                   (startsRinging ? " ringing=true" : " ringing=false"));
  }
  void floatingPanelCallDidEnd() override { log_.push_back("floating end"); }
  void markCameraOff() override { log_.push_back("camera off in windows"); }
  void setVideoCameraSession(CameraSessionHandle session) override {
    log_.push_back(session ? "preview set" : "preview none");
  }
  void markVideoCallEnded() override { log_.push_back("video ended"); }
  void resetVideoCallModel() override { log_.push_back("reset video model"); }
  void hideCallLimitBanner() override {
    log_.push_back("hide limit banner");
    limitWarning.reset();
    callLimitCanExtend = false;
  }
  std::vector<std::uint64_t> ownCallWindowNumbers() override { return windowNumbers; }
  bool hasCallWindow() override { return callWindow; }
  void raiseCallWindows() override { log_.push_back("raise call windows"); }
  void activateApplication() override { log_.push_back("activate"); }
  MainWindowPlacement mainWindowPlacement() override { return placement; }
  void presentMainWindow() override { log_.push_back("present main"); }
  void setCanRequestVideoUpgrade(bool supported) override {
    log_.push_back(std::string("video upgrade ") + (supported ? "offered" : "not offered"));
  }
  void showScreenSharePrimer() override { log_.push_back("share primer"); }
  void showScreenRecordingDenied() override { log_.push_back("share denied"); }
  void publishScreenShareOptions(const ShareableContent& content) override {
    log_.push_back("share options " + std::to_string(content.displays.size()) + " displays " +
                   std::to_string(content.windows.size()) + " windows");
  }
  void publishScreenSharing(bool sharing, VideoTrackHandle track) override {
    localScreenTrack = track;
    log_.push_back(std::string("sharing ") + (sharing ? "true" : "false") + (track ? " preview" : " no preview"));
  }
  void setAudioUpgradeState(VideoUpgradeState state) override {
    log_.push_back(std::string("upgrade state ") + (state == VideoUpgradeState::none         ? "none"
                                                    : state == VideoUpgradeState::requesting ? "requesting"
                                                    : state == VideoUpgradeState::connecting ? "connecting"
                                                                                             : "incomingRequest"));
  }
  void showUpgradeCameraPreview(CameraSessionHandle session) override {
    log_.push_back(session ? "upgrade preview" : "upgrade preview none");
  }
  void switchCallUIToVideo(bool cameraOff, CameraSessionHandle session) override {
    log_.push_back(std::string("switch to video cameraOff=") + (cameraOff ? "true" : "false") +
                   (session ? " preview" : " no preview"));
  }

  // In-call controls, data-channel messages and call limits.
  void publishMuted(bool muted) override { log_.push_back(std::string("muted ") + (muted ? "true" : "false")); }
  void publishSpeakerOff(bool off) override {
    log_.push_back(std::string("speaker off ") + (off ? "true" : "false"));
  }
  void publishCameraOff(bool off) override {
    log_.push_back(std::string("camera off ") + (off ? "true" : "false"));
  }
  void setRemoteMuted(bool muted) override {
    log_.push_back(std::string("remote muted ") + (muted ? "true" : "false"));
  }
  void setRemoteVideoOff(bool off) override {
    log_.push_back(std::string("remote video off ") + (off ? "true" : "false"));
  }
  void setRemoteScreenSharing(bool sharing) override {
    log_.push_back(std::string("remote sharing ") + (sharing ? "true" : "false"));
  }
  void showRemoteVideo(VideoTrackHandle track) override {
    remoteVideoTrack = track;
    log_.push_back(track ? "remote video" : "remote video (empty)");
  }
  // One banner for both screens: the fake keeps what both models would.
  bool isCallLimitBannerShown() override { return limitWarning.has_value(); }
  void showCallLimitBanner(const std::string& text, bool canExtend) override {
    limitWarning = text;
    callLimitCanExtend = canExtend;
    log_.push_back("limit banner " + text + (canExtend ? " [Extend]" : ""));
  }
  void clearCallLimitWarningText() override {
    limitWarning.reset();
    log_.push_back("limit banner cleared");
  }
  std::optional<std::string> limitWarning;
  bool callLimitCanExtend = false;
  VideoTrackHandle remoteVideoTrack;

  std::vector<std::uint64_t> windowNumbers;
  VideoTrackHandle localScreenTrack;
  bool callWindow = false;
  MainWindowPlacement placement = MainWindowPlacement::available;

 private:
  PortLog& log_;
};

class RecordingCallAlerts final : public CallAlerts {
 public:
  explicit RecordingCallAlerts(PortLog& log) : log_(log) {}
  void showCallAlert(const std::string& title, const std::string& message) override {
    log_.push_back("alert " + title);
    shown.emplace_back(title, message);
  }
  std::vector<std::pair<std::string, std::string>> shown;

 private:
  PortLog& log_;
};

class FakeCallCapture final : public CallCapture {
 public:
  explicit FakeCallCapture(PortLog& log) : log_(log) {}
  bool hasMicrophone() override { return microphone; }
  bool hasCamera() override { return camera; }
  void prewarmCamera() override { log_.push_back("prewarm camera"); }
  CameraSessionHandle cameraSession() override { return camera ? session : nullptr; }
  void startWithCameraOff() override { log_.push_back("capture camera off"); }
  void stopCapture() override { log_.push_back("stop capture"); }
  // Completes in a later turn with `captureError`, or, with `holdCapture`,
  // when the test calls `finishCapture()`.
  void startCapture(bool startVideo, CaptureCompletion completion) override {
    log_.push_back(startVideo ? "start capture video" : "start capture audio");
    heldCapture = std::move(completion);
    if (!holdCapture) finishCapture();
  }
  void attachVideo(VideoTrackHandle track, VideoSourceHandle source) override {
    log_.push_back(std::string("attach video") + (track && source ? "" : " (empty)"));
  }
  void setMuted(bool muted) override { isMuted = muted; }
  void setCameraOff(bool off) override { isCameraOff = off; }
  bool isMuted = false;
  bool isCameraOff = false;
  void finishCapture() {
    if (!heldCapture) return;
    platform::mainQueue().post([done = std::move(heldCapture), error = captureError] { done(error); });
    heldCapture = nullptr;
  }

  bool holdCapture = false;
  std::optional<std::string> captureError;
  CaptureCompletion heldCapture;
  bool microphone = true;
  bool camera = true;
  CameraSessionHandle session = std::make_shared<CameraSessionRef>();

 private:
  PortLog& log_;
};

class RecordingCallTones final : public CallTones {
 public:
  explicit RecordingCallTones(PortLog& log) : log_(log) {}
  void startTone(Tone tone) override {
    log_.push_back(tone == Tone::connecting  ? "tone connecting"
                   : tone == Tone::ringback ? "tone ringback"
                                            : "tone ringtone");
  }
  void stopTone() override { log_.push_back("stop tone"); }
  void playEndTone() override { log_.push_back("end tone"); }

 private:
  PortLog& log_;
};

class FakeCallScreenShare final : public CallScreenShare {
 public:
  using StartCompletion = std::function<void(const std::optional<std::string>&)>;
  using ContentCompletion = std::function<void(std::optional<ShareableContent>, const std::string&)>;
  explicit FakeCallScreenShare(PortLog& log) : log_(log) {}
  bool isSharingOwnWindow() override { return sharingOwnWindow; }
  void stopCapture() override { log_.push_back("stop share"); }
  void setExcludedWindows(const std::vector<std::uint64_t>& windows, bool exclude) override {
    std::string line = exclude ? "exclude" : "include";
    for (auto window : windows) line += " " + std::to_string(window);
    log_.push_back(line);
  }
  void setStreamDidStopHandler(std::function<void()> handler) override { streamDidStop = std::move(handler); }
  bool hasScreenCapturePermission() override { return permitted; }
  void requestScreenCapturePermission(std::function<void(bool)> completion) override {
    log_.push_back("request share permission");
    completion(grantOnRequest);
  }
  void fetchShareableContent(const std::vector<std::uint64_t>& leaveOut, bool allowOwnWindows,
                             ContentCompletion completion) override {
    std::string line = std::string("fetch content allowOwn=") + (allowOwnWindows ? "true" : "false");
    for (auto window : leaveOut) line += " " + std::to_string(window);
    log_.push_back(line);
    pendingFetch = std::move(completion);
  }
  void startCapture(const ShareTarget& target, VideoSourceHandle frames, const std::vector<std::uint64_t>& exclude,
                    bool excludeAll, StartCompletion completion) override {
    std::string line = std::holds_alternative<ShareableWindow>(target) ? "start share window" : "start share display";
    line += excludeAll ? " excludeAll" : "";
    for (auto window : exclude) line += " " + std::to_string(window);
    log_.push_back(line + (frames ? "" : " (no source)"));
    pendingStart = std::move(completion);
  }
  // Answers the pending start or fetch.
  void finishStart(std::optional<std::string> error = std::nullopt) { std::exchange(pendingStart, {})(error); }
  void finishFetch(std::optional<ShareableContent> content, const std::string& error = "") {
    std::exchange(pendingFetch, {})(std::move(content), error);
  }

  bool sharingOwnWindow = false;
  bool permitted = true;
  bool grantOnRequest = true;
  std::function<void()> streamDidStop;
  StartCompletion pendingStart;
  ContentCompletion pendingFetch;

 private:
  PortLog& log_;
};

// Hands out cookies 1, 2, …, or 0 (a refusing session) when `refuse` is set.
class FakeDisplaySleepInhibitor final : public platform::DisplaySleepInhibitor {
 public:
  explicit FakeDisplaySleepInhibitor(PortLog& log) : log_(log) {}
  unsigned inhibit(const std::string& reason) override {
    log_.push_back("inhibit " + reason);
    return refuse ? 0 : ++lastCookie;
  }
  unsigned inhibitSuspend(const std::string& reason) override {
    log_.push_back("inhibitSuspend " + reason);
    return refuse ? 0 : ++lastCookie;
  }
  void uninhibit(unsigned cookie) override { log_.push_back("uninhibit " + std::to_string(cookie)); }

  bool refuse = false;
  unsigned lastCookie = 0;

 private:
  PortLog& log_;
};

}  // namespace orvik::testing
