#include "app/call_engine_ports.h"

#include <gtk/gtk.h>

#include <optional>

#include "calls/control/native_call_manager.h"
#include "calls/windows/incoming_call_panel.h"
#include "calls/windows/native_call_floating_panel.h"
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

void ManagerCallControl::acceptCall() { manager_.acceptCall(); }

// Declining a ringing call is what hanging up does while it rings.
void ManagerCallControl::rejectCall() {
  if (manager_.callState().kind() == CallState::Kind::ringing) manager_.hangUpCurrentCall();
}

void ManagerCallControl::endCall() { manager_.endCall(); }

void ManagerCallControl::setMuted(bool muted) { manager_.setMuted(muted); }

void ManagerCallControl::setSpeakerEnabled(bool enabled) { manager_.setSpeakerEnabled(enabled); }

void ManagerCallControl::setCameraOff(bool off) { manager_.setCameraOff(off); }

void ManagerCallControl::toggleScreenShare() { manager_.toggleScreenShare(); }

void ManagerCallControl::requestScreenShareOptions(bool afterPrimer) {
  manager_.requestScreenShareOptions(afterPrimer);
}

void ManagerCallControl::startScreenShare(const ShareTarget& target) { manager_.startScreenShare(target); }

void ManagerCallControl::extendCall(bool sendToPeer) { manager_.extendCall(sendToPeer); }

void ManagerCallControl::requestVideoUpgrade() { manager_.requestVideoUpgrade(); }

void ManagerCallControl::acceptVideoUpgrade() { manager_.acceptVideoUpgrade(); }

void ManagerCallControl::declineVideoUpgrade() { manager_.declineVideoUpgrade(); }

void ShellCallWindows::publishTimerText(const std::string& text) {
  publishVideoTimerText(text);
  if (auto* audio = audioWindow_()) audio->model().update([&](AudioCallViewState& s) { s.timerText = text; });
  if (auto* floating = floatingPanel()) floating->model().update([&](FloatingCallPanelState& s) { s.timerText = text; });
}

void ShellCallWindows::publishConnected(bool connected) {
  publishVideoConnected(connected);
  if (auto* audio = audioWindow_()) audio->model().update([&](AudioCallViewState& s) { s.isConnected = connected; });
  if (auto* floating = floatingPanel()) {
    floating->model().update([&](FloatingCallPanelState& s) { s.isConnected = connected; });
  }
}

void ShellCallWindows::setFloatingAwaitingAccept(bool awaiting) {
  if (auto* floating = floatingPanel()) floating->setAwaitingAccept(awaiting);
}

void ShellCallWindows::floatingPanelCallDidStart(const std::string& name, const std::string& avatarURL, bool isAudio,
                                                 bool startsRinging) {
  if (auto* floating = floatingPanel()) floating->callDidStart(name, avatarURL, isAudio, startsRinging);
}

void ShellCallWindows::floatingPanelCallDidEnd() {
  if (auto* floating = floatingPanel()) floating->callDidEnd();
}

void ShellCallWindows::updateCallScreenIdentity(bool isAudio, const std::string& name, const std::string& orvikID,
                                                const std::string& avatarURL, bool isSubscribed) {
  if (isAudio) {
    if (auto* audio = audioWindow_()) {
      audio->model().update([&](AudioCallViewState& s) {
        s.calleeName = name;
        s.calleeOrvikID = orvikID;
        s.imageUrl = avatarURL;
        s.isSubscribed = isSubscribed;
      });
    }
  } else {
    writeVideoModel([&](VideoCallViewModel& m) {
      m.set(&VideoCallFields::calleeName, name);
      m.set(&VideoCallFields::calleeOrvikID, orvikID);
      m.set(&VideoCallFields::imageUrl, avatarURL);
      m.set(&VideoCallFields::isSubscribed, isSubscribed);
    });
  }
  if (auto* floating = floatingPanel()) {
    floating->model().update([&](FloatingCallPanelState& s) {
      s.calleeName = name;
      s.imageUrl = avatarURL;
    });
  }
}

