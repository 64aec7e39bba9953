// The synthetic camera a test may ask for instead of the device. Only builds
// that read the service override (ORVIK_SERVICE_OVERRIDE, the development
// and test builds) look at ORVIK_TEST_CAMERA; release builds always use the
// attached camera.
//
//   ORVIK_TEST_CAMERA=bars   moving colour bars (calls/media/colour_bars.h)
//
// With one chosen, the camera counts as present and authorised, and every
// capture of it (the pre-call preview, the call's camera) gets the synthetic
// frames in place of opening a device.
//
// THREAD-SAFETY: any thread; the environment is read once.
#pragma once

namespace orvik::platform {

enum class TestCamera { none, colourBars };

// The camera the environment chose; `none` in release builds, without the
// variable, or with a value this build does not know (said on stderr once).
TestCamera testCamera();

}  // namespace orvik::platform
