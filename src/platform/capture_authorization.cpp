#include "platform/capture_authorization.h"

#include "platform/queue_checker.h"
#include "platform/test_camera.h"

#include <filesystem>
#include <memory>

namespace orvik::platform {

CaptureAuthorizationStatus DevicePresenceCaptureAuthorization::status(CaptureDevice device) const {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  if (device == CaptureDevice::microphone) return CaptureAuthorizationStatus::authorized;
  if (testCamera() != TestCamera::none) return CaptureAuthorizationStatus::authorized;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/dev", error)) {
    if (entry.path().filename().string().rfind("video", 0) == 0) return CaptureAuthorizationStatus::authorized;
  }
  return CaptureAuthorizationStatus::denied;
}

void DevicePresenceCaptureAuthorization::request(CaptureDevice device, std::function<void(bool)> done) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  done(status(device) == CaptureAuthorizationStatus::authorized);
}

namespace {

// The microphone's part of the decision, given its status read earlier.
void decideMicrophone(CaptureAuthorization& authorization, CaptureAuthorizationStatus microphone, bool cameraGranted,
                      std::function<void(bool)> done) {
  switch (microphone) {
    case CaptureAuthorizationStatus::notDetermined:
      authorization.request(CaptureDevice::microphone, [cameraGranted, done = std::move(done)](bool granted) {
        done(cameraGranted && granted);
      });
      return;
    case CaptureAuthorizationStatus::authorized:
      done(cameraGranted);
      return;
    default:
      done(false);
  }
}

}  // namespace

void whenAuthorized(CaptureAuthorization& authorization, CaptureDevice device, std::function<void()> granted,
                    std::function<void()> refused) {
  switch (authorization.status(device)) {
    case CaptureAuthorizationStatus::authorized:
      granted();
      return;
    case CaptureAuthorizationStatus::notDetermined:
      authorization.request(device, [granted = std::move(granted), refused = std::move(refused)](bool yes) {
        if (yes) {
          granted();
        } else {
          refused();
        }
      });
      return;
    case CaptureAuthorizationStatus::denied:
    case CaptureAuthorizationStatus::restricted:
      refused();
      return;
  }
}

void decideMediaCapture(CaptureAuthorization& authorization, bool involvesCamera, std::function<void(bool)> done) {
  const auto microphone = authorization.status(CaptureDevice::microphone);
  if (!involvesCamera) {
    decideMicrophone(authorization, microphone, true, std::move(done));
    return;
  }
  switch (authorization.status(CaptureDevice::camera)) {
    case CaptureAuthorizationStatus::notDetermined:
      authorization.request(CaptureDevice::camera,
                            [&authorization, microphone, done = std::move(done)](bool granted) mutable {
                              decideMicrophone(authorization, microphone, granted, std::move(done));
                            });
      return;
    case CaptureAuthorizationStatus::authorized:
      decideMicrophone(authorization, microphone, true, std::move(done));
      return;
    default:
      // Still asked, so that the microphone's answer is settled for later requests.
      decideMicrophone(authorization, microphone, false, std::move(done));
  }
}

void decideCallPageCapture(CaptureAuthorization& authorization, bool involvesCamera,
                           std::function<void(bool)> done) {
  if (involvesCamera) {
    const auto camera = authorization.status(CaptureDevice::camera);
    if (camera == CaptureAuthorizationStatus::denied || camera == CaptureAuthorizationStatus::restricted) {
      done(false);
      return;
    }
  }
  decideMediaCapture(authorization, involvesCamera, std::move(done));
}

}  // namespace orvik::platform
