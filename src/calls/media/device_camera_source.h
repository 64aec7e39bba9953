// The camera backend the program captures from: V4L2 (v4l2_camera_source.h),
// or in test builds the synthetic camera the environment chose
// (platform/test_camera.h). The choice is made here, below every capture
// path (the pre-call preview, the ringing call's preview, the call's own
// camera), so those paths run unchanged over synthetic frames.
//
// THREAD-SAFETY: any thread.
#pragma once

#include <memory>

#include "calls/media/camera_source.h"

namespace orvik {

std::unique_ptr<CameraSource> makeDeviceCameraSource();

}  // namespace orvik
