// A sink that counts the frames a remote video track delivers and keeps what
// the last one looked like. WebRTC types; media tests only.
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>

#include <api/media_stream_interface.h>
#include <api/video/video_frame.h>
#include <api/video/video_sink_interface.h>

namespace orvik::testing {

class FrameCounter final : public rtc::VideoSinkInterface<webrtc::VideoFrame> {
 public:
  void OnFrame(const webrtc::VideoFrame& frame) override {
    auto buffer = frame.video_frame_buffer()->ToI420();
    long sum = 0;
    const int samples = 64;
    for (int i = 0; i < samples; ++i) {
      const int x = (i * 37) % buffer->width();
      const int y = (i * 53) % buffer->height();
      sum += buffer->DataY()[y * buffer->StrideY() + x];
    }
    std::lock_guard lock(mutex_);
    if (count_ == 0) first_ = std::chrono::steady_clock::now();
    last_ = std::chrono::steady_clock::now();
    ++count_;
    width_ = frame.width();
    height_ = frame.height();
    meanLuma_ = static_cast<double>(sum) / samples;
  }
  int count() const {
    std::lock_guard lock(mutex_);
    return count_;
  }
  // Frames per second between the first and the last frame.
  double rate() const {
    std::lock_guard lock(mutex_);
    const double seconds = std::chrono::duration<double>(last_ - first_).count();
    return count_ > 1 && seconds > 0 ? (count_ - 1) / seconds : 0;
  }
  int width() const {
    std::lock_guard lock(mutex_);
    return width_;
  }
  int height() const {
    std::lock_guard lock(mutex_);
    return height_;
  }
  // Mean luma of a sample of the last frame's pixels (black is about 16).
  double meanLuma() const {
    std::lock_guard lock(mutex_);
    return meanLuma_;
  }

 private:
  mutable std::mutex mutex_;
  int count_ = 0;
  int width_ = 0, height_ = 0;
  double meanLuma_ = 0;
  std::chrono::steady_clock::time_point first_, last_;
};

}  // namespace orvik::testing
