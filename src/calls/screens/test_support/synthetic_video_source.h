// A synthetic camera for tests and benchmarks: a WebRTC video source whose
// frames are eight colour bars (white, yellow, cyan, green, magenta, red,
// blue, black) in I420, moved sideways by a few pixels each frame, so a test
// can tell frames apart and check each bar's colour after a round trip.
// Stands in for the camera source until the real one (with its frame
// generator) is available to these tests.
//
// THREAD-SAFETY: `deliver` from any one thread at a time (the pump thread
// while it runs).
#pragma once

#include <api/video/i420_buffer.h>
#include <media/base/adapted_video_track_source.h>

#include <array>
#include <atomic>
#include <thread>

namespace orvik::testing {

struct Rgb {
  int r, g, b;
};

inline constexpr std::array<Rgb, 8> kColourBars = {{{255, 255, 255},
                                                     {255, 255, 0},
                                                     {0, 255, 255},
                                                     {0, 255, 0},
                                                     {255, 0, 255},
                                                     {255, 0, 0},
                                                     {0, 0, 255},
                                                     {0, 0, 0}}};

// The bar shown at column `x` of a `width`-wide frame moved by `shift`.
int colourBarAt(int x, int width, int shift);
// One frame of the pattern (BT.601, limited range: what WebRTC expects).
rtc::scoped_refptr<webrtc::I420Buffer> colourBarsFrame(int width, int height, int shift);
// How far the pattern moves per frame.
inline constexpr int kPatternStep = 8;

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
