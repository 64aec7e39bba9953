#include "calls/media/colour_bars.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace orvik {
namespace {

struct Yuv {
  std::uint8_t y, u, v;
};

Yuv toYuv(BarColour c) {
  const double r = c.r / 255.0, g = c.g / 255.0, b = c.b / 255.0;
  auto clamp = [](double v) { return static_cast<std::uint8_t>(std::lround(std::clamp(v, 0.0, 255.0))); };
  return {clamp(16 + 65.481 * r + 128.553 * g + 24.966 * b), clamp(128 - 37.797 * r - 74.203 * g + 112.0 * b),
          clamp(128 + 112.0 * r - 93.786 * g - 18.214 * b)};
}

}  // namespace

int colourBarAt(int x, int width, int shift) {
  const int moved = ((x + shift) % width + width) % width;
  return moved * 8 / width;
}

rtc::scoped_refptr<webrtc::I420Buffer> colourBarsFrame(int width, int height, int shift) {
  auto buffer = webrtc::I420Buffer::Create(width, height);
  std::array<Yuv, 8> bars;
  for (std::size_t i = 0; i < bars.size(); ++i) bars[i] = toYuv(kColourBars[i]);
  for (int row = 0; row < height; ++row) {
    std::uint8_t* y = buffer->MutableDataY() + row * buffer->StrideY();
    for (int x = 0; x < width; ++x) y[x] = bars[colourBarAt(x, width, shift)].y;
  }
  for (int row = 0; row < buffer->ChromaHeight(); ++row) {
    std::uint8_t* u = buffer->MutableDataU() + row * buffer->StrideU();
    std::uint8_t* v = buffer->MutableDataV() + row * buffer->StrideV();
    for (int x = 0; x < buffer->ChromaWidth(); ++x) {
      const Yuv& c = bars[colourBarAt(2 * x, width, shift)];
      u[x] = c.u;
      v[x] = c.v;
    }
  }
  return buffer;
}

}  // namespace orvik
