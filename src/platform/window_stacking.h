// The desktop's windows front to back, and what one of them shows of itself
// among them: reading a stacking order and the windows' frames into the
// questions the call windows ask (is it in front of that one, how much of
// it does that one cover, can any of it be seen).
//
//   const auto stack = placement.onScreenWindows();   // front to back
//   if (stack && isUncovered(*stack, callWindowNumber)) …
//
// THREAD-SAFETY: values and pure functions.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace orvik::platform {

// A rectangle on the screen in pixels, y downwards.
struct WindowFrame {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;

  bool isEmpty() const { return width <= 0 || height <= 0; }
  double area() const { return isEmpty() ? 0.0 : static_cast<double>(width) * height; }
  bool operator==(const WindowFrame&) const = default;
};

struct StackedWindow {
  std::uint64_t number = 0;
  WindowFrame frame;
  bool operator==(const StackedWindow&) const = default;
};

// The common part of two frames; empty when they do not meet.
WindowFrame intersection(const WindowFrame& a, const WindowFrame& b);
bool intersects(const WindowFrame& a, const WindowFrame& b);

// The window's place in a front-to-back list (0 is the front); none when
// it is not there.
std::optional<std::size_t> stackIndex(const std::vector<StackedWindow>& frontToBack, std::uint64_t number);

// Whether some part of the window can be seen: it is in the list, its frame
// is not empty, and the windows in front of it together leave a part of it
// uncovered. A window not in the list cannot be seen.
bool isUncovered(const std::vector<StackedWindow>& frontToBack, std::uint64_t number);

}  // namespace orvik::platform
