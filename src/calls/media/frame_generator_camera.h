// Synthetic video: a FrameGenerator paints moving, non-black I420 frames at
// a fixed size and rate into a video source of ours, on its own serial
// queue. FrameGeneratorCamera is a CameraSource backend made of them: a
// camera for machines without one, and for tests (two peers in one process,
// the call windows' renderers, the test builds' camera: test_camera.h).
//
//   auto source = makeLocalVideoSource();
//   FrameGenerator generator(640, 360, 15);
//   generator.setTarget(source);
//   generator.start();               // frames flow until stop()
//
// THREAD-SAFETY: every method may be called from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "calls/media/camera_source.h"

namespace orvik {

// What the frames show: diagonal bands of grey on a tinted background, or
// the colour bars of colour_bars.h, whose colours survive a round trip.
enum class FramePattern { bands, colourBars };

class FrameGenerator {
 public:
  FrameGenerator(int width, int height, int framesPerSecond, FramePattern pattern = FramePattern::bands);
  ~FrameGenerator();
  FrameGenerator(const FrameGenerator&) = delete;
  FrameGenerator& operator=(const FrameGenerator&) = delete;

  // Where frames go; several targets may take them (a call's source and a
  // preview). An empty handle is ignored.
  void addTarget(VideoSourceHandle target);
  void setTarget(VideoSourceHandle target);  // replaces every target
  void start();
  // Returns once no frame is being delivered any more.
  void stop();
  bool isRunning() const { return running_->load(); }
  std::uint64_t framesDelivered() const { return *frames_; }
  int width() const { return width_; }
  int height() const { return height_; }
  int framesPerSecond() const { return fps_; }

 private:
  struct Loop;
  const int width_, height_, fps_;
  const FramePattern pattern_;
  std::shared_ptr<std::atomic<bool>> running_ = std::make_shared<std::atomic<bool>>(false);
  std::shared_ptr<std::atomic<std::uint64_t>> frames_ = std::make_shared<std::atomic<std::uint64_t>>(0);
  std::shared_ptr<Loop> loop_;
};

// A camera backend that generates its frames. Its devices are configurable;
// the default is one camera with the formats 640×480, 1280×720 and
// 1920×1080 at up to 30 fps.
class FrameGeneratorCamera final : public CameraSource {
 public:
  explicit FrameGeneratorCamera(FramePattern pattern = FramePattern::bands);
  explicit FrameGeneratorCamera(std::vector<CameraDevice> devices) : devices_(std::move(devices)) {}

  std::vector<CameraDevice> captureDevices() override;
  std::shared_ptr<CameraCapturer> makeCapturer() override;

  // Tests: the next start fails with this text (once).
  void failNextStart(std::string error);
  // Starts and the format and rate of the last one.
  int startsRequested() const { return starts_; }
  CameraFormat lastFormat() const;
  int lastFramesPerSecond() const { return lastFps_; }

 private:
  friend class FrameGeneratorCapturer;
  std::vector<CameraDevice> devices_;
  FramePattern pattern_ = FramePattern::bands;
  mutable std::mutex mutex_;
  std::string failNext_;
  std::atomic<int> starts_{0};
  CameraFormat lastFormat_;
  std::atomic<int> lastFps_{0};
};

}  // namespace orvik
