// The colour-bar test picture: eight vertical bars (white, yellow, cyan,
// green, magenta, red, blue, black) in I420, moved sideways by a few pixels
// each frame, so that whoever receives the frames can tell them apart and
// check each bar's colour after a round trip. The synthetic camera of test
// builds paints it, and so do the tests' own video sources.
//
// THREAD-SAFETY: pure functions, any thread.
#pragma once

#include <api/video/i420_buffer.h>

#include <array>

namespace orvik {

struct BarColour {
  int r, g, b;
};

inline constexpr std::array<BarColour, 8> kColourBars = {{{255, 255, 255},
                                                          {255, 255, 0},
                                                          {0, 255, 255},
                                                          {0, 255, 0},
                                                          {255, 0, 255},
                                                          {255, 0, 0},
                                                          {0, 0, 255},
                                                          {0, 0, 0}}};

// How far the pattern moves per frame.
inline constexpr int kColourBarsStep = 8;

// The bar shown at column `x` of a `width`-wide frame moved by `shift`.
int colourBarAt(int x, int width, int shift);
// One frame of the pattern (BT.601, limited range: what WebRTC expects).
rtc::scoped_refptr<webrtc::I420Buffer> colourBarsFrame(int width, int height, int shift);

}  // namespace orvik
