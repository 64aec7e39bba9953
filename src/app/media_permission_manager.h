// Answers the page's "requestMediaPermission": checks the capture
// authorisation of the camera and the microphone, asks where nobody has
// decided yet, points the user at the desktop's settings where access was
// refused, and calls the page's onMediaPermissionResult with one Boolean per
// request.
//
// A video call needs the camera and the microphone, an audio call the
// microphone alone. While "needsFreshMediaPermission" is set (the program's
// version changed), an earlier grant is not taken for granted: the request
// path is walked again, and an authorised device still answers yes.
//
//   MediaPermissionManager permissions({queue, authorization, defaults, alerts, page});
//   permissions.publishRoutes(dispatcher);
//
// Owner: the composition root. THREAD-SAFETY: main queue only; the
// authorisation's answers may come on any thread and are moved to the queue.
#pragma once

#include <memory>

#include <nlohmann/json.hpp>

#include "platform/lifetime_token.h"
#include "platform/page_call.h"

namespace orvik {
namespace platform {
class CaptureAuthorization;
class MessageRoutes;
class TaskQueue;
class UserDefaults;
}  // namespace platform

// The alerts shown where access was refused. They never block the caller and
// have no say in the answer, which is given before they show.
class MediaPermissionAlerts {
 public:
  virtual ~MediaPermissionAlerts() = default;
  virtual void showMicrophoneAccessAlert() = 0;
  virtual void showCameraAccessAlert() = 0;
};

class MediaPermissionManager {
 public:
  static constexpr const char* kNeedsFreshPermissionKey = "needsFreshMediaPermission";

  struct Collaborators {
    platform::TaskQueue& queue;
    platform::CaptureAuthorization& authorization;
    platform::UserDefaults& defaults;
    MediaPermissionAlerts& alerts;
    // The main web view's page; requests made while it is gone are ignored.
    std::weak_ptr<platform::PageScriptSink> page;
  };

  explicit MediaPermissionManager(Collaborators collaborators);
  MediaPermissionManager(const MediaPermissionManager&) = delete;
  MediaPermissionManager& operator=(const MediaPermissionManager&) = delete;

  // Routes "requestMediaPermission" ({isVideo: Bool}, false when missing).
  void publishRoutes(platform::MessageRoutes& routes);

  // Requests are neither queued nor merged: each one delivers its own answer.
  void requestMediaPermission(bool isVideo);

 private:
  using Answer = std::function<void(bool granted)>;
  void runMicrophoneOnlyFlow();
  void runCameraAndMicrophoneFlow();
  void requestCamera();
  void requestMicrophone(Answer then);
  void deliverMediaPermissionResult(bool granted);
  bool needsFreshPermission() const;
  // Moves an authorisation answer to the queue; dropped once this is gone.
  Answer onQueue(std::function<void(MediaPermissionManager&, bool)> step);

  Collaborators collaborators_;
  // Posted work finds the object gone. Last member.
  platform::LifetimeToken lifetime_;
};

}  // namespace orvik
