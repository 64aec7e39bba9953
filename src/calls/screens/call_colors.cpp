#include "calls/screens/call_colors.h"

#include <algorithm>
#include <charconv>

namespace orvik {

// Written with to_chars: the program runs under the user's locale, whose
// decimal comma CSS would not read.
std::string cssColor(const Rgba& colour) {
  auto channel = [](double v) { return std::to_string(static_cast<int>(std::clamp(v, 0.0, 1.0) * 255.0 + 0.5)); };
  char alpha[32];
  const auto end = std::to_chars(alpha, alpha + sizeof alpha, std::clamp(colour.a, 0.0, 1.0),
                                 std::chars_format::fixed, 3).ptr;
  return "rgba(" + channel(colour.r) + "," + channel(colour.g) + "," + channel(colour.b) + "," +
         std::string(alpha, end) + ")";
}

}  // namespace orvik
