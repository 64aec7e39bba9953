// The camera's capture format and frame rate: pure choices, tested as
// tables.
#pragma once

#include <optional>
#include <vector>

#include "calls/media/camera_source.h"

namespace orvik {

inline constexpr int kCameraTargetWidth = 1280;
inline constexpr int kCameraTargetHeight = 720;
inline constexpr int kCameraTargetFPS = 30;
// A prewarmed camera runs slower until a call takes it over.
inline constexpr int kCameraPrewarmFPS = 15;

// The format nearest to 1280×720 by |w − 1280| + |h − 720|, in the listed
// order: a later format replaces the choice only when strictly nearer, so
// among equals the first wins. Nothing for a camera that lists no format.
std::optional<CameraFormat> bestFormat(const std::vector<CameraFormat>& formats);

// The highest maximum frame rate of the format's ranges (30 when it has
// none), cut to a whole number and capped at 30.
int frameRate(const CameraFormat& format);

// The camera to use: the first front-facing one, else the first; nothing
// without a camera.
std::optional<CameraDevice> chooseCamera(const std::vector<CameraDevice>& devices);

}  // namespace orvik
