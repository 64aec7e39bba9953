// CallMediaCapture: the call's local camera and the microphone-permission
// pieces the call windows use. It picks the camera and its format, starts
// and stops the camera capturer into the call's video source, and can start
// the camera early ("prewarm") while a video call still rings, so the
// picture is there when the call connects. A prewarm that no call takes over
// within 20 s is stopped.
//
// The call manager makes one and keeps it for the life of the process; the
// peer connection owns the tracks and the source, which are held weakly
// here.
//
//   capture.videoTrack = track;  capture.videoSource = source;
//   capture.startCapture(true, [](const std::optional<CaptureError>& error) { ... });
//
// THREAD-SAFETY: main queue only, except showMicrophonePermissionAlert and
// microphoneAccessCompletion, which move there themselves.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "calls/media/camera_source.h"
#include "calls/media/peer_connection.h"

namespace orvik {

// An error of the domain "CallMediaCapture" (code -1), or the camera's own.
struct CaptureError {
  std::string domain;
  int code = 0;
  std::string description;
  friend bool operator==(const CaptureError&, const CaptureError&) = default;
};

class CallMediaCapture {
 public:
  static constexpr double kPrewarmTimeoutSeconds = 20.0;
  static constexpr const char* kErrorDomain = "CallMediaCapture";
  static constexpr const char* kNoVideoSourceError = "videoSource not set — call setup() first";
  static constexpr const char* kMicrophoneAlertTitle = "Microphone Access Needed";
  static constexpr const char* kMicrophoneAlertText =
      "Orvik needs microphone access to make calls. Please allow it in System Settings > Privacy & Security > "
      "Microphone.";

  using Completion = std::function<void(const std::optional<CaptureError>& error)>;
  // Shows a warning alert with one "OK" button; main queue.
  using AlertFunction = std::function<void(const std::string& title, const std::string& message)>;
  using LogFunction = std::function<void(const std::string& line)>;

  CallMediaCapture(CameraSource& cameras, AlertFunction alert, LogFunction log = {});
  ~CallMediaCapture();
  CallMediaCapture(const CallMediaCapture&) = delete;
  CallMediaCapture& operator=(const CallMediaCapture&) = delete;

  // Any thread: the alert, shown once on the main queue.
  void showMicrophonePermissionAlert();
  // Any thread: hands `granted` to `continuation` on the main queue.
  static void microphoneAccessCompletion(bool granted, std::function<void(bool granted)> continuation);

  std::optional<CameraDevice> findCamera();
  void prewarmCamera();
  // Without video: capturing (audio only) at once. With video: the camera
  // into `videoSource`, a prewarmed capturer taken over without a restart.
  // The completion runs before this returns unless a camera has to start;
  // then on the main queue once it did (or failed).
  void startCapture(bool withVideo, Completion completion = {});
  void stopCapture(std::function<void()> completion = {});

  // The running capturer's session (for the local preview), or none.
  CameraSessionHandle cameraSession() const;
  bool hasCapturer() const { return capturer_ != nullptr; }

  std::weak_ptr<VideoTrackRef> videoTrack;
  std::weak_ptr<VideoSourceRef> videoSource;
  bool isMuted = false;
  bool isCameraOff = false;
  bool isCapturing = false;

 private:
  void log(const std::string& line) const;
  void prewarmTimedOut(const std::shared_ptr<CameraCapturer>& prewarmed);

  CameraSource& cameras_;
  AlertFunction alert_;
  LogFunction log_;
  std::shared_ptr<CameraCapturer> capturer_;
  // Pending completions and time-outs hold this weakly.
  std::shared_ptr<CallMediaCapture*> alive_ = std::make_shared<CallMediaCapture*>(this);
};

}  // namespace orvik
