// Camera and microphone authorisation for pages, and the decision the main
// web view hands WebKit: grant only when every device the request needs is
// authorised, never leave the user to a WebKit prompt.
//
// Linux has no per-application capture permission: the backend counts a
// device that is present as authorised. The interface keeps the decision
// testable and leaves room for a portal-based backend.
//
// THREAD-SAFETY: main queue only; `request` completions run on the main queue.
#pragma once

#include <functional>

namespace orvik::platform {

enum class CaptureDevice { camera, microphone };
enum class CaptureAuthorizationStatus { notDetermined, authorized, denied, restricted };

class CaptureAuthorization {
 public:
  virtual ~CaptureAuthorization() = default;
  virtual CaptureAuthorizationStatus status(CaptureDevice device) const = 0;
  // Asks the user (or the system) once; `done` gets the answer.
  virtual void request(CaptureDevice device, std::function<void(bool granted)> done) = 0;
};

// Present devices are authorised: a camera when /dev/video* exists or a
// test build runs its synthetic camera (test_camera.h), a microphone always
// (a missing one fails when capture starts).
class DevicePresenceCaptureAuthorization final : public CaptureAuthorization {
 public:
  CaptureAuthorizationStatus status(CaptureDevice device) const override;
  void request(CaptureDevice device, std::function<void(bool granted)> done) override;
};

// Runs `granted` when `device` is authorised, asking once when it was never
// decided, and `refused` otherwise: exactly one of them runs, at once or
// with the request's answer.
void whenAuthorized(CaptureAuthorization& authorization, CaptureDevice device, std::function<void()> granted,
                    std::function<void()> refused);

// Decides a page's capture request. `involvesCamera`: the request asks for the
// camera (with or without the microphone). The camera is asked for before the
// microphone; `done` is called exactly once.
void decideMediaCapture(CaptureAuthorization& authorization, bool involvesCamera,
                        std::function<void(bool grant)> done);

// Decides a call page's capture request (the web call window's own table):
// as decideMediaCapture, except that a camera request with the camera denied
// or restricted is refused at once, without asking for the microphone.
void decideCallPageCapture(CaptureAuthorization& authorization, bool involvesCamera,
                           std::function<void(bool grant)> done);

}  // namespace orvik::platform
