// Waiting in integration tests for what a real daemon or pipeline does.
#pragma once

#include <functional>

namespace orvik::testing {

// Polls `done` until it holds or `seconds` pass, calling `meanwhile` (for
// example a VirtualQueue's runUntilIdle) before each look. True when it held.
bool waitFor(const std::function<bool()>& done, const std::function<void()>& meanwhile = {}, double seconds = 10.0);

}  // namespace orvik::testing
