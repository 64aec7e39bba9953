#include "calls/media/device_camera_source.h"

#include "calls/media/frame_generator_camera.h"
#include "calls/media/v4l2_camera_source.h"
#include "platform/test_camera.h"

namespace orvik {

std::unique_ptr<CameraSource> makeDeviceCameraSource() {
  switch (platform::testCamera()) {
    case platform::TestCamera::colourBars: return std::make_unique<FrameGeneratorCamera>(FramePattern::colourBars);
    case platform::TestCamera::none: break;
  }
  return std::make_unique<V4L2CameraSource>();
}

}  // namespace orvik
