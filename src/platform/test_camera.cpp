#include "platform/test_camera.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace orvik::platform {

TestCamera testCamera() {
#ifdef ORVIK_SERVICE_OVERRIDE
  static const TestCamera chosen = [] {
    const char* value = std::getenv("ORVIK_TEST_CAMERA");
    if (!value || !*value) return TestCamera::none;
    if (std::string_view(value) == "bars") return TestCamera::colourBars;
    std::fprintf(stderr, "ORVIK_TEST_CAMERA: unknown camera \"%s\"; using the attached one\n", value);
    return TestCamera::none;
  }();
  return chosen;
#else
  return TestCamera::none;
#endif
}

}  // namespace orvik::platform
