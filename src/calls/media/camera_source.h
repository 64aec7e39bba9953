// The camera as the capture code sees it: the devices with their formats,
// and capturers that run one camera into a video source of ours. Backends:
// V4L2 through WebRTC's capture module (v4l2_camera_source.h) in the
// program, a frame generator (frame_generator_camera.h) where no camera is
// attached and in tests. No WebRTC type crosses this header.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "calls/media/peer_connection.h"

namespace orvik {

// A running camera's own frames, for the local preview: the preview attaches
// to `preview`, which receives every frame the capturer produces, whether
// or not a call's source takes them too.
struct CameraSessionRef {
  VideoSourceHandle preview;
};
using CameraSessionHandle = std::shared_ptr<CameraSessionRef>;

enum class CameraPosition { unspecified, front, back };

struct CameraFrameRateRange {
  double minFrameRate = 0;
  double maxFrameRate = 0;
  friend bool operator==(const CameraFrameRateRange&, const CameraFrameRateRange&) = default;
};

struct CameraFormat {
  int width = 0;
  int height = 0;
  std::vector<CameraFrameRateRange> frameRateRanges;
  friend bool operator==(const CameraFormat&, const CameraFormat&) = default;
};

struct CameraDevice {
  std::string uniqueId;
  std::string name;
  // V4L2 does not say where a camera faces: unspecified there.
  CameraPosition position = CameraPosition::unspecified;
  std::vector<CameraFormat> formats;
};

// One camera run. Frames go to the target ("delegate") and to the session's
// preview source, on the backend's capture thread.
//
// THREAD-SAFETY: call start, stop and setTarget from one queue (the main
// queue); they return at once and keep their order. Completions run on the
// backend's own thread, once each.
class CameraCapturer {
 public:
  using StartCompletion = std::function<void(const std::optional<std::string>& error)>;
  virtual ~CameraCapturer() = default;
  // Where frames go; none drops them (a prewarm without a call).
  virtual void setTarget(VideoSourceHandle target) = 0;
  virtual void start(const CameraDevice& device, const CameraFormat& format, int framesPerSecond,
                     StartCompletion completion) = 0;
  // Stops the camera (also one whose start is still pending); `completion`,
  // when given, runs after it stopped.
  virtual void stop(std::function<void()> completion) = 0;
  virtual CameraSessionHandle session() = 0;
};

class CameraSource {
 public:
  virtual ~CameraSource() = default;
  // The attached cameras, in the system's order.
  virtual std::vector<CameraDevice> captureDevices() = 0;
  // Capturers live as long as their last holder or pending work.
  virtual std::shared_ptr<CameraCapturer> makeCapturer() = 0;
};

}  // namespace orvik
