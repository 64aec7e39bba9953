// The shell's side of the call engine: the call control the main window and
// the quit path use (ManagerCallControl over the call manager), and the call
// windows' port while the program has no call windows yet (ShellCallWindows:
// only the main window, which it brings forward beside an answered call).
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

// The operations the manager does not have yet log that they were asked for
// and do nothing. TODO(call manager accept and video upgrade issues): forward
// them.
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
  void extendCall(bool sendToPeer) override;
  void requestVideoUpgrade() override;
  void acceptVideoUpgrade() override;
  void declineVideoUpgrade() override;

 private:
  NativeCallManager& manager_;
};

// The audio call window takes its operations here. TODO(call windows issue):
// the video call window, the incoming panel and the floating panel take the
// others over.
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
  void closeVideoCallWindow() override {}
  void dismissIncomingCallPanel() override;
  // An incoming call accepted (or opened by the page) gets the audio call
  // window. TODO(call windows issue): the video call window and the floating
  // panel.
  void openAudioCallWindow(const std::string& name, const std::string& userNumber, const std::string& imageUrl,
                           bool isSubscribed, bool isDarkMode, bool connecting, bool outgoing) override;
  void openVideoCallWindow(const std::string&, const std::string&, const std::string&, bool, bool, bool) override {}
  void clearIncomingFlag() override {}
  void setFloatingAwaitingAccept(bool awaiting) override;
  void updateIncomingPanelIdentity(const std::string& name, const std::string& orvikID, const std::string& avatarURL,
                                   bool isSubscribed) override;
  void incomingPanelIdentityResolved() override;
  // The floating panel's model; TODO(call windows issue): the call screens'.
  void updateCallScreenIdentity(bool isAudio, const std::string& name, const std::string& orvikID,
                                const std::string& avatarURL, bool isSubscribed) override;
  void floatingPanelCallDidStart(const std::string& name, const std::string& avatarURL, bool isAudio,
                                 bool startsRinging) override;
  void floatingPanelCallDidEnd() override;
  void markCameraOff() override;
  void setVideoCameraSession(CameraSessionHandle) override {}
  void markVideoCallEnded() override {}
  void resetVideoCallModel() override {}
  void hideCallLimitBanner() override;
  // The audio screen's part of the in-call controls, the peer's microphone
  // and the limit banner. TODO(call windows issue): the video screen's and
  // the floating panel's parts.
  void publishMuted(bool muted) override;
  void publishSpeakerOff(bool off) override;
  void setRemoteMuted(bool muted) override;
  bool isCallLimitBannerShown() override;
  void showCallLimitBanner(const std::string& text, bool canExtend) override;
  void clearCallLimitWarningText() override;
  std::vector<std::uint64_t> ownCallWindowNumbers() override { return {}; }
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

 private:
  std::function<GtkWindow*()> mainWindow_;
  std::function<NativeAudioCallWindow*()> audioWindow_;
  IncomingCallPanel* incomingPanel() const;

  std::function<IncomingCallPanel*()> incomingPanel_;
  NativeCallFloatingPanel* floatingPanel() const { return floatingPanel_ ? floatingPanel_() : nullptr; }
  std::function<NativeCallFloatingPanel*()> floatingPanel_;
};

}  // namespace orvik
