// The decisions of an update check that found a newer build: whether the
// update card comes up, given the Later window and a pending manual update.
//
// THREAD-SAFETY: pure functions.
#pragma once

#include <chrono>
#include <optional>

namespace orvik {

// Length of the Later window: a day.
inline constexpr double kLaterSuppressDuration = 86400.0;
// User-defaults keys: the Later time (seconds since the Unix epoch) and the
// build of a manual update the installer hand-off left pending.
inline constexpr const char* kLaterDismissedKey = "updateLaterDismissedAt";
inline constexpr const char* kPendingManualUpdateBuildKey = "pendingManualUpdateBuildVersion";

// Whether the Later time (none: never pressed) is less than a day before
// `now`. A time in the future counts as open; a value that is not a finite
// number as closed.
bool isWithinLaterWindow(std::optional<double> laterDismissedAt, std::chrono::system_clock::time_point now);

struct NewerBuildFacts {
  bool silent = false;
  bool withinLaterWindow = false;
  bool userLoggedIn = false;
  bool pendingManualBuild = false;  // any value stored
};

// Whether a check that found a newer build raises the card: always when a
// manual update is pending or the user asked; a silent check stays quiet only
// inside the Later window while a user is signed in.
bool shouldShowUpdateDialog(const NewerBuildFacts& facts);

}  // namespace orvik
