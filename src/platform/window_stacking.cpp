#include "platform/window_stacking.h"

#include <algorithm>

namespace orvik::platform {

WindowFrame intersection(const WindowFrame& a, const WindowFrame& b) {
  if (a.isEmpty() || b.isEmpty()) return {};
  const int left = std::max(a.x, b.x);
  const int top = std::max(a.y, b.y);
  const int right = std::min(a.x + a.width, b.x + b.width);
  const int bottom = std::min(a.y + a.height, b.y + b.height);
  if (right <= left || bottom <= top) return {};
  return {left, top, right - left, bottom - top};
}

bool intersects(const WindowFrame& a, const WindowFrame& b) { return !intersection(a, b).isEmpty(); }

std::optional<std::size_t> stackIndex(const std::vector<StackedWindow>& frontToBack, std::uint64_t number) {
  for (std::size_t i = 0; i < frontToBack.size(); ++i) {
    if (frontToBack[i].number == number) return i;
  }
  return std::nullopt;
}

namespace {

// What is left of `part` outside `cover`: at most four rectangles.
void subtract(const WindowFrame& part, const WindowFrame& cover, std::vector<WindowFrame>& out) {
  const WindowFrame common = intersection(part, cover);
  if (common.isEmpty()) {
    out.push_back(part);
    return;
  }
  const int right = part.x + part.width;
  const int bottom = part.y + part.height;
  const int commonRight = common.x + common.width;
  const int commonBottom = common.y + common.height;
  // Above and below the common part across the whole width, then left and
  // right of it in its own band.
  if (common.y > part.y) out.push_back({part.x, part.y, part.width, common.y - part.y});
  if (commonBottom < bottom) out.push_back({part.x, commonBottom, part.width, bottom - commonBottom});
  if (common.x > part.x) out.push_back({part.x, common.y, common.x - part.x, common.height});
  if (commonRight < right) out.push_back({commonRight, common.y, right - commonRight, common.height});
}

}  // namespace

bool isUncovered(const std::vector<StackedWindow>& frontToBack, std::uint64_t number) {
  const auto index = stackIndex(frontToBack, number);
  if (!index) return false;
  std::vector<WindowFrame> visible{frontToBack[*index].frame};
  if (visible.front().isEmpty()) return false;
  for (std::size_t i = 0; i < *index && !visible.empty(); ++i) {
    std::vector<WindowFrame> left;
    for (const WindowFrame& part : visible) subtract(part, frontToBack[i].frame, left);
    visible = std::move(left);
  }
  return !visible.empty();
}

}  // namespace orvik::platform
