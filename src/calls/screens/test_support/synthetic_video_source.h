// A synthetic camera for tests and benchmarks: a WebRTC video source whose
// frames are the moving colour bars of calls/media/colour_bars.h, delivered
// on a thread of its own or one at a time, with a rotation of the test's
// choosing.
//
// THREAD-SAFETY: `deliver` from any one thread at a time (the pump thread
// while it runs).
#pragma once

#include <media/base/adapted_video_track_source.h>

#include <atomic>
#include <thread>

#include "calls/media/colour_bars.h"

namespace orvik::testing {

// The colour-bar picture (calls/media/colour_bars.h) under the names the
// tests know it by.
using Rgb = BarColour;
using orvik::colourBarAt;
using orvik::colourBarsFrame;
using orvik::kColourBars;
inline constexpr int kPatternStep = kColourBarsStep;

class SyntheticVideoSource : public rtc::AdaptedVideoTrackSource {
 public:
  SyntheticVideoSource(int width, int height) : width_(width), height_(height) {}
  ~SyntheticVideoSource() override;

  bool is_screencast() const override { return false; }
  absl::optional<bool> needs_denoising() const override { return false; }
  SourceState state() const override { return kLive; }
  bool remote() const override { return false; }

  // Frame number `index` of the pattern, with `rotation`.
  void deliver(int index, webrtc::VideoRotation rotation = webrtc::kVideoRotation_0);
  // Delivers frames on a thread of its own at `fps` until stop().
  void start(int fps);
  void stop();
  int delivered() const { return delivered_.load(); }

 private:
  int width_;
  int height_;
  std::atomic<int> delivered_{0};
  std::atomic<bool> running_{false};
  std::thread pump_;
};

}  // namespace orvik::testing
