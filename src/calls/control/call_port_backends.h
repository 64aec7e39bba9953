// The program's backends of the call ports that exist before the call
// windows do: the microphone and the camera, the call tones over
// CallAudioManager, a non-blocking GTK alert, and the screen share.
//
// THREAD-SAFETY: main queue only.
#pragma once

#include <functional>
#include <memory>

#include "calls/control/call_ports.h"

namespace orvik {

class CallAudioManager;
class CallMediaCapture;
class CameraSource;
class ScreenShareCapture;
namespace platform {
class AudioHardware;
}  // namespace platform

// A microphone is the sound system's default input; the camera is the
// first V4L2 camera (or a test build's synthetic one: device_camera_source.h),
// run through CallMediaCapture (made when first needed).
class DeviceCallCapture final : public CallCapture {
 public:
  // `hardware` is asked for the sound system when a call first needs it.
  explicit DeviceCallCapture(std::function<platform::AudioHardware&()> hardware);
  ~DeviceCallCapture() override;
  bool hasMicrophone() override;
  bool hasCamera() override;
  void prewarmCamera() override;
  CameraSessionHandle cameraSession() override;
  void startWithCameraOff() override;
  void stopCapture() override;
  void attachVideo(VideoTrackHandle track, VideoSourceHandle source) override;
  void startCapture(bool withVideo, std::function<void(const std::optional<std::string>& error)> completion) override;
  void setMuted(bool muted) override;
  void setCameraOff(bool off) override;
  // The call windows' microphone-permission pieces.
  CallMediaCapture& mediaCapture();

 private:
  std::function<platform::AudioHardware&()> hardware_;
  std::unique_ptr<CameraSource> cameras_;
  std::unique_ptr<CallMediaCapture> capture_;
};

// The call tones of CallAudioManager, built when first played.
class CallAudioTones final : public CallTones {
 public:
  explicit CallAudioTones(std::function<CallAudioManager&()> audio) : audio_(std::move(audio)) {}
  void startTone(Tone tone) override;
  void stopTone() override;
  void playEndTone() override;

 private:
  std::function<CallAudioManager&()> audio_;
};

// A GTK message dialog (warning, one "OK" button) over the main window; it
// closes itself when answered and never blocks the caller.
class GtkCallAlerts final : public CallAlerts {
 public:
  void showCallAlert(const std::string& title, const std::string& message) override;
};

// The screen share of a call: ScreenShareCapture over the desktop's screen
// source (X11, or the portal under Wayland).
class DesktopCallScreenShare final : public CallScreenShare {
 public:
  explicit DesktopCallScreenShare(std::unique_ptr<ScreenSource> source);
  ~DesktopCallScreenShare() override;
  bool isSharingOwnWindow() override;
  void stopCapture() override;
  void setExcludedWindows(const std::vector<std::uint64_t>& windows, bool exclude) override;
  void setStreamDidStopHandler(std::function<void()> handler) override;
  void fetchShareableContent(
      const std::vector<std::uint64_t>& leaveOut, bool allowOwnWindows,
      std::function<void(std::optional<ShareableContent> content, const std::string& error)> completion) override;
  void startCapture(const ShareTarget& target, VideoSourceHandle frames, const std::vector<std::uint64_t>& excludeWindows,
                    bool excludeAllOwnWindows,
                    std::function<void(const std::optional<std::string>& error)> completion) override;

 private:
  std::unique_ptr<ScreenSource> source_;
  std::unique_ptr<ScreenShareCapture> capture_;
};

// Used where the desktop offers no screen capture at all (no display).
class NoCallScreenShare final : public CallScreenShare {
 public:
  bool isSharingOwnWindow() override { return false; }
  void stopCapture() override {}
  void setExcludedWindows(const std::vector<std::uint64_t>&, bool) override {}
  void setStreamDidStopHandler(std::function<void()> handler) override { streamDidStop_ = std::move(handler); }

 private:
  std::function<void()> streamDidStop_;
};

// The desktop's screen share, or NoCallScreenShare without a display.
std::unique_ptr<CallScreenShare> makeDesktopCallScreenShare();

}  // namespace orvik
