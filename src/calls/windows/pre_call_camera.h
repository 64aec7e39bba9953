// The pre-call window's camera in the program: the first camera of a
// CameraSource (V4L2), at its capture format nearest 640×480 (a medium
// picture: it is only a preview), running for the preview alone until the
// window stops it. The call's own capture starts the camera again when the
// call connects.
//
//   SourcePreCallCamera camera(v4l2Cameras, platform::mainQueue());
//   camera.start([](CameraSessionHandle session) { ... });   // on the main queue, once
//
// Owner: the composition root; it outlives the pre-call window's controller.
// THREAD-SAFETY: main queue only; the source starts and stops its camera on
// its own queue, so the main queue never waits for a driver.
#pragma once

#include <map>
#include <memory>
#include <vector>

#include "calls/media/camera_source.h"
#include "calls/windows/native_pre_call_window.h"

namespace orvik {

namespace platform {
class TaskQueue;
}

// The format nearest 640×480 by |w − 640| + |h − 480|; the first among
// equals. Nothing without formats.
std::optional<CameraFormat> previewFormat(const std::vector<CameraFormat>& formats);

class SourcePreCallCamera final : public PreCallCamera {
 public:
  SourcePreCallCamera(CameraSource& cameras, platform::TaskQueue& main);
  ~SourcePreCallCamera() override;
  SourcePreCallCamera(const SourcePreCallCamera&) = delete;
  SourcePreCallCamera& operator=(const SourcePreCallCamera&) = delete;

  void start(std::function<void(CameraSessionHandle session)> done) override;
  void stop(CameraSessionHandle session) override;

  // Sessions started and not stopped yet.
  std::size_t runningCount() const { return running_->size(); }

 private:
  using Running = std::map<const CameraSessionRef*, std::shared_ptr<CameraCapturer>>;
  CameraSource& cameras_;
  platform::TaskQueue& main_;
  // Held weakly by starts on their way, which stop their camera at once
  // when it is gone.
  std::shared_ptr<Running> running_ = std::make_shared<Running>();
};

}  // namespace orvik
