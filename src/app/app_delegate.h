// The application delegate: decides at start-up whether this copy runs at
// all, installs the process-wide observers and diagnostics, and performs the
// one-time clean-ups that depend on what is stored on the machine. The steps
// themselves are behind `LaunchSteps`, so the order, the early stops and the
// decisions are tested without a display or a bus.
//
// Owner: the application (application.h), one per process.
// THREAD-SAFETY: main queue only.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/user_defaults.h"

namespace orvik {

// How the running-instance settlement ended (see instance_settler.h).
enum class InstanceSettlement { noOtherInstance, tookOver, handBack };

// How a copy hand-off check ended. Copies on a mounted disk image and store
// copies have no Linux twin, so the production checks answer notApplicable.
enum class HandOffResult { notApplicable, notNeeded, started };

// Website data of the main web view's data store: one record per site.
class WebsiteDataStore {
 public:
  using Records = std::vector<std::string>;
  virtual ~WebsiteDataStore() = default;
  // Completes on the main queue, later or at once.
  virtual void fetchAllRecords(std::function<void(Records)> completion) = 0;
  virtual void removeRecords(const Records& records, std::function<void()> completion) = 0;
};

// The launch steps in the order the delegate runs them. The production set is
// in launch_steps.h; tests record the calls.
class LaunchSteps {
 public:
  virtual ~LaunchSteps() = default;

  virtual HandOffResult handOffFromDiskImage() = 0;
  virtual HandOffResult deferToStoreCopy() = 0;
  // Hides every window of the application (this copy is about to be ended
  // by a hand-off).
  virtual void hideAllWindows() = 0;

  virtual void installCrashLogger() = 0;
  virtual void logDistributionSelfCheck() = 0;
  virtual void registerSupplementalDecoder() = 0;
  // True when the user was told to move the program first and it must quit.
  [[nodiscard]] virtual bool refuseDiskImageLocation() = 0;
  virtual void setDarkAppearance() = 0;
  virtual void observeWindowMinimising() = 0;
  virtual void startSystemLockObserver() = 0;
  virtual void queueWindowTitles() = 0;
  [[nodiscard]] virtual InstanceSettlement settleRunningInstance() = 0;
  // The documents folder's entries; an unreadable folder counts as empty.
  virtual std::vector<std::string> documentsFolderEntries() = 0;
  // The main web view's website data, or null while there is none to reach.
  virtual WebsiteDataStore* websiteDataStore() = 0;
  virtual void registerLaunchAtLogin() = 0;
  virtual void setUpNotifications() = 0;
  virtual void observeFirstPageLoad() = 0;
  virtual void observeKeyboardInputSource() = 0;
  virtual void observeShowMainWindowRequests() = 0;
};

enum class LaunchOutcome {
  running,          // the launch went through; the application runs
  handedOff,        // a copy hand-off was started; this copy only waits to end
  refusedLocation,  // the user was told to move the program; quit
  handedBack,       // another running instance takes over; quit
};

class AppDelegate {
 public:
  static constexpr const char* kAnimationsKey = "NSAutomaticWindowAnimationsEnabled";
  static constexpr const char* kHasLaunchedBeforeKey = "hasLaunchedBefore";
  static constexpr const char* kLastLaunchedVersionKey = "lastLaunchedAppVersion";
  static constexpr const char* kNeedsFreshMediaPermissionKey = "needsFreshMediaPermission";

  AppDelegate(LaunchSteps& steps, platform::UserDefaults& defaults, std::string shortVersion);

  void applicationWillFinishLaunching();
  [[nodiscard]] LaunchOutcome applicationDidFinishLaunching();

  // Set once a hand-off to another copy has started; never cleared.
  bool handOffStarted() const { return handOffStarted_; }

  // The one-time clean-ups, public for their tests.
  void runFirstInstallCleanup();
  void resetMediaPermissionAfterVersionChange();

 private:
  LaunchSteps& steps_;
  platform::UserDefaults& defaults_;
  std::string shortVersion_;
  bool handOffStarted_ = false;
};

}  // namespace orvik
