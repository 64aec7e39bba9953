#include "calls/windows/pre_call_camera.h"

#include <cstdlib>

#include "calls/media/camera_format.h"
#include "platform/dispatch/task_queue.h"

namespace orvik {

namespace {
constexpr int kPreviewWidth = 640;
constexpr int kPreviewHeight = 480;
}  // namespace

std::optional<CameraFormat> previewFormat(const std::vector<CameraFormat>& formats) {
  std::optional<CameraFormat> best;
  int bestDistance = 0;
  for (const CameraFormat& format : formats) {
    const int distance = std::abs(format.width - kPreviewWidth) + std::abs(format.height - kPreviewHeight);
    if (!best || distance < bestDistance) {
      best = format;
      bestDistance = distance;
    }
  }
  return best;
}

SourcePreCallCamera::SourcePreCallCamera(CameraSource& cameras, platform::TaskQueue& main)
    : cameras_(cameras), main_(main) {}

SourcePreCallCamera::~SourcePreCallCamera() {
  for (auto& [session, capturer] : *running_) capturer->stop({});
  running_->clear();
}

void SourcePreCallCamera::start(std::function<void(CameraSessionHandle session)> done) {
  const std::optional<CameraDevice> device = chooseCamera(cameras_.captureDevices());
  const std::optional<CameraFormat> format = device ? previewFormat(device->formats) : std::nullopt;
  if (!device || !format) {
    main_.post([done = std::move(done)] { done(nullptr); });
    return;
  }
  std::shared_ptr<CameraCapturer> capturer = cameras_.makeCapturer();
  // Frames go to the session's preview only.
  capturer->setTarget(nullptr);
  std::weak_ptr<Running> running = running_;
  platform::TaskQueue& main = main_;
  capturer->start(*device, *format, frameRate(*format),
                  [&main, running, capturer, done = std::move(done)](const std::optional<std::string>& error) {
                    main.post([running, capturer, done, failed = error.has_value()] {
                      auto table = running.lock();
                      if (failed || !table) {
                        capturer->stop({});
                        done(nullptr);
                        return;
                      }
                      CameraSessionHandle session = capturer->session();
                      (*table)[session.get()] = capturer;
                      done(session);
                    });
                  });
}

void SourcePreCallCamera::stop(CameraSessionHandle session) {
  if (!session) return;
  const auto found = running_->find(session.get());
  if (found == running_->end()) return;
  std::shared_ptr<CameraCapturer> capturer = std::move(found->second);
  running_->erase(found);
  capturer->stop({});
}

}  // namespace orvik
