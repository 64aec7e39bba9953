#include "updater/update_service.h"

#include <ctime>
#include <iostream>

#include "platform/dispatch/clock.h"
#include "platform/dispatch/task_queue.h"
#include "platform/user_defaults.h"
#include "updater/update_alerts.h"
#include "updater/update_check_policy.h"

namespace orvik {
namespace {

constexpr const char* kFeedAdvice =
    "No changes were made to your app. Switch to a trusted network (home WiFi or mobile data) before checking for "
    "updates again.";

std::string isoTime(platform::Clock::WallTime at) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(at);
  std::tm parts{};
  gmtime_r(&seconds, &parts);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return text;
}

}  // namespace

UpdateSecurityAlertText feedSecurityAlertText(UpdateTrustVerdict verdict, const std::string& host) {
  if (verdict == UpdateTrustVerdict::unknownHost) {
    return {kUpdateBlockedTitle,
            "Orvik detected that the update check was redirected to an unknown server (" + host +
                "). This may indicate a Man-in-the-Middle attack on your network.",
            kFeedAdvice};
  }
  return {kUpdateBlockedTitle,
          "Orvik could not verify the identity of the update server (" + host +
              "). Its security certificate did not match the one Orvik expects. This may indicate a "
              "Man-in-the-Middle attack on your network.",
          kFeedAdvice};
}

UpdateService::UpdateService(Dependencies dependencies) : d_(std::move(dependencies)) {}

UpdateService::~UpdateService() { self_.reset(); }

void UpdateService::print(const std::string& line) const {
  if (d_.print) {
    d_.print(line);
  } else {
    std::cout << line << std::endl;
  }
}

void UpdateService::setUserLoggedIn(bool loggedIn) {
  if (isUserLoggedIn_ == loggedIn) return;
  isUserLoggedIn_ = loggedIn;
  changed.notify();
}

void UpdateService::setBannerAnchorBottom(double points) {
  if (bannerAnchorBottom_ == points) return;
  bannerAnchorBottom_ = points;
  changed.notify();
}

void UpdateService::setShowUpdateDialog(bool show) {
  if (showUpdateDialog_ == show) return;
  showUpdateDialog_ = show;
  changed.notify();
}

void UpdateService::clearUpdateInfo() {
  if (!updateInfo_) return;
  updateInfo_.reset();
  changed.notify();
}

bool UpdateService::isWithinLaterWindow() const {
  return orvik::isWithinLaterWindow(d_.defaults.optionalDouble(kLaterDismissedKey), d_.clock.now());
}

void UpdateService::rememberLater() {
  d_.defaults.setDouble(kLaterDismissedKey,
                        std::chrono::duration<double>(d_.clock.now().time_since_epoch()).count());
}

void UpdateService::checkForUpdates(bool silent) {
  print("📡 [UpdateService] Checking for updates (pinned session)...");
  std::weak_ptr<UpdateService*> alive = self_;
  d_.feed.fetch([alive, silent, &queue = d_.queue](FetchedFeed fetched) {
    queue.post([alive, silent, fetched = std::move(fetched)] {
      if (auto self = alive.lock()) (*self)->applyFetched(fetched, silent);
    });
  });
}

void UpdateService::applyFetched(const FetchedFeed& fetched, bool silent) {
  for (const auto& decision : fetched.decisions) {
    logSecurity("Certificate challenge from host: " + decision.host + " | Expected: " + d_.allowedHost);
    switch (decision.verdict) {
      case UpdateTrustVerdict::accepted:
        print("✅ [UpdateService] Host + certificate pin verified: " + decision.host);
        break;
      case UpdateTrustVerdict::unknownHost:
        logSecurity("BLOCKED — host mismatch. Got: " + decision.host + " | Expected: " + d_.allowedHost);
        showSecurityAlert(feedSecurityAlertText(decision.verdict, decision.host));
        break;
      case UpdateTrustVerdict::untrusted:
        logSecurity("BLOCKED — certificate pinning failed for host: " + decision.host);
        showSecurityAlert(feedSecurityAlertText(decision.verdict, decision.host));
        break;
    }
  }
  if (!fetched.body) {
    print("⚠️ [UpdateService] Failed to fetch version.json: " + (fetched.error.empty() ? "unknown" : fetched.error));
    return;
  }
  const auto info = decodeAppUpdateInfo(*fetched.body);
  if (!info) {
    print("⚠️ [UpdateService] Failed to parse version.json");
    return;
  }
  const std::string running = d_.runningBuild.empty() ? "0" : d_.runningBuild;
  print("ℹ️ [UpdateService] Current build: " + running + " | Remote build: " + info->buildVersion);
  handleCheckResult(isNewerBuild(info->buildVersion, running), *info, silent);
}

void UpdateService::handleCheckResult(bool newer, const AppUpdateInfo& info, bool silent) {
  if (!newer) {
    print("✅ [UpdateService] App is up to date");
    const bool hadInfo = updateInfo_.has_value();
    updateInfo_.reset();
    d_.defaults.remove(kPendingManualUpdateBuildKey);
    tellPage(false);
    if (hadInfo) changed.notify();
    if (!silent) {
      const std::string name = d_.displayName.empty() ? "Orvik Reveraraz" : d_.displayName;
      d_.alerts.showInformational("You're up to date!", name + " " + info.version + " is the latest version.");
    }
    return;
  }
  print("🆕 [UpdateService] Update available → " + info.version + " (" + info.buildVersion + ")");
  updateInfo_ = info;
  const bool pending = d_.defaults.hasStoredValue(kPendingManualUpdateBuildKey);
  tellPage(true);
  const bool show = shouldShowUpdateDialog({silent, isWithinLaterWindow(), isUserLoggedIn_, pending});
  if (!show) {
    print("🔕 [UpdateService] Silent check — suppressed within Later window");
    changed.notify();
    return;
  }
  showUpdateDialog_ = true;
  changed.notify();
}

void UpdateService::tellPage(bool available) const {
  if (!d_.page) return;
  platform::callPage(d_.page(), platform::pageFunctionCall("__orvikSetUpdateAvailable", {available}));
}

void UpdateService::logSecurity(const std::string& message) const {
  print("🚨 [" + isoTime(d_.clock.now()) + "] [UpdateService] SECURITY: " + message);
}

void UpdateService::showSecurityAlert(const UpdateSecurityAlertText& text) {
  std::string line;
  for (int i = 0; i < 40; ++i) line += "━";
  logSecurity(line);
  logSecurity("ALERT TITLE  : " + text.title);
  logSecurity("REASON       : " + text.reason);
  logSecurity("ADVICE       : " + text.advice);
  logSecurity("ACTION       : Showing security alert to user...");
  logSecurity(line);
  std::weak_ptr<UpdateService*> alive = self_;
  d_.alerts.showCritical("⚠️ " + text.title, text.reason + "\n\n" + text.advice, [alive, title = text.title] {
    if (auto self = alive.lock()) (*self)->logSecurity("User acknowledged security alert: \"" + title + "\"");
  });
}

}  // namespace orvik
