// Colours of the call screens as sRGB components from 0 to 1 with an
// opacity, and the recurring ones. Presenters decide colours in these terms;
// widgets turn them into CSS (cssColor).
//
// THREAD-SAFETY: values.
#pragma once

#include <string>

namespace orvik {

struct Rgba {
  double r = 0, g = 0, b = 0, a = 1;

  static constexpr Rgba of255(int red, int green, int blue, double alpha = 1.0) {
    return {red / 255.0, green / 255.0, blue / 255.0, alpha};
  }
  constexpr Rgba withAlpha(double alpha) const { return {r, g, b, alpha}; }
  static constexpr Rgba white(double alpha = 1.0) { return {1, 1, 1, alpha}; }
  static constexpr Rgba black(double alpha = 1.0) { return {0, 0, 0, alpha}; }
  static constexpr Rgba grey(double level, double alpha = 1.0) { return {level, level, level, alpha}; }

  bool operator==(const Rgba&) const = default;
};

namespace callcolors {
inline constexpr Rgba ink = Rgba::of255(26, 9, 55);  // texts and icons in the light appearance
inline constexpr Rgba danger = Rgba::of255(229, 62, 62);
inline constexpr Rgba acceptGreen = Rgba::of255(34, 197, 94);
inline constexpr Rgba gold = Rgba::of255(201, 168, 76);
inline constexpr Rgba darkGlassTint = Rgba::of255(10, 5, 20, 0.42);
inline constexpr Rgba audioBackground = Rgba::of255(14, 6, 32);
inline constexpr Rgba accentPurple = Rgba::of255(155, 48, 255);
inline constexpr Rgba deepAccent = Rgba::of255(107, 33, 168);
inline constexpr Rgba limitBannerAccent = {0.78, 0.55, 1.0, 1.0};
}  // namespace callcolors

// "rgba(155,48,255,0.150)": the colour as GTK's CSS reads it.
std::string cssColor(const Rgba& colour);

}  // namespace orvik
