#include "calls/screens/test_support/synthetic_video_source.h"

#include <rtc_base/time_utils.h>

#include <chrono>

namespace orvik::testing {

SyntheticVideoSource::~SyntheticVideoSource() { stop(); }

void SyntheticVideoSource::deliver(int index, webrtc::VideoRotation rotation) {
  auto frame = webrtc::VideoFrame::Builder()
                   .set_video_frame_buffer(colourBarsFrame(width_, height_, index * kPatternStep))
                   .set_rotation(rotation)
                   .set_timestamp_us(rtc::TimeMicros())
                   .build();
  OnFrame(frame);
  ++delivered_;
}

void SyntheticVideoSource::start(int fps) {
  if (running_.exchange(true)) return;
  pump_ = std::thread([this, fps] {
    const auto period = std::chrono::microseconds(1'000'000 / fps);
    auto next = std::chrono::steady_clock::now();
    for (int index = 0; running_.load(); ++index) {
      deliver(index);
      next += period;
      std::this_thread::sleep_until(next);
    }
  });
}

void SyntheticVideoSource::stop() {
  running_ = false;
  if (pump_.joinable()) pump_.join();
}

}  // namespace orvik::testing
