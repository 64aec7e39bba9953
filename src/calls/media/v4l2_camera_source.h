// Cameras through WebRTC's V4L2 capture module: the /dev/video* devices with
// their capture formats, and capturers that feed the call's video source.
// Linux does not say where a camera faces, so the first device is used.
//
// THREAD-SAFETY: as CameraSource; the module is opened, started and stopped
// on the serial queue "orvik.call.camera", so the main queue never waits for
// a driver. Frames arrive on the module's capture thread.
#pragma once

#include "calls/media/camera_source.h"

namespace orvik {

class V4L2CameraSource final : public CameraSource {
 public:
  std::vector<CameraDevice> captureDevices() override;
  std::shared_ptr<CameraCapturer> makeCapturer() override;
};

}  // namespace orvik
