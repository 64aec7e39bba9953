#include "app/main_window_frame.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>

#include "core/native_logger.h"

namespace orvik {
namespace {

std::string number(double value) {
  if (std::isfinite(value) && value == std::trunc(value) && std::fabs(value) < 1e15) {
    return std::to_string(static_cast<long long>(value));
  }
  std::array<char, 32> buffer{};
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
  return std::string(buffer.data(), result.ptr);
}

const char* boolText(bool value) { return value ? "true" : "false"; }

FrameRect sizeRect(int width, int height) { return {0, 0, static_cast<double>(width), static_cast<double>(height)}; }

}  // namespace

std::string frameString(const FrameRect& rect) {
  return "{{" + number(rect.x) + ", " + number(rect.y) + "}, {" + number(rect.width) + ", " + number(rect.height) +
         "}}";
}

std::optional<FrameRect> parseFrameString(std::string_view text) {
  // Four numbers, with exactly the braces and commas of the form around them.
  std::string shape;
  std::array<double, 4> values{};
  std::size_t count = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c == ' ') {
      ++i;
      continue;
    }
    if (c == '{' || c == '}' || c == ',') {
      shape += c;
      ++i;
      continue;
    }
    if (count == values.size()) return std::nullopt;
    const char* begin = text.data() + i;
    const auto result = std::from_chars(begin, text.data() + text.size(), values[count]);
    if (result.ec != std::errc() || !std::isfinite(values[count])) return std::nullopt;
    shape += 'n';
    ++count;
    i += static_cast<std::size_t>(result.ptr - begin);
  }
  if (shape != "{{n,n},{n,n}}") return std::nullopt;
  return FrameRect{values[0], values[1], values[2], values[3]};
}

FrameRect clampFrameToWorkArea(const FrameRect& saved, const FrameRect& workArea) {
  FrameRect fitted;
  fitted.width = std::min(saved.width, workArea.width);
  fitted.height = std::min(saved.height, workArea.height);
  fitted.x = std::min(std::max(saved.x, workArea.x), workArea.x + workArea.width - fitted.width);
  fitted.y = std::min(std::max(saved.y, workArea.y), workArea.y + workArea.height - fitted.height);
  return fitted;
}

std::optional<FrameRect> MainWindowFrameStore::savedFrame(const std::optional<FrameRect>& workArea) const {
  const auto text = defaults_.string(kFrameKey);
  if (!text) return std::nullopt;
  const auto saved = parseFrameString(*text);
  if (!saved || !(saved->width > 0) || !(saved->height > 0)) return std::nullopt;
  if (!workArea || !(workArea->width > 0) || !(workArea->height > 0)) return saved;
  return clampFrameToWorkArea(*saved, *workArea);
}

LaunchFrame MainWindowFrameStore::launchFrame(const FrameRect& current,
                                              const std::optional<FrameRect>& workArea) const {
  const auto saved = savedFrame(workArea);
  LaunchFrame frame;
  frame.fullScreen = defaults_.boolValue(kWasFullScreenKey);
  frame.maximized = defaults_.boolValue(kWasMaximizedKey);
  nativeLog("[MainWindowFrame] launch — current=" + frameString(current) +
            " saved=" + (saved ? frameString(*saved) : std::string("none")) +
            " wasFullScreen=" + boolText(frame.fullScreen));
  if (saved) {
    frame.fromSavedFrame = true;
    frame.width = static_cast<int>(std::lround(saved->width));
    frame.height = static_cast<int>(std::lround(saved->height));
    nativeLog("[MainWindowFrame] restore — applied immediately, new=" + frameString(sizeRect(frame.width, frame.height)));
    if (frame.fullScreen) nativeLog("[MainWindowFrame] restore — re-entering full screen (quit while full screen)");
  } else {
    frame.width = kDefaultWidth;
    frame.height = kDefaultHeight;
    nativeLog("[MainWindowFrame] restore — no saved frame, default applied, new=" +
              frameString(sizeRect(frame.width, frame.height)));
  }
  return frame;
}

void MainWindowFrameStore::writeFrame(int width, int height) {
  if (width <= 0 || height <= 0) return;
  const std::string text = frameString(sizeRect(width, height));
  if (defaults_.string(kFrameKey) != text) defaults_.setString(kFrameKey, text);
}

void MainWindowFrameStore::recordSize(int width, int height, bool isFullScreen) {
  if (isFullScreen) return;
  writeFrame(width, height);
}

void MainWindowFrameStore::recordMaximized(bool maximized) {
  if (defaults_.optionalBool(kWasMaximizedKey) != maximized) defaults_.setBool(kWasMaximizedKey, maximized);
}

void MainWindowFrameStore::recordFullScreen(bool fullScreen, int windowedWidth, int windowedHeight) {
  if (fullScreen) {
    nativeLog("[MainWindowFrame] entered full screen");
    defaults_.setBool(kWasFullScreenKey, true);
    return;
  }
  nativeLog("[MainWindowFrame] exited full screen — windowed frame " +
            frameString(sizeRect(windowedWidth, windowedHeight)));
  defaults_.setBool(kWasFullScreenKey, false);
  writeFrame(windowedWidth, windowedHeight);
}

}  // namespace orvik
