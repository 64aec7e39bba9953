// Runs GLib's default main context (the program's main queue and libsoup's
// context) until a condition holds, for integration tests against real
// servers. `timeoutSeconds` is a safety net against a hung test, never a
// measure of speed.
#pragma once

#include <functional>

namespace orvik::testing {

// True when `done` became true; false when the time ran out first.
bool runMainLoopUntil(const std::function<bool()>& done, double timeoutSeconds = 30.0);

}  // namespace orvik::testing
