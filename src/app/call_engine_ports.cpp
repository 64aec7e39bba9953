#include "app/call_engine_ports.h"

#include <gtk/gtk.h>

#include <optional>

#include "calls/control/native_call_manager.h"
#include "calls/windows/incoming_call_panel.h"
#include "calls/windows/native_audio_call_window.h"
#include "calls/windows/native_video_call_window.h"
#include "core/native_logger.h"

namespace orvik {

bool ManagerCallControl::isCallActive() const { return manager_.isInCall(); }

void ManagerCallControl::hangUpCurrentCall() { manager_.hangUpCurrentCall(); }

CallState ManagerCallControl::callState() const { return manager_.callState(); }

bool ManagerCallControl::isScreenshotAccessAllowed() const {
  return manager_.state().kept.isScreenshotAccessAllowed;
}

void ManagerCallControl::makeCall(const CallUser& callee, CallType type) { manager_.makeCall(callee, type); }

void ManagerCallControl::acceptCall() { nativeLog("[NativeCallMgr] acceptCall is not available yet"); }

// Declining a ringing call is what hanging up does while it rings.
void ManagerCallControl::rejectCall() {
  if (manager_.callState().kind() == CallState::Kind::ringing) manager_.hangUpCurrentCall();
}

void ManagerCallControl::endCall() { manager_.endCall(); }

void ManagerCallControl::setMuted(bool) { nativeLog("[NativeCallMgr] setMuted is not available yet"); }

void ManagerCallControl::setSpeakerEnabled(bool) {
  nativeLog("[NativeCallMgr] setSpeakerEnabled is not available yet");
}

void ManagerCallControl::setCameraOff(bool) { nativeLog("[NativeCallMgr] setCameraOff is not available yet"); }

void ManagerCallControl::toggleScreenShare() { manager_.toggleScreenShare(); }

void ManagerCallControl::requestScreenShareOptions(bool afterPrimer) {
  manager_.requestScreenShareOptions(afterPrimer);
}

void ManagerCallControl::startScreenShare(const ShareTarget& target) { manager_.startScreenShare(target); }

void ManagerCallControl::extendCall(bool) { nativeLog("[NativeCallMgr] extendCall is not available yet"); }

void ManagerCallControl::requestVideoUpgrade() {
  nativeLog("[NativeCallMgr] requestVideoUpgrade is not available yet");
}

void ManagerCallControl::acceptVideoUpgrade() {
  nativeLog("[NativeCallMgr] acceptVideoUpgrade is not available yet");
}

void ManagerCallControl::declineVideoUpgrade() {
  nativeLog("[NativeCallMgr] declineVideoUpgrade is not available yet");
}

void ShellCallWindows::publishTimerText(const std::string& text) {
  publishVideoTimerText(text);
  if (auto* audio = audioWindow_()) audio->model().update([&](AudioCallViewState& s) { s.timerText = text; });
}

void ShellCallWindows::publishConnected(bool connected) {
  publishVideoConnected(connected);
  if (auto* audio = audioWindow_()) audio->model().update([&](AudioCallViewState& s) { s.isConnected = connected; });
}

void ShellCallWindows::closeAudioCallWindow() {
  if (auto* audio = audioWindow_()) audio->close();
}

IncomingCallPanel* ShellCallWindows::incomingPanel() const { return incomingPanel_ ? incomingPanel_() : nullptr; }

void ShellCallWindows::dismissIncomingCallPanel() {
  if (auto* panel = incomingPanel()) panel->dismiss();
}

void ShellCallWindows::updateIncomingPanelIdentity(const std::string& name, const std::string& orvikID,
                                                   const std::string& avatarURL, bool isSubscribed) {
  // An empty picture keeps the one shown.
  if (auto* panel = incomingPanel()) {
    panel->updateIdentity(name, orvikID, avatarURL.empty() ? std::nullopt : std::optional(avatarURL), isSubscribed);
  }
}

void ShellCallWindows::incomingPanelIdentityResolved() {
  if (auto* panel = incomingPanel()) panel->identityResolved();
}

void ShellCallWindows::hideCallLimitBanner() {
  hideVideoLimitBanner();
  if (auto* audio = audioWindow_()) {
    audio->model().update([](AudioCallViewState& s) {
      s.limitWarning.reset();
      s.callLimitCanExtend = false;
    });
  }
}

bool ShellCallWindows::hasCallWindow() {
  auto* audio = audioWindow_();
  auto* video = videoWindow();
  return (audio && audio->hasWindow()) || (video && video->hasWindow());
}

void ShellCallWindows::raiseCallWindows() {
  if (auto* audio = audioWindow_()) audio->raiseAboveAppWindows();
  if (auto* video = videoWindow()) video->bringToFront();
}

MainWindowPlacement ShellCallWindows::mainWindowPlacement() {
  return mainWindow_ && mainWindow_() ? MainWindowPlacement::available : MainWindowPlacement::none;
}

void ShellCallWindows::presentMainWindow() {
  if (GtkWindow* window = mainWindow_ ? mainWindow_() : nullptr) gtk_window_present(window);
}

}  // namespace orvik
