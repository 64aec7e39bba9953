#include "updater/update_check_policy.h"

#include <cmath>

namespace orvik {

bool isWithinLaterWindow(std::optional<double> laterDismissedAt, std::chrono::system_clock::time_point now) {
  if (!laterDismissedAt || !std::isfinite(*laterDismissedAt)) return false;
  const double nowSeconds = std::chrono::duration<double>(now.time_since_epoch()).count();
  return nowSeconds - *laterDismissedAt < kLaterSuppressDuration;
}

bool shouldShowUpdateDialog(const NewerBuildFacts& facts) {
  if (facts.pendingManualBuild) return true;
  return !(facts.silent && facts.withinLaterWindow && facts.userLoggedIn);
}

}  // namespace orvik
