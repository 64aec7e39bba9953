// Runs GLib's default main context (the program's main queue, GTK, WebKit and
// libsoup) for integration tests: the one main-loop pump of the tests.
// `timeoutSeconds` is a safety net against a hung test, never a measure of
// speed.
//
//   ASSERT_TRUE(runMainLoopUntil([&] { return answered; }));
//   drainMainLoop();   // let what is ready now (redraws, idle tasks) run
#pragma once

#include <functional>

namespace orvik::testing {

// True when `done` became true; false when the time ran out first.
bool runMainLoopUntil(const std::function<bool()>& done, double timeoutSeconds = 30.0);

// Runs everything that is ready now, without waiting for more.
void drainMainLoop();

}  // namespace orvik::testing
