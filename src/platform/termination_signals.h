// How the program ends on SIGTERM and SIGINT: the polite quit path runs on
// the main queue, and a deadline makes sure the process is gone a few
// seconds later whatever holds it up (a main loop kept busy elsewhere, an
// exit that waits for a thread stuck in a D-Bus call). A second signal ends
// it at once.
//
//   installTerminationSignals([this] { requestTermination(); });
//
// The handlers only do what a signal handler may: arm alarm(2) and wake a
// GLib source on the default main context, which posts `onSignal`.
// THREAD-SAFETY: call once, on the main thread, before the main loop runs.
#pragma once

#include <functional>

namespace orvik::platform {

inline constexpr unsigned kTerminationDeadlineSeconds = 5;

void installTerminationSignals(std::function<void()> onSignal,
                               unsigned deadlineSeconds = kTerminationDeadlineSeconds);

}  // namespace orvik::platform