void ShellCallWindows::setAudioUpgradeState(CallWindows::VideoUpgradeState state) {
  using Screen = orvik::VideoUpgradeState;
  Screen shown = Screen::none;
  switch (state) {
    case CallWindows::VideoUpgradeState::none: shown = Screen::none; break;
    case CallWindows::VideoUpgradeState::requesting: shown = Screen::requesting; break;
    case CallWindows::VideoUpgradeState::incomingRequest: shown = Screen::incomingRequest; break;
    case CallWindows::VideoUpgradeState::connecting: shown = Screen::connecting; break;
  }
  if (auto* audio = audioWindow_()) audio->model().update([&](AudioCallViewState& s) { s.upgradeState = shown; });
}

void ShellCallWindows::markCameraOff() {
  writeVideoModel([](VideoCallViewModel& m) { m.set(&VideoCallFields::isCameraOff, true); });
  if (auto* floating = floatingPanel()) floating->model().update([](FloatingCallPanelState& s) { s.isCameraOff = true; });
}

void ShellCallWindows::openAudioCallWindow(const std::string& name, const std::string& userNumber,
                                           const std::string& imageUrl, bool isSubscribed, bool isDarkMode,
                                           bool connecting, bool outgoing) {
  if (auto* audio = audioWindow_()) {
    audio->open({name, userNumber, imageUrl, isSubscribed, isDarkMode, connecting, outgoing});
  }
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

void ShellCallWindows::publishMuted(bool muted) {
  if (auto* audio = audioWindow_()) audio->model().update([&](AudioCallViewState& s) { s.isMuted = muted; });
  writeVideoModel([&](VideoCallViewModel& m) { m.set(&VideoCallFields::isMuted, muted); });
  if (auto* floating = floatingPanel()) floating->model().update([&](FloatingCallPanelState& s) { s.isMuted = muted; });
}

void ShellCallWindows::publishSpeakerOff(bool off) {
  if (auto* audio = audioWindow_()) audio->model().update([&](AudioCallViewState& s) { s.isSpeakerOff = off; });
  writeVideoModel([&](VideoCallViewModel& m) { m.set(&VideoCallFields::isSpeakerOff, off); });
}

void ShellCallWindows::publishCameraOff(bool off) {
  writeVideoModel([&](VideoCallViewModel& m) { m.set(&VideoCallFields::isCameraOff, off); });
  if (auto* floating = floatingPanel()) floating->model().update([&](FloatingCallPanelState& s) { s.isCameraOff = off; });
}

void ShellCallWindows::setRemoteMuted(bool muted) {
  if (auto* audio = audioWindow_()) audio->model().update([&](AudioCallViewState& s) { s.remoteMuted = muted; });
  writeVideoModel([&](VideoCallViewModel& m) { m.set(&VideoCallFields::remoteMuted, muted); });
}

void ShellCallWindows::setRemoteVideoOff(bool off) {
  writeVideoModel([&](VideoCallViewModel& m) { m.set(&VideoCallFields::remoteVideoOff, off); });
}

void ShellCallWindows::setRemoteScreenSharing(bool sharing) {
  writeVideoModel([&](VideoCallViewModel& m) { m.set(&VideoCallFields::remoteScreenSharing, sharing); });
}

void ShellCallWindows::showRemoteVideo(VideoTrackHandle track) {
  writeVideoModel([&](VideoCallViewModel& m) {
    m.setRemoteVideoTrack(std::move(track));
    m.set(&VideoCallFields::hasRemoteVideo, true);
  });
}

bool ShellCallWindows::isCallLimitBannerShown() {
  auto* audio = audioWindow_();
  auto* video = videoWindow();
  return (audio && audio->model().state().limitWarning.has_value()) ||
         (video && video->model().fields().limitWarning.has_value());
}

void ShellCallWindows::showCallLimitBanner(const std::string& text, bool canExtend) {
  if (auto* audio = audioWindow_()) {
    audio->model().update([&](AudioCallViewState& s) {
      s.limitWarning = text;
      s.callLimitCanExtend = canExtend;
    });
  }
  writeVideoModel([&](VideoCallViewModel& m) {
    m.set(&VideoCallFields::limitWarning, std::optional(text));
    m.set(&VideoCallFields::callLimitCanExtend, canExtend);
  });
}

void ShellCallWindows::clearCallLimitWarningText() {
  if (auto* audio = audioWindow_()) audio->model().update([](AudioCallViewState& s) { s.limitWarning.reset(); });
  writeVideoModel([](VideoCallViewModel& m) { m.set(&VideoCallFields::limitWarning, std::nullopt); });
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
