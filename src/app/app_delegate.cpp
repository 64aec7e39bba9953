#include "app/app_delegate.h"

#include <utility>

namespace orvik {

AppDelegate::AppDelegate(LaunchSteps& steps, platform::UserDefaults& defaults, std::string shortVersion)
    : steps_(steps), defaults_(defaults), shortVersion_(std::move(shortVersion)) {}

void AppDelegate::applicationWillFinishLaunching() {
  defaults_.registerDefaults({{kAnimationsKey, false}});
  if (steps_.handOffFromDiskImage() == HandOffResult::started) {
    handOffStarted_ = true;
    return;
  }
  if (steps_.deferToStoreCopy() == HandOffResult::started) handOffStarted_ = true;
}

LaunchOutcome AppDelegate::applicationDidFinishLaunching() {
  if (handOffStarted_) {
    steps_.hideAllWindows();
    return LaunchOutcome::handedOff;
  }
  steps_.installCrashLogger();
  steps_.logDistributionSelfCheck();
  steps_.registerSupplementalDecoder();
  if (steps_.refuseDiskImageLocation()) return LaunchOutcome::refusedLocation;
  steps_.setDarkAppearance();
  steps_.observeWindowMinimising();
  steps_.startSystemLockObserver();
  steps_.queueWindowTitles();
  if (steps_.settleRunningInstance() == InstanceSettlement::handBack) return LaunchOutcome::handedBack;
  runFirstInstallCleanup();
  resetMediaPermissionAfterVersionChange();
  steps_.registerLaunchAtLogin();
  steps_.setUpNotifications();
  steps_.observeFirstPageLoad();
  steps_.observeKeyboardInputSource();
  steps_.observeShowMainWindowRequests();
  return LaunchOutcome::running;
}

void AppDelegate::runFirstInstallCleanup() {
  if (defaults_.boolValue(kHasLaunchedBeforeKey)) return;
  // An update of an older installation, or an existing user's files: their
  // web data is theirs to keep.
  if (defaults_.string(kLastLaunchedVersionKey) || !steps_.documentsFolderEntries().empty()) {
    defaults_.setBool(kHasLaunchedBeforeKey, true);
    return;
  }
  WebsiteDataStore* store = steps_.websiteDataStore();
  // Without a data store the decision waits for a launch that has one, so the
  // flag stays unset.
  if (!store) return;
  // A true first install: whatever web data exists was left by an earlier
  // installation that was removed, and goes. The flag is set only once the
  // removal has finished, so an interrupted clean-up runs again.
  store->fetchAllRecords([this, store](WebsiteDataStore::Records records) {
    if (records.empty()) {
      defaults_.setBool(kHasLaunchedBeforeKey, true);
      return;
    }
    store->removeRecords(records, [this] { defaults_.setBool(kHasLaunchedBeforeKey, true); });
  });
}

void AppDelegate::resetMediaPermissionAfterVersionChange() {
  const std::string current = shortVersion_.empty() ? "1.0" : shortVersion_;
  if (defaults_.string(kLastLaunchedVersionKey) == current) return;
  defaults_.setBool(kNeedsFreshMediaPermissionKey, true);
  defaults_.setString(kLastLaunchedVersionKey, current);
}

}  // namespace orvik
