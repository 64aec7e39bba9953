#include "calls/media/frame_generator_camera.h"

#include <algorithm>

#include <api/video/i420_buffer.h>
#include <api/video/video_frame.h>
#include <rtc_base/time_utils.h>

#include "calls/media/colour_bars.h"
#include "calls/media/local_video_source.h"
#include "platform/dispatch/serial_queue.h"

namespace orvik {
namespace {

// One queue paints for every generator; it lives as long as the process, so
// no generator's last reference can ever be dropped on it.
platform::SerialQueue& generatorQueue() {
  static auto* queue = new platform::SerialQueue("orvik.call.framegen");
  return *queue;
}

// Diagonal bands that move one step a frame over a coloured background: never
// black, and every frame differs from the one before.
rtc::scoped_refptr<webrtc::I420Buffer> paint(int width, int height, std::uint64_t frame) {
  auto buffer = webrtc::I420Buffer::Create(width, height);
  const int shift = static_cast<int>(frame % 64) * 4;
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = buffer->MutableDataY() + y * buffer->StrideY();
    for (int x = 0; x < width; ++x) row[x] = static_cast<std::uint8_t>(64 + ((x + y + shift) & 0x7f));
  }
  const int chromaHeight = (height + 1) / 2;
  const int chromaWidth = (width + 1) / 2;
  for (int y = 0; y < chromaHeight; ++y) {
    std::fill_n(buffer->MutableDataU() + y * buffer->StrideU(), chromaWidth, std::uint8_t{90});
    std::fill_n(buffer->MutableDataV() + y * buffer->StrideV(), chromaWidth, std::uint8_t{160});
  }
  return buffer;
}

}  // namespace

struct FrameGenerator::Loop {
  std::mutex mutex;
  std::vector<VideoSourceHandle> targets;
  std::uint64_t run = 0;
  bool running = false;
};

FrameGenerator::FrameGenerator(int width, int height, int framesPerSecond, FramePattern pattern)
    : width_(std::max(2, width)), height_(std::max(2, height)), fps_(std::clamp(framesPerSecond, 1, 120)),
      pattern_(pattern), loop_(std::make_shared<Loop>()) {}

FrameGenerator::~FrameGenerator() { stop(); }

void FrameGenerator::addTarget(VideoSourceHandle target) {
  if (!target) return;
  std::lock_guard lock(loop_->mutex);
  loop_->targets.push_back(std::move(target));
}

void FrameGenerator::setTarget(VideoSourceHandle target) {
  std::lock_guard lock(loop_->mutex);
  loop_->targets.clear();
  if (target) loop_->targets.push_back(std::move(target));
}

void FrameGenerator::start() {
  std::uint64_t run = 0;
  {
    std::lock_guard lock(loop_->mutex);
    if (loop_->running) return;
    loop_->running = true;
    run = ++loop_->run;
  }
  running_->store(true);
  struct Tick {
    std::weak_ptr<Loop> loop;
    std::shared_ptr<std::atomic<std::uint64_t>> frames;
    std::uint64_t run;
    int width, height, fps;
    FramePattern pattern;
    void operator()() const {
      auto state = loop.lock();
      if (!state) return;
      {
        std::lock_guard lock(state->mutex);
        if (!state->running || state->run != run) return;
        const std::uint64_t frame = frames->load();
        const auto video = webrtc::VideoFrame::Builder()
                               .set_video_frame_buffer(
                                   pattern == FramePattern::colourBars
                                       ? colourBarsFrame(width, height, static_cast<int>(frame % width) * kColourBarsStep)
                                       : paint(width, height, frame))
                               .set_timestamp_us(rtc::TimeMicros())
                               .set_rotation(webrtc::kVideoRotation_0)
                               .build();
        for (const auto& target : state->targets) {
          if (auto* source = localVideoSource(target)) source->deliverFrame(video);
        }
        frames->fetch_add(1);
      }
      generatorQueue().postAfter(1.0 / fps, *this);
    }
  };
  generatorQueue().post(Tick{loop_, frames_, run, width_, height_, fps_, pattern_});
}

void FrameGenerator::stop() {
  // Taking the lock waits for a frame being delivered right now.
  std::lock_guard lock(loop_->mutex);
  loop_->running = false;
  running_->store(false);
}

class FrameGeneratorCapturer final : public CameraCapturer {
 public:
  explicit FrameGeneratorCapturer(FrameGeneratorCamera& owner)
      : owner_(owner), session_(std::make_shared<CameraSessionRef>(CameraSessionRef{makeLocalVideoSource()})) {}
  ~FrameGeneratorCapturer() override {
    if (generator_) generator_->stop();
  }

  void setTarget(VideoSourceHandle target) override {
    std::lock_guard lock(mutex_);
    target_ = std::move(target);
    if (generator_) {
      generator_->setTarget(session_->preview);
      generator_->addTarget(target_);
    }
  }

  void start(const CameraDevice&, const CameraFormat& format, int framesPerSecond,
             StartCompletion completion) override {
    ++owner_.starts_;
    std::string failure;
    {
      std::lock_guard lock(owner_.mutex_);
      owner_.lastFormat_ = format;
      failure = std::exchange(owner_.failNext_, {});
    }
    owner_.lastFps_ = framesPerSecond;
    if (!failure.empty()) {
      if (completion) completion(failure);
      return;
    }
    {
      std::lock_guard lock(mutex_);
      generator_ = std::make_unique<FrameGenerator>(format.width, format.height, framesPerSecond, owner_.pattern_);
      generator_->setTarget(session_->preview);
      generator_->addTarget(target_);
      generator_->start();
    }
    if (completion) completion(std::nullopt);
  }

  void stop(std::function<void()> completion) override {
    {
      std::lock_guard lock(mutex_);
      if (generator_) generator_->stop();
    }
    if (completion) completion();
  }

  CameraSessionHandle session() override { return session_; }

 private:
  FrameGeneratorCamera& owner_;
  std::mutex mutex_;
  VideoSourceHandle target_;
  std::unique_ptr<FrameGenerator> generator_;
  CameraSessionHandle session_;
};

FrameGeneratorCamera::FrameGeneratorCamera(FramePattern pattern) : pattern_(pattern) {
  const std::vector<CameraFrameRateRange> upTo30{{1, 30}};
  devices_.push_back(CameraDevice{"frame-generator-0", "Frame generator", CameraPosition::unspecified,
                                  {{640, 480, upTo30}, {1280, 720, upTo30}, {1920, 1080, upTo30}}});
}

std::vector<CameraDevice> FrameGeneratorCamera::captureDevices() { return devices_; }

std::shared_ptr<CameraCapturer> FrameGeneratorCamera::makeCapturer() {
  return std::make_shared<FrameGeneratorCapturer>(*this);
}

void FrameGeneratorCamera::failNextStart(std::string error) {
  std::lock_guard lock(mutex_);
  failNext_ = std::move(error);
}

CameraFormat FrameGeneratorCamera::lastFormat() const {
  std::lock_guard lock(mutex_);
  return lastFormat_;
}

}  // namespace orvik
