// The one object that knows whether a newer build exists. A check fetches the
// update feed over the pinned update connection, compares its build with the
// running one, publishes the outcome for the update card and its host, tells
// the page through "__orvikSetUpdateAvailable", and answers a check the user
// asked for with "You're up to date!" when there is nothing new. Refusals of
// the update server trust are logged as security lines and shown as a
// critical alert, for silent checks too.
//
//   UpdateService updates({queue, clock, defaults, feed, alerts, page, build, name, host});
//   auto subscription = updates.changed.add([&] { render(updates); });
//   updates.checkForUpdates(/*silent=*/true);
//
// There is no in-flight flag: two checks started back to back make two
// requests, and each result is applied when it arrives.
//
// Owner: the composition root. THREAD-SAFETY: main queue only; the feed's
// answer hops there.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "core/update_banner.h"
#include "platform/observer_list.h"
#include "platform/page_call.h"
#include "updater/app_update_info.h"
#include "updater/update_feed_source.h"

namespace orvik {

class UpdateAlerts;
namespace platform {
class Clock;
class TaskQueue;
class UserDefaults;
}  // namespace platform

// The security alert of an update connection refusal.
struct UpdateSecurityAlertText {
  std::string title, reason, advice;
};
inline constexpr const char* kUpdateBlockedTitle = "Update Blocked — Possible Network Attack";
// The feed session's texts for a refusal of `host`.
UpdateSecurityAlertText feedSecurityAlertText(UpdateTrustVerdict verdict, const std::string& host);

class UpdateService final : public UpdateBanner {
 public:
  static constexpr double kInitialBannerAnchorBottom = 260.0;

  struct Dependencies {
    platform::TaskQueue& queue;
    platform::Clock& clock;
    platform::UserDefaults& defaults;
    UpdateFeedSource& feed;
    UpdateAlerts& alerts;
    // The main web view's page while it exists.
    std::function<std::weak_ptr<platform::PageScriptSink>()> page;
    std::string runningBuild;  // empty counts as "0"
    std::string displayName;   // in "… is the latest version."
    std::string allowedHost;   // named in the security log
    std::function<void(const std::string& line)> print;  // empty: standard output
  };

  explicit UpdateService(Dependencies dependencies);
  ~UpdateService() override;
  UpdateService(const UpdateService&) = delete;
  UpdateService& operator=(const UpdateService&) = delete;

  // UpdateBanner
  void setUserLoggedIn(bool loggedIn) override;
  void setBannerAnchorBottom(double points) override;
  void setShowUpdateDialog(bool show) override;
  bool hasUpdateInfo() const override { return updateInfo_.has_value(); }
  void checkForUpdates(bool silent) override;

  const std::optional<AppUpdateInfo>& updateInfo() const { return updateInfo_; }
  bool showUpdateDialog() const { return showUpdateDialog_; }
  bool isUserLoggedIn() const { return isUserLoggedIn_; }
  double bannerAnchorBottom() const { return bannerAnchorBottom_; }
  bool isWithinLaterWindow() const;
  // The card's Later action: stores now as the Later time.
  void rememberLater();
  // After a successful installation.
  void clearUpdateInfo();

  // Any published value changed.
  platform::ObserverList<> changed;

 private:
  void applyFetched(const FetchedFeed& fetched, bool silent);
  void handleCheckResult(bool newer, const AppUpdateInfo& info, bool silent);
  void logSecurity(const std::string& message) const;
  void showSecurityAlert(const UpdateSecurityAlertText& text);
  void print(const std::string& line) const;
  void tellPage(bool available) const;

  Dependencies d_;
  std::optional<AppUpdateInfo> updateInfo_;
  bool showUpdateDialog_ = false;
  bool isUserLoggedIn_ = false;
  double bannerAnchorBottom_ = kInitialBannerAnchorBottom;
  // Answers that arrive after the service is gone find this reset.
  std::shared_ptr<UpdateService*> self_ = std::make_shared<UpdateService*>(this);
};

}  // namespace orvik
