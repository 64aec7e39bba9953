#include "calls/media/camera_format.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace orvik {

std::optional<CameraFormat> bestFormat(const std::vector<CameraFormat>& formats) {
  std::optional<CameraFormat> best;
  long bestDistance = 0;
  for (const auto& format : formats) {
    const long distance = std::labs(long{format.width} - kCameraTargetWidth) +
                          std::labs(long{format.height} - kCameraTargetHeight);
    if (!best || distance < bestDistance) {
      best = format;
      bestDistance = distance;
    }
  }
  return best;
}

int frameRate(const CameraFormat& format) {
  double highest = 0;
  for (const auto& range : format.frameRateRanges) highest = std::max(highest, range.maxFrameRate);
  if (format.frameRateRanges.empty()) highest = kCameraTargetFPS;
  // A range the driver reports as nonsense (NaN, negative) does not make a
  // rate; the camera then runs at the target.
  if (!std::isfinite(highest) || highest < 1) return kCameraTargetFPS;
  return std::min(static_cast<int>(std::min(highest, 1000.0)), kCameraTargetFPS);
}

std::optional<CameraDevice> chooseCamera(const std::vector<CameraDevice>& devices) {
  if (devices.empty()) return std::nullopt;
  for (const auto& device : devices) {
    if (device.position == CameraPosition::front) return device;
  }
  return devices.front();
}

}  // namespace orvik
