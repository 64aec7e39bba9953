// What the call manager drives outside the call engine, each behind a small
// port so that the manager runs whole calls against recording fakes
// (test_support/recording_call_ports.h) and the windows, screens and capture
// can be built later without touching it:
//   CallWindows      the call windows, the incoming-call panel, the floating
//                    panel and the screen models the manager writes;
//   CallAlerts       the user-facing alerts of a call;
//   CallCapture      microphone and camera presence, the camera preview and
//                    the capture's teardown;
//   CallTones        the call tones (CallAudioManager in the program);
//   CallScreenShare  the screen share of a running call.
//
// THREAD-SAFETY: every port is called on the main queue only.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "calls/media/peer_connection.h"
#include "calls/media/screen_source.h"

namespace orvik {

// A camera capture session of the engine (camera_source.h): the video call
// window's local preview shows it.
struct CameraSessionRef;
using CameraSessionHandle = std::shared_ptr<CameraSessionRef>;

// Where the main window stands when a call is answered.
enum class MainWindowPlacement {
  none,            // no main window exists
  onOtherDesktop,  // visible, but on another desktop (workspace)
  available,       // hidden, minimised or on the current desktop
};

class CallWindows {
 public:
  virtual ~CallWindows() = default;

  // The timer slot of the audio window's, the video window's and the
  // floating panel's models (the duration and the status texts).
  virtual void publishTimerText(const std::string& text) = 0;
  virtual void publishConnected(bool connected) = 0;

  virtual void closeAudioCallWindow() = 0;
  virtual void closeVideoCallWindow() = 0;
  virtual void dismissIncomingCallPanel() = 0;

  // ---- Incoming calls ----
  // The audio call window for one caller: `connecting` shows "Connecting..."
  // (an answered call), otherwise an incoming call shows its Accept state.
  virtual void openAudioCallWindow(const std::string& name, const std::string& userNumber,
                                   const std::string& imageUrl, bool isSubscribed, bool isDarkMode, bool connecting,
                                   bool outgoing) = 0;
  // The video call window; the own name and picture stay empty.
  virtual void openVideoCallWindow(const std::string& name, const std::string& userNumber,
                                   const std::string& imageUrl, bool isSubscribed, bool isDarkMode,
                                   bool connecting) = 0;
  // The audio and video window models leave their incoming state.
  virtual void clearIncomingFlag() = 0;
  // The floating panel's model waits for (or no longer waits for) Accept.
  virtual void setFloatingAwaitingAccept(bool awaiting) = 0;
  // The incoming-call panel shows a corrected caller.
  virtual void updateIncomingPanelIdentity(const std::string& name, const std::string& orvikID,
                                           const std::string& avatarURL, bool isSubscribed) = 0;
  // Reveals an incoming-call panel that waits for the caller's identity.
  virtual void incomingPanelIdentityResolved() = 0;
  // The call screen's model (audio or video) and the floating panel's model
  // show a corrected caller.
  virtual void updateCallScreenIdentity(bool isAudio, const std::string& name, const std::string& orvikID,
                                        const std::string& avatarURL, bool isSubscribed) = 0;

  virtual void floatingPanelCallDidStart(const std::string& name, const std::string& avatarURL, bool isAudio,
                                         bool startsRinging) = 0;
  virtual void floatingPanelCallDidEnd() = 0;

  // The video window's and the floating panel's camera-off flags.
  virtual void markCameraOff() = 0;
  // The video window's local preview (none clears it).
  virtual void setVideoCameraSession(CameraSessionHandle session) = 0;
  // The video window's model: the call ended (shown until the window closes).
  virtual void markVideoCallEnded() = 0;
  // The video window's model back to no remote video, no preview, no share.
  virtual void resetVideoCallModel() = 0;
  virtual void hideCallLimitBanner() = 0;

  // The native window ids (X11) of the video call window and of its
  // picture-in-picture panel, those that exist, in that order.
  virtual std::vector<std::uint64_t> ownCallWindowNumbers() = 0;

  // Showing the main window beside an answered call (see
  // NativeCallManager::showMainAppWindow).
  virtual bool hasCallWindow() = 0;
  // Brings each call window to the current desktop and to the front, without
  // taking the focus.
  virtual void raiseCallWindows() = 0;
  virtual void activateApplication() = 0;
  virtual MainWindowPlacement mainWindowPlacement() = 0;
  virtual void presentMainWindow() = 0;

  // The audio call window's model: whether the peer is offered an upgrade
  // to video (only a desktop peer is).
  virtual void setCanRequestVideoUpgrade(bool /*supported*/) {}
  // Screen share and video upgrade: the video and audio screen models. -----
  // The video screen's explanation before the system asks for screen access,
  // and its "access denied" screen.
  virtual void showScreenSharePrimer() {}
  virtual void showScreenRecordingDenied() {}
  // The picker opens on it.
  virtual void publishScreenShareOptions(const ShareableContent& /*content*/) {}
  // The video screen's share flag and its local preview of the shared screen
  // (none when not sharing).
  virtual void publishScreenSharing(bool /*sharing*/, VideoTrackHandle /*localScreenTrack*/) {}
  // The audio screen's upgrade state.
  enum class VideoUpgradeState { none, requesting, incomingRequest, connecting };
  virtual void setAudioUpgradeState(VideoUpgradeState /*state*/) {}
  // The video window's camera-off flag and local preview (upgrade preview).
  virtual void showUpgradeCameraPreview(CameraSessionHandle /*session*/) {}
  // The audio window gives way to the video window for the running call
  // (the audio window closes without ending the call).
  virtual void switchCallUIToVideo(bool /*cameraOff*/, CameraSessionHandle /*session*/) {}
  // -------------------------------------------------------------------------

