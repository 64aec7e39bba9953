#include "app/app_activation.h"

#include <chrono>
#include <cmath>
#include <utility>

#include "core/native_logger.h"
#include "platform/user_defaults.h"

namespace orvik {

AppActivation::AppActivation(Collaborators collaborators) : c_(std::move(collaborators)) {}

void AppActivation::windowActivityChanged(bool anyActive) {
  active_ = anyActive;
  if (pendingReport_) pendingReport_->cancel();
  pendingReport_ = std::make_shared<platform::WorkItem>([this, alive = std::weak_ptr<bool>(alive_)] {
    if (alive.expired() || active_ == reported_) return;
    reported_ = active_;
    if (active_) {
      applicationDidBecomeActive();
    } else {
      applicationDidResignActive();
    }
  });
  c_.queue.postAfter(kActivityDebounceSeconds, pendingReport_);
}

double AppActivation::staleThresholdSeconds() const {
  const std::optional<double> stored = c_.defaults.optionalDouble(kStaleReloadSecondsKey);
  return stored && *stored > 0 ? *stored : kDefaultStaleReloadSeconds;
}

std::string AppActivation::elapsedText(double seconds) {
  if (seconds < 120) return std::to_string(static_cast<long long>(seconds)) + "s";
  return std::to_string(static_cast<long long>(seconds / 60)) + "m";
}

void AppActivation::applicationDidResignActive() {
  lostFocusAt_ = c_.clock.now();
  platform::callPage(c_.page(), platform::pageFunctionCall("__orvikAppActiveChanged", {false}));
  alreadyReloadedWhileUnfocused_ = false;
  if (staleReloadTask_) staleReloadTask_->cancel();
  staleReloadTask_ = std::make_shared<platform::WorkItem>([this, alive = std::weak_ptr<bool>(alive_)] {
    if (!alive.expired()) reloadIfStale("timer fired while unfocused");
  });
  c_.queue.postAfter(staleThresholdSeconds(), staleReloadTask_);
}

void AppActivation::applicationDidBecomeActive() {
  platform::callPage(c_.page(), platform::pageFunctionCall("__orvikAppActiveChanged", {true}));
  if (c_.clearBadge) c_.clearBadge();
  if (staleReloadTask_) staleReloadTask_->cancel();
  staleReloadTask_.reset();

  // A safety net for an activation that left no main window on screen; never
  // over a call, whose window is where the user is.
  if (!c_.isCallActive() && !c_.isMainWindowShown()) {
    nativeLog("[Reopen] became active with no visible main window — restoring (safety net)");
    c_.restoreMainWindow();
  }
  if (c_.checkNotificationBanner) c_.checkNotificationBanner();

  if (!lostFocusAt_) return;
  const double elapsed = std::chrono::duration<double>(c_.clock.now() - *lostFocusAt_).count();
  lostFocusAt_.reset();
  if (alreadyReloadedWhileUnfocused_) {
    alreadyReloadedWhileUnfocused_ = false;
    nativeLog("[StaleReload] already reloaded in the background — nothing to do");
    return;
  }
  const double threshold = staleThresholdSeconds();
  nativeLog("[StaleReload] regained focus after " + elapsedText(elapsed) + " (threshold " +
            std::to_string(static_cast<long long>(threshold)) + "s)");
  if (elapsed >= threshold) reloadIfStale("on refocus, background reload never ran");
}

void AppActivation::reloadIfStale(const std::string& reason) {
  if (c_.isCallActive()) {
    nativeLog("[StaleReload] " + reason + ", but a call is active — skipping reload");
    return;
  }
  if (c_.reloadPage()) {
    nativeLog("[StaleReload] " + reason + " — reloading the web app");
    alreadyReloadedWhileUnfocused_ = true;
    return;
  }
  nativeLog("[StaleReload] " + reason + ", but there is no web view to reload");
}

}  // namespace orvik
