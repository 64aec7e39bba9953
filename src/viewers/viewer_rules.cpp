#include "viewers/viewer_rules.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <limits>
#include <set>

namespace orvik::viewers {
namespace {

std::string lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  return out;
}

bool startsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

// Base name and extension as a file name is split for saving: the extension
// follows the last dot that is neither first nor last.
std::pair<std::string, std::string> splitName(std::string_view name) {
  const auto dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0 || dot + 1 == name.size()) return {std::string(name), ""};
  return {std::string(name.substr(0, dot)), std::string(name.substr(dot + 1))};
}

std::string suggestedName(std::string_view fileName, std::string_view kindPrefix, std::string_view product,
                          std::string_view defaultExtension) {
  const std::string_view name = fileName.substr(fileName.rfind('/') == std::string_view::npos
                                                    ? 0
                                                    : fileName.rfind('/') + 1);
  auto [base, extension] = splitName(name);
  if (extension.empty()) extension = defaultExtension;
  if (startsWith(base, kindPrefix)) base.erase(0, kindPrefix.size());
  if (startsWith(base, "thumb_")) base.erase(0, 6);
  if (startsWith(lower(base), "orvik-")) return std::string(name);
  return std::string(product) + base + "." + extension;
}

}  // namespace

Rect placeViewerWindow(Size size, Rect screen, const std::optional<MainWindowPlace>& main) {
  double centreX = screen.x + screen.width / 2;
  double centreY = screen.y + screen.height / 2;
  if (main) {
    centreX = main->frame.x + main->frame.width / 2;
    centreY = main->frame.y + main->frame.height / 2;
    if (main->screen) screen = *main->screen;
  }
  double x = std::max(centreX - size.width / 2, screen.x);
  x = std::min(x, screen.maxX() - size.width);
  double y = std::max(centreY - size.height / 2, screen.y);
  y = std::min(y, screen.maxY() - size.height);
  return {x, y, size.width, size.height};
}

Size imageViewerSize(std::size_t imageCount, Rect screen) {
  if (imageCount >= 2) return {std::min(0.78 * screen.width, 1120.0), std::min(0.82 * screen.height, 760.0)};
  return singleViewerSize(screen);
}

Size singleViewerSize(Rect screen) { return {std::min(0.8 * screen.width, 960.0), std::min(0.8 * screen.height, 600.0)}; }

double thumbStripWidth(std::size_t count) {
  return double(count) * kThumbSide + 32 + double(std::max<std::size_t>(count, 1) - 1) * 8;
}

double thumbX(std::size_t index) { return double(index) * 80 + 16; }

bool canGoPrevious(std::size_t index) { return index >= 1; }
bool canGoNext(std::size_t index, std::size_t count) { return index + 1 < count; }

std::string suggestedImageName(std::string_view fileName) {
  return suggestedName(fileName, "image_", "orvik-image-", "jpg");
}

std::string suggestedVideoName(std::string_view fileName) {
  return suggestedName(fileName, "video_", "orvik-video-", "mp4");
}

double clampMagnification(double magnification) {
  return std::clamp(magnification, kMinMagnification, kMaxMagnification);
}

std::optional<double> pixelScale(double maxPixelsWide, double imageWidth, double scaleFactor) {
  if (imageWidth <= 0 || maxPixelsWide < 1) return std::nullopt;
  return maxPixelsWide / ((scaleFactor > 0 ? scaleFactor : 2.0) * imageWidth);
}

double fitScale(Size image, Size view, std::optional<double> pixel) {
  if (image.width <= 0 || image.height <= 0) return 1.0;
  const double width = std::max(view.width - kFitMargin, 1.0);
  const double height = std::max(view.height - kFitMargin, 1.0);
  double scale = std::min(width / image.width, height / image.height);
  if (pixel) scale = std::min(scale, *pixel);
  return clampMagnification(scale);
}

ViewerKey viewerKeyFor(std::string_view key) {
  if (key == "Right") return ViewerKey::next;
  if (key == "Left") return ViewerKey::previous;
  if (key == "plus" || key == "equal" || key == "KP_Add") return ViewerKey::zoomIn;
  if (key == "minus" || key == "underscore" || key == "KP_Subtract") return ViewerKey::zoomOut;
  if (key == "0" || key == "KP_0") return ViewerKey::fit;
  return ViewerKey::none;
}

double wheelZoomFactor(double deltaY, bool precise) { return 1 + (precise ? 0.01 : 0.1) * deltaY; }

std::string formatTime(double seconds) {
  if (!std::isfinite(seconds) || seconds < 0) return "0:00";
  const long long n = std::llround(seconds);
  char text[32];
  if (n < 3600) {
    std::snprintf(text, sizeof text, "%lld:%02lld", n / 60, n % 60);
  } else {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", n / 3600, (n % 3600) / 60, n % 60);
  }
  return text;
}

double skipTarget(double current, double delta, double duration) {
  double target = current + delta;
  target = std::min(target, duration > 0 ? duration : std::numeric_limits<double>::max());
  return std::max(target, 0.0);
}

std::string_view volumeIconName(float volume) {
  if (volume == 0.0f) return "speaker.slash.fill";
  if (volume < 0.34f) return "speaker.fill";
  if (volume < 0.67f) return "speaker.wave.1.fill";
  return "speaker.wave.2.fill";
}

float restoredVolume(float lastVolume) { return lastVolume > 0 ? lastVolume : 1.0f; }

Rect imagePiPFrame(Size image, Rect screen) {
  double ratio = image.height > 0 ? image.width / image.height : 1.6;
  ratio = std::max(ratio, 0.2);
  double height = std::min(0.6 * screen.height, 540.0);
  double width = ratio * height;
  if (height >= 420 / ratio) {
    width = 420;
    height = 420 / ratio;
  }
  return {screen.maxX() - width - kPiPMargin, screen.maxY() - height - kPiPMargin, width, height};
}

Rect videoPiPFrame(Rect screen) {
  return {screen.maxX() - kVideoPiPSize.width - kPiPMargin, screen.maxY() - kVideoPiPSize.height - kPiPMargin,
          kVideoPiPSize.width, kVideoPiPSize.height};
}

DocumentMode documentModeFor(std::string_view fileName) {
  const auto [base, extension] = splitName(fileName.substr(
      fileName.rfind('/') == std::string_view::npos ? 0 : fileName.rfind('/') + 1));
  const std::string ext = lower(extension);
  if (ext == "pdf") return DocumentMode::pdf;
  if (ext == "txt") return DocumentMode::text;
  // Formats with no reader here open in the user's application.
  static const std::set<std::string, std::less<>> external = {"doc", "docx", "rtf", "rtfd"};
  if (external.contains(ext)) return DocumentMode::external;
  return DocumentMode::preview;
}

double textScaleStep(double scale, int direction) {
  const double next = direction > 0 ? std::min(scale + 0.1, 3.0) : std::max(scale - 0.1, 0.5);
  // Tenths stay tenths however often they are stepped.
  return std::round(next * 10) / 10;
}

}  // namespace orvik::viewers