  // In-call controls, data-channel messages and call limits. ----------------
  // The local buttons' state: the microphone on the audio, video and
  // floating models, the speaker on the audio and video models, the camera
  // on the video and floating models.
  virtual void publishMuted(bool /*muted*/) {}
  virtual void publishSpeakerOff(bool /*off*/) {}
  virtual void publishCameraOff(bool /*off*/) {}
  // What the peer said: its microphone (audio model, then video model), its
  // camera and its screen share (video model).
  virtual void setRemoteMuted(bool /*muted*/) {}
  virtual void setRemoteVideoOff(bool /*off*/) {}
  virtual void setRemoteScreenSharing(bool /*sharing*/) {}
  // The peer's video for the video screen, replacing (and releasing) the one
  // it had; the screen then has remote video.
  virtual void showRemoteVideo(VideoTrackHandle /*track*/) {}
  // The limit banner on both call screens: whether either shows a text, a
  // text with or without the Extend button, and the text alone taken away
  // (hideCallLimitBanner also withdraws the button).
  virtual bool isCallLimitBannerShown() { return false; }
  virtual void showCallLimitBanner(const std::string& /*text*/, bool /*canExtend*/) {}
  virtual void clearCallLimitWarningText() {}
  // -------------------------------------------------------------------------
};

class CallAlerts {
 public:
  virtual ~CallAlerts() = default;
  // A warning with one "OK" button. Never blocks: the caller's next steps
  // run at once.
  virtual void showCallAlert(const std::string& title, const std::string& message) = 0;
};

class CallCapture {
 public:
  virtual ~CallCapture() = default;
  // Whether the system has a default audio capture device.
  virtual bool hasMicrophone() = 0;
  // Whether a camera is attached.
  virtual bool hasCamera() = 0;
  // Starts the camera early for a video call.
  virtual void prewarmCamera() = 0;
  // The camera capturer's session, for the local preview; none without one.
  virtual CameraSessionHandle cameraSession() = 0;
  // The video call goes on without the camera: marked camera-off, the local
  // video track disabled.
  virtual void startWithCameraOff() = 0;
  // Not capturing any more; the camera capturer is stopped and dropped.
  virtual void stopCapture() = 0;

  // Starts the microphone and, with `startVideo`, the camera for the call.
  // `completion` gets an error text or nothing, on any thread and possibly
  // before this returns: callers move to the main queue themselves.
  using CaptureCompletion = std::function<void(const std::optional<std::string>& error)>;
  virtual void startCapture(bool startVideo, CaptureCompletion completion) = 0;
  // The connection's camera track and source, held weakly, before a start.
  virtual void attachVideo(VideoTrackHandle /*track*/, VideoSourceHandle /*source*/) {}

  // In-call controls, data-channel messages and call limits: the capture's
  // own microphone and camera flags.
  virtual void setMuted(bool /*muted*/) {}
  virtual void setCameraOff(bool /*off*/) {}
};

class CallTones {
 public:
  enum class Tone { incomingRingtone, ringback, connecting };
  virtual ~CallTones() = default;
  // Loops `tone`, replacing the one playing.
  virtual void startTone(Tone tone) = 0;
  virtual void stopTone() = 0;
  virtual void playEndTone() = 0;
};

class CallScreenShare {
 public:
  virtual ~CallScreenShare() = default;
  // Whether the running share shows one of the program's own windows.
  virtual bool isSharingOwnWindow() = 0;
  virtual void stopCapture() = 0;
  // Keeps the program's own call windows out of a display share, or lets
  // them in.
  virtual void setExcludedWindows(const std::vector<std::uint64_t>& windows, bool exclude) = 0;
  // Our in-process notice "orvik.screenShareStreamDidStop": the system
  // stopped the share's stream. Set once, by the call manager.
  virtual void setStreamDidStopHandler(std::function<void()> handler) = 0;

  // Starting a share (ScreenShareCapture). ---------------------------------
  // Whether the desktop lets us capture the screen without asking (X11: yes;
  // the portal asks in its own dialog when the share starts).
  virtual bool hasScreenCapturePermission() { return true; }
  virtual void requestScreenCapturePermission(std::function<void(bool granted)> completion) {
    if (completion) completion(true);
  }
  // What the picker may offer; the completion runs on the main queue.
  virtual void fetchShareableContent(
      const std::vector<std::uint64_t>& /*leaveOut*/, bool /*allowOwnWindows*/,
      std::function<void(std::optional<ShareableContent> content, const std::string& error)> completion) {
    if (completion) completion(std::nullopt, "screen sharing is not available");
  }
  // Starts capturing `target` into `frames`; the completion gets an error
  // text or nothing, on the main queue.
  virtual void startCapture(const ShareTarget& /*target*/, VideoSourceHandle /*frames*/,
                            const std::vector<std::uint64_t>& /*excludeWindows*/, bool /*excludeAllOwnWindows*/,
                            std::function<void(const std::optional<std::string>& error)> completion) {
    if (completion) completion(std::string("screen sharing is not available"));
  }
  // -------------------------------------------------------------------------
};

}  // namespace orvik
