#include "calls/media/call_media_capture.h"

#include <algorithm>

#include "calls/media/camera_format.h"
#include "core/native_logger.h"
#include "platform/dispatch/task_queue.h"
#include "platform/queue_checker.h"

namespace orvik {

CallMediaCapture::CallMediaCapture(CameraSource& cameras, AlertFunction alert, LogFunction log)
    : cameras_(cameras), alert_(std::move(alert)), log_(std::move(log)) {}

CallMediaCapture::~CallMediaCapture() {
  // A camera must not keep running for an owner that is gone.
  if (capturer_) capturer_->stop({});
}

void CallMediaCapture::log(const std::string& line) const {
  if (log_) {
    log_(line);
  } else {
    nativeLog(line);
  }
}

void CallMediaCapture::showMicrophonePermissionAlert() {
  platform::mainQueue().post([weak = std::weak_ptr<CallMediaCapture*>(alive_)] {
    auto self = weak.lock();
    if (self && (*self)->alert_) (*self)->alert_(kMicrophoneAlertTitle, kMicrophoneAlertText);
  });
}

void CallMediaCapture::microphoneAccessCompletion(bool granted, std::function<void(bool)> continuation) {
  platform::mainQueue().post([granted, continuation = std::move(continuation)] {
    if (continuation) continuation(granted);
  });
}

std::optional<CameraDevice> CallMediaCapture::findCamera() { return chooseCamera(cameras_.captureDevices()); }

CameraSessionHandle CallMediaCapture::cameraSession() const { return capturer_ ? capturer_->session() : nullptr; }

void CallMediaCapture::prewarmCamera() {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  if (isCapturing || capturer_) return;
  const auto camera = findCamera();
  if (!camera) return;
  const auto format = bestFormat(camera->formats);
  if (!format) {
    log("[Media] prewarm skipped — camera " + camera->name + " lists no capture format");
    return;
  }
  // No call source yet: the frames feed only the preview.
  auto capturer = cameras_.makeCapturer();
  capturer_ = capturer;
  const int fps = std::min(frameRate(*format), kCameraPrewarmFPS);
  log("[Media] prewarming camera " + camera->name + " " + std::to_string(format->width) + "x" +
      std::to_string(format->height) + "@" + std::to_string(fps));
  capturer->start(*camera, *format, fps,
                  [weak = std::weak_ptr<CallMediaCapture*>(alive_), capturer](const std::optional<std::string>& error) {
                    platform::mainQueue().post([weak, capturer, error] {
                      auto self = weak.lock();
                      if (!self) return;
                      CallMediaCapture& capture = **self;
                      if (error) {
                        // A capturer whose start failed is no prewarmed camera: dropped,
                        // so the call's start opens the camera again.
                        if (capture.capturer_ == capturer) capture.capturer_.reset();
                        capture.log("[Media] prewarm failed: " + *error);
                        return;
                      }
                      platform::mainQueue().postAfter(kPrewarmTimeoutSeconds, [weak, capturer] {
                        if (auto self = weak.lock()) (*self)->prewarmTimedOut(capturer);
                      });
                    });
                  });
}

void CallMediaCapture::prewarmTimedOut(const std::shared_ptr<CameraCapturer>& prewarmed) {
  // A call that took the camera over keeps it; a later prewarm (after a stop)
  // has its own 20 s.
  if (isCapturing || !capturer_ || capturer_ != prewarmed) return;
  log("[Media] prewarm not taken over within 20s — stopping the camera");
  capturer_->stop({});
  capturer_.reset();
}

void CallMediaCapture::startCapture(bool withVideo, Completion completion) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  const auto report = [&completion](const std::optional<CaptureError>& error) {
    if (completion) completion(error);
  };
  if (!withVideo) {
    isCapturing = true;
    return report(std::nullopt);
  }
  const auto source = videoSource.lock();
  if (!source) return report(CaptureError{kErrorDomain, -1, kNoVideoSourceError});
  if (isCapturing && capturer_) {
    capturer_->setTarget(source);
    return report(std::nullopt);
  }
  const auto camera = findCamera();
  if (!camera) {
    // The call goes on with audio only.
    isCapturing = true;
    return report(std::nullopt);
  }
  if (capturer_) {
    // The prewarmed camera keeps its format and rate (at most 15 fps).
    capturer_->setTarget(source);
    isCapturing = true;
    return report(std::nullopt);
  }
  const auto format = bestFormat(camera->formats);
  if (!format) {
    log("[Media] camera " + camera->name + " lists no capture format — going on without video");
    isCapturing = true;
    return report(std::nullopt);
  }
  auto capturer = cameras_.makeCapturer();
  capturer->setTarget(source);
  capturer_ = capturer;
  const int fps = frameRate(*format);
  log("[Media] starting camera " + camera->name + " " + std::to_string(format->width) + "x" +
      std::to_string(format->height) + "@" + std::to_string(fps));
  capturer->start(*camera, *format, fps,
                  [weak = std::weak_ptr<CallMediaCapture*>(alive_), capturer,
                   completion = std::move(completion)](const std::optional<std::string>& error) {
                    platform::mainQueue().post([weak, capturer, completion, error] {
                      auto self = weak.lock();
                      if (!self) return;
                      CallMediaCapture& capture = **self;
                      const auto reportHere = [&](const std::optional<CaptureError>& outcome) {
                        if (completion) completion(outcome);
                      };
                      if (error) {
                        // Never report a camera as running that is not: the failed
                        // capturer goes, and the next start opens the camera again.
                        if (capture.capturer_ == capturer) capture.capturer_.reset();
                        capture.log("[Media] camera start failed: " + *error);
                        return reportHere(CaptureError{"Camera", -1, *error});
                      }
                      if (capture.capturer_ != capturer) {
                        // Stopped (the call ended) while the camera was starting.
                        return reportHere(CaptureError{kErrorDomain, -1, "camera capture was stopped before it started"});
                      }
                      capture.isCapturing = true;
                      reportHere(std::nullopt);
                    });
                  });
}

void CallMediaCapture::stopCapture(std::function<void()> completion) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  isCapturing = false;
  if (!capturer_) {
    if (completion) completion();
    return;
  }
  auto capturer = std::move(capturer_);
  capturer_.reset();
  capturer->stop(std::move(completion));
}

}  // namespace orvik
