// The shell's side of the call engine: the call control the main window, the
// call windows and the quit path use (ManagerCallControl over the call
// manager), and the call windows' port (ShellCallWindows: the main window,
// the audio and video call windows, the incoming-call panel and the floating
// return-to-call panel).
//
// THREAD-SAFETY: main queue only.
#pragma once

#include <functional>

#include "calls/control/call_control.h"
#include "calls/control/call_ports.h"

typedef struct _GtkWindow GtkWindow;

namespace orvik {

class IncomingCallPanel;
class NativeAudioCallWindow;
class NativeCallFloatingPanel;
class NativeCallManager;
class NativeVideoCallWindow;
class NativeVideoPiP;
class VideoCallViewModel;

// The call windows' and the shell's operations, forwarded to the manager.
class ManagerCallControl final : public CallControl {
 public:
  explicit ManagerCallControl(NativeCallManager& manager) : manager_(manager) {}
  bool isCallActive() const override;
  void hangUpCurrentCall() override;
  CallState callState() const override;
  bool isScreenshotAccessAllowed() const override;
  void makeCall(const CallUser& callee, CallType type) override;
  void acceptCall() override;
  void rejectCall() override;
  void endCall() override;
  void setMuted(bool muted) override;
  void setSpeakerEnabled(bool enabled) override;
  void setCameraOff(bool off) override;
  void toggleScreenShare() override;
  void requestScreenShareOptions(bool afterPrimer) override;
  void startScreenShare(const ShareTarget& target) override;
  void extendCall(bool sendToPeer) override;
  void requestVideoUpgrade() override;
  void acceptVideoUpgrade() override;
  void declineVideoUpgrade() override;

 private:
  NativeCallManager& manager_;
};

// What the call manager tells the call's windows, and where each goes.
class ShellCallWindows final : public CallWindows {
 public:
  // `mainWindow`: the main window while it exists, else null; `audioWindow`:
  // the audio call window's controller once it is built, else null.
  // `incomingPanel`: the incoming-call panel once it is built, else null.
  // `floatingPanel`: the return-to-call panel once it is built, else null.
  ShellCallWindows(std::function<GtkWindow*()> mainWindow, std::function<NativeAudioCallWindow*()> audioWindow,
                   std::function<IncomingCallPanel*()> incomingPanel = {},
                   std::function<NativeCallFloatingPanel*()> floatingPanel = {})
      : mainWindow_(std::move(mainWindow)),
        audioWindow_(std::move(audioWindow)),
        incomingPanel_(std::move(incomingPanel)),
        floatingPanel_(std::move(floatingPanel)) {}

  void publishTimerText(const std::string& text) override;
  void publishConnected(bool connected) override;
  void closeAudioCallWindow() override;
  void closeVideoCallWindow() override;
  void dismissIncomingCallPanel() override;
  // An incoming call accepted (or opened by the page) gets the audio call
  // window; a video call gets the video call window.
  void openAudioCallWindow(const std::string& name, const std::string& userNumber, const std::string& imageUrl,
                           bool isSubscribed, bool isDarkMode, bool connecting, bool outgoing) override;
  void openVideoCallWindow(const std::string& name, const std::string& userNumber, const std::string& imageUrl,
                           bool isSubscribed, bool isDarkMode, bool connecting) override;
  void clearIncomingFlag() override;
  void setFloatingAwaitingAccept(bool awaiting) override;
  void updateIncomingPanelIdentity(const std::string& name, const std::string& orvikID, const std::string& avatarURL,
                                   bool isSubscribed) override;
  void incomingPanelIdentityResolved() override;
  // The audio or the video screen's model, and the floating panel's.
  void updateCallScreenIdentity(bool isAudio, const std::string& name, const std::string& orvikID,
                                const std::string& avatarURL, bool isSubscribed) override;
  void floatingPanelCallDidStart(const std::string& name, const std::string& avatarURL, bool isAudio,
                                 bool startsRinging) override;
  void floatingPanelCallDidEnd() override;
  void setAudioUpgradeState(VideoUpgradeState state) override;
  void markCameraOff() override;
  void setVideoCameraSession(CameraSessionHandle session) override;
  void markVideoCallEnded() override;
  void resetVideoCallModel() override;
  void hideCallLimitBanner() override;
  // The in-call controls, what the peer said and the limit banner, on the
  // audio and video screens (and the floating panel's microphone).
  void publishMuted(bool muted) override;
  void publishSpeakerOff(bool off) override;
  void publishCameraOff(bool off) override;
  void setRemoteMuted(bool muted) override;
  void setRemoteVideoOff(bool off) override;
  void setRemoteScreenSharing(bool sharing) override;
  void showRemoteVideo(VideoTrackHandle track) override;
  bool isCallLimitBannerShown() override;
  void showCallLimitBanner(const std::string& text, bool canExtend) override;
  void clearCallLimitWarningText() override;
  std::vector<std::uint64_t> ownCallWindowNumbers() override;
  bool hasCallWindow() override;
  void raiseCallWindows() override;
  // GTK presents the window the application shows; there is nothing else to
  // activate.
  void activateApplication() override {}
  // Which desktop (workspace) a window is on is not known portably on Linux:
  // a main window that exists counts as available here.
  MainWindowPlacement mainWindowPlacement() override;
  // The desktop decides whether the window also takes the focus.
  void presentMainWindow() override;
  // The video screen's model (shell_video_call_windows.cpp).
  void showScreenSharePrimer() override;
  void showScreenRecordingDenied() override;
  void publishScreenShareOptions(const ShareableContent& content) override;
  void publishScreenSharing(bool sharing, VideoTrackHandle localScreenTrack) override;
  void showUpgradeCameraPreview(CameraSessionHandle session) override;
  void switchCallUIToVideo(bool cameraOff, CameraSessionHandle session) override;

  // The video call window's controller and its picture-in-picture panel,
  // once built (else null).
  void setVideoCallWindow(std::function<NativeVideoCallWindow*()> window, std::function<NativeVideoPiP*()> pip) {
    videoWindow_ = std::move(window);
    videoPiP_ = std::move(pip);
  }

 private:
  NativeVideoCallWindow* videoWindow() const { return videoWindow_ ? videoWindow_() : nullptr; }
  NativeVideoPiP* videoPiP() const { return videoPiP_ ? videoPiP_() : nullptr; }
  void publishVideoTimerText(const std::string& text);
  void publishVideoConnected(bool connected);
  void hideVideoLimitBanner();
  // The video screen's share of the writes above.
  void writeVideoModel(const std::function<void(VideoCallViewModel&)>& write);
  std::function<NativeVideoCallWindow*()> videoWindow_;
  std::function<NativeVideoPiP*()> videoPiP_;
  std::function<GtkWindow*()> mainWindow_;
  std::function<NativeAudioCallWindow*()> audioWindow_;
  IncomingCallPanel* incomingPanel() const;

  std::function<IncomingCallPanel*()> incomingPanel_;
  NativeCallFloatingPanel* floatingPanel() const { return floatingPanel_ ? floatingPanel_() : nullptr; }
  std::function<NativeCallFloatingPanel*()> floatingPanel_;
};

}  // namespace orvik
