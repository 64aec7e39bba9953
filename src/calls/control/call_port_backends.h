// The program's backends of the call ports that exist before the call
// windows and the media capture do: the presence of a microphone and a
// camera, the call tones over CallAudioManager, a non-blocking GTK alert,
// and a screen share that never runs.
//
// THREAD-SAFETY: main queue only.
#pragma once

#include <functional>

#include "calls/control/call_ports.h"

namespace orvik {

class CallAudioManager;
namespace platform {
class AudioHardware;
}  // namespace platform

// A microphone is the sound system's default input; a camera is a V4L2
// capture node (/dev/video*). TODO(capture issue): the camera itself.
class DeviceCallCapture final : public CallCapture {
 public:
  // `hardware` is asked for the sound system when a call first needs it.
  explicit DeviceCallCapture(std::function<platform::AudioHardware&()> hardware) : hardware_(std::move(hardware)) {}
  bool hasMicrophone() override;
  bool hasCamera() override;
  void prewarmCamera() override {}
  CameraSessionHandle cameraSession() override { return nullptr; }
  void startWithCameraOff() override {}
  void stopCapture() override {}
  // The microphone runs through the call's audio device once the connection
  // sends; nothing to start here yet. TODO(capture issue): the camera.
  void startCapture(bool startVideo, CaptureCompletion completion) override;

 private:
  std::function<platform::AudioHardware&()> hardware_;
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

// TODO(screen-share issue): the display and window share.
class NoCallScreenShare final : public CallScreenShare {
 public:
  bool isSharingOwnWindow() override { return false; }
  void stopCapture() override {}
  void setExcludedWindows(const std::vector<std::uint64_t>&, bool) override {}
  void setStreamDidStopHandler(std::function<void()> handler) override { streamDidStop_ = std::move(handler); }

 private:
  std::function<void()> streamDidStop_;
};

}  // namespace orvik
