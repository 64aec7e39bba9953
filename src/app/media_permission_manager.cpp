#include "app/media_permission_manager.h"

#include "platform/capture_authorization.h"
#include "platform/dispatch/task_queue.h"
#include "platform/message_routes.h"
#include "platform/queue_checker.h"
#include "platform/user_defaults.h"

namespace orvik {

using platform::CaptureAuthorizationStatus;
using platform::CaptureDevice;

MediaPermissionManager::MediaPermissionManager(Collaborators collaborators)
    : collaborators_(std::move(collaborators)) {}

void MediaPermissionManager::publishRoutes(platform::MessageRoutes& routes) {
  ORVIK_ASSERT_ON_QUEUE(collaborators_.queue);
  [[maybe_unused]] const bool known = routes.route("requestMediaPermission", [this](const nlohmann::json& body) {
    bool isVideo = false;
    if (body.is_object()) {
      const auto flag = body.find("isVideo");
      if (flag != body.end() && flag->is_boolean()) isVideo = flag->get<bool>();
    }
    requestMediaPermission(isVideo);
  });
}

void MediaPermissionManager::requestMediaPermission(bool isVideo) {
  ORVIK_ASSERT_ON_QUEUE(collaborators_.queue);
  if (collaborators_.page.expired()) return;
  // A video call needs the camera as well; an audio call must never be made
  // to depend on one.
  if (isVideo) {
    runCameraAndMicrophoneFlow();
  } else {
    runMicrophoneOnlyFlow();
  }
}

bool MediaPermissionManager::needsFreshPermission() const {
  return collaborators_.defaults.boolValue(kNeedsFreshPermissionKey);
}

MediaPermissionManager::Answer MediaPermissionManager::onQueue(std::function<void(MediaPermissionManager&, bool)> step) {
  return [queue = &collaborators_.queue, weak = lifetime_.weak(this), step = std::move(step)](bool granted) {
    queue->post([weak, step, granted] {
      if (auto* self = weak.get()) step(*self, granted);
    });
  };
}

void MediaPermissionManager::runMicrophoneOnlyFlow() {
  if (!needsFreshPermission() &&
      collaborators_.authorization.status(CaptureDevice::microphone) == CaptureAuthorizationStatus::authorized) {
    deliverMediaPermissionResult(true);
    return;
  }
  requestMicrophone([this](bool granted) { deliverMediaPermissionResult(granted); });
}

void MediaPermissionManager::runCameraAndMicrophoneFlow() {
  auto& authorization = collaborators_.authorization;
  if (needsFreshPermission() || authorization.status(CaptureDevice::camera) != CaptureAuthorizationStatus::authorized) {
    requestCamera();
    return;
  }
  if (authorization.status(CaptureDevice::microphone) == CaptureAuthorizationStatus::authorized) {
    deliverMediaPermissionResult(true);
    return;
  }
  requestMicrophone([this](bool granted) { deliverMediaPermissionResult(granted); });
}

void MediaPermissionManager::requestCamera() {
  switch (collaborators_.authorization.status(CaptureDevice::camera)) {
    case CaptureAuthorizationStatus::restricted:
    case CaptureAuthorizationStatus::denied:
      collaborators_.queue.post([weak = lifetime_.weak(this)] {
        if (auto* self = weak.get()) self->collaborators_.alerts.showCameraAccessAlert();
      });
      deliverMediaPermissionResult(false);
      return;
    case CaptureAuthorizationStatus::notDetermined:
      collaborators_.authorization.request(CaptureDevice::camera, onQueue([](MediaPermissionManager& self, bool allowed) {
                                             if (!allowed) {
                                               self.deliverMediaPermissionResult(false);
                                               return;
                                             }
                                             self.collaborators_.defaults.setBool(kNeedsFreshPermissionKey, false);
                                             self.requestMicrophone([&self](bool granted) {
                                               self.deliverMediaPermissionResult(granted);
                                             });
                                           }));
      return;
    case CaptureAuthorizationStatus::authorized:
      requestMicrophone([this](bool granted) { deliverMediaPermissionResult(granted); });
      return;
  }
  deliverMediaPermissionResult(false);
}

void MediaPermissionManager::requestMicrophone(Answer then) {
  switch (collaborators_.authorization.status(CaptureDevice::microphone)) {
    case CaptureAuthorizationStatus::restricted:
    case CaptureAuthorizationStatus::denied:
      collaborators_.queue.post([weak = lifetime_.weak(this)] {
        if (auto* self = weak.get()) self->collaborators_.alerts.showMicrophoneAccessAlert();
      });
      then(false);
      return;
    case CaptureAuthorizationStatus::notDetermined:
      collaborators_.authorization.request(
          CaptureDevice::microphone,
          onQueue([then = std::move(then)](MediaPermissionManager& self, bool allowed) {
            if (allowed) self.collaborators_.defaults.setBool(kNeedsFreshPermissionKey, false);
            then(allowed);
          }));
      return;
    case CaptureAuthorizationStatus::authorized:
      then(true);
      return;
  }
  then(false);
}

void MediaPermissionManager::deliverMediaPermissionResult(bool granted) {
  platform::callPage(collaborators_.page, platform::pageFunctionCall("onMediaPermissionResult", {granted}));
}

}  // namespace orvik
