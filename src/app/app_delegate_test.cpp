#include "app/app_delegate.h"

#include <gtest/gtest.h>

#include <optional>

#include "platform/test_support/temp_dir.h"

namespace orvik {
namespace {

class FakeDataStore final : public WebsiteDataStore {
 public:
  void fetchAllRecords(std::function<void(Records)> completion) override { fetchCompletion = std::move(completion); }
  void removeRecords(const Records& records, std::function<void()> completion) override {
    removed = records;
    removeCompletion = std::move(completion);
  }
  std::function<void(Records)> fetchCompletion;
  std::optional<Records> removed;
  std::function<void()> removeCompletion;
};

class RecordingSteps final : public LaunchSteps {
 public:
  HandOffResult handOffFromDiskImage() override { return step("handOffFromDiskImage"), diskImage; }
  HandOffResult deferToStoreCopy() override { return step("deferToStoreCopy"), storeCopy; }
  void hideAllWindows() override { step("hideAllWindows"); }
  void installCrashLogger() override { step("installCrashLogger"); }
  void logDistributionSelfCheck() override { step("logDistributionSelfCheck"); }
  void registerSupplementalDecoder() override { step("registerSupplementalDecoder"); }
  bool refuseDiskImageLocation() override { return step("refuseDiskImageLocation"), refuse; }
  void setDarkAppearance() override { step("setDarkAppearance"); }
  void observeWindowMinimising() override { step("observeWindowMinimising"); }
  void startSystemLockObserver() override { step("startSystemLockObserver"); }
  void queueWindowTitles() override { step("queueWindowTitles"); }
  InstanceSettlement settleRunningInstance() override { return step("settleRunningInstance"), settlement; }
  std::vector<std::string> documentsFolderEntries() override { return step("documentsFolderEntries"), documents; }
  WebsiteDataStore* websiteDataStore() override { return step("websiteDataStore"), store; }
  void registerLaunchAtLogin() override { step("registerLaunchAtLogin"); }
  void setUpNotifications() override { step("setUpNotifications"); }
  void observeFirstPageLoad() override { step("observeFirstPageLoad"); }
  void observeKeyboardInputSource() override { step("observeKeyboardInputSource"); }
  void observeShowMainWindowRequests() override { step("observeShowMainWindowRequests"); }

  HandOffResult diskImage = HandOffResult::notApplicable;
  HandOffResult storeCopy = HandOffResult::notApplicable;
  bool refuse = false;
  InstanceSettlement settlement = InstanceSettlement::noOtherInstance;
  std::vector<std::string> documents;
  WebsiteDataStore* store = nullptr;
  std::vector<std::string> steps;

 private:
  void step(const char* name) { steps.emplace_back(name); }
};

class AppDelegateTest : public ::testing::Test {
 protected:
  AppDelegate delegate(std::string version = "2.3.0") { return AppDelegate(steps, defaults, std::move(version)); }
  orvik::testing::TempDir dir;
  platform::UserDefaults defaults{dir / "defaults.json"};
  RecordingSteps steps;
};

const std::vector<std::string> kLaunchUpToSettlement = {
    "installCrashLogger",      "logDistributionSelfCheck", "registerSupplementalDecoder",
    "refuseDiskImageLocation", "setDarkAppearance",        "observeWindowMinimising",
    "startSystemLockObserver", "queueWindowTitles",        "settleRunningInstance"};

std::vector<std::string> concat(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST_F(AppDelegateTest, AFullLaunchRunsEveryStepInOrder) {
  AppDelegate app = delegate();
  app.applicationWillFinishLaunching();
  EXPECT_EQ(app.applicationDidFinishLaunching(), LaunchOutcome::running);
  EXPECT_EQ(steps.steps, concat(concat({"handOffFromDiskImage", "deferToStoreCopy"}, kLaunchUpToSettlement),
                                {"documentsFolderEntries", "websiteDataStore", "registerLaunchAtLogin",
                                 "setUpNotifications", "observeFirstPageLoad", "observeKeyboardInputSource",
                                 "observeShowMainWindowRequests"}));
  EXPECT_EQ(defaults.optionalBool(AppDelegate::kAnimationsKey), false);
  EXPECT_FALSE(defaults.hasStoredValue(AppDelegate::kAnimationsKey));
}

TEST_F(AppDelegateTest, EarlyStopsLeaveTheLaterStepsUndone) {
  struct Case {
    const char* name;
    HandOffResult diskImage;
    HandOffResult storeCopy;
    bool refuse;
    InstanceSettlement settlement;
    LaunchOutcome outcome;
    std::vector<std::string> steps;
  };
  const std::vector<Case> cases = {
      {"disk-image hand-off", HandOffResult::started, HandOffResult::notApplicable, false,
       InstanceSettlement::noOtherInstance, LaunchOutcome::handedOff, {"handOffFromDiskImage", "hideAllWindows"}},
      {"store copy", HandOffResult::notNeeded, HandOffResult::started, false, InstanceSettlement::noOtherInstance,
       LaunchOutcome::handedOff, {"handOffFromDiskImage", "deferToStoreCopy", "hideAllWindows"}},
      {"refused location", HandOffResult::notApplicable, HandOffResult::notApplicable, true,
       InstanceSettlement::noOtherInstance, LaunchOutcome::refusedLocation,
       concat({"handOffFromDiskImage", "deferToStoreCopy"},
              {kLaunchUpToSettlement.begin(), kLaunchUpToSettlement.begin() + 4})},
      {"hand back", HandOffResult::notApplicable, HandOffResult::notApplicable, false, InstanceSettlement::handBack,
       LaunchOutcome::handedBack, concat({"handOffFromDiskImage", "deferToStoreCopy"}, kLaunchUpToSettlement)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    steps = RecordingSteps();
    steps.diskImage = c.diskImage;
    steps.storeCopy = c.storeCopy;
    steps.refuse = c.refuse;
    steps.settlement = c.settlement;
    AppDelegate app = delegate();
    app.applicationWillFinishLaunching();
    EXPECT_EQ(app.applicationDidFinishLaunching(), c.outcome);
    EXPECT_EQ(steps.steps, c.steps);
    EXPECT_FALSE(defaults.hasStoredValue(AppDelegate::kLastLaunchedVersionKey));
  }
}

TEST_F(AppDelegateTest, TakingOverGoesOnWithTheLaunch) {
  steps.settlement = InstanceSettlement::tookOver;
  AppDelegate app = delegate();
  app.applicationWillFinishLaunching();
  EXPECT_EQ(app.applicationDidFinishLaunching(), LaunchOutcome::running);
  EXPECT_EQ(steps.steps.back(), "observeShowMainWindowRequests");
}

TEST_F(AppDelegateTest, FirstInstallCleanUpRemovesWebDataOnlyOnATrueFirstInstall) {
  struct Case {
    const char* name;
    bool launchedBefore;
    bool versionStored;
    std::vector<std::string> documents;
    WebsiteDataStore::Records fetched;
    bool fetches;
  };
  const std::vector<Case> cases = {
      {"launched before", true, false, {}, {"site"}, false},
      {"update of an older installation", false, true, {}, {"site"}, false},
      {"existing user's files", false, false, {"photo.jpg"}, {"site"}, false},
      {"first install with left-over data", false, false, {}, {"a.example", "b.example"}, true},
      {"first install without data", false, false, {}, {}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    orvik::testing::TempDir caseDir;
    platform::UserDefaults caseDefaults(caseDir / "defaults.json");
    if (c.launchedBefore) caseDefaults.setBool(AppDelegate::kHasLaunchedBeforeKey, true);
    if (c.versionStored) caseDefaults.setString(AppDelegate::kLastLaunchedVersionKey, "1.0");
    FakeDataStore store;
    steps = RecordingSteps();
    steps.documents = c.documents;
    steps.store = &store;
    AppDelegate app(steps, caseDefaults, "2.3.0");
    app.runFirstInstallCleanup();
    ASSERT_EQ(static_cast<bool>(store.fetchCompletion), c.fetches);
    if (!c.fetches) {
      EXPECT_TRUE(caseDefaults.boolValue(AppDelegate::kHasLaunchedBeforeKey));
      continue;
    }
    EXPECT_FALSE(caseDefaults.boolValue(AppDelegate::kHasLaunchedBeforeKey));
    store.fetchCompletion(c.fetched);
    if (c.fetched.empty()) {
      EXPECT_FALSE(store.removed);
      EXPECT_TRUE(caseDefaults.boolValue(AppDelegate::kHasLaunchedBeforeKey));
      continue;
    }
    ASSERT_TRUE(store.removed);
    EXPECT_EQ(*store.removed, c.fetched);
    // Only a finished removal counts: an interrupted one runs again.
    EXPECT_FALSE(caseDefaults.boolValue(AppDelegate::kHasLaunchedBeforeKey));
    store.removeCompletion();
    EXPECT_TRUE(caseDefaults.boolValue(AppDelegate::kHasLaunchedBeforeKey));
  }
}

TEST_F(AppDelegateTest, FirstInstallCleanUpWaitsForALaunchWithAWebDataStore) {
  delegate().runFirstInstallCleanup();
  EXPECT_FALSE(defaults.hasStoredValue(AppDelegate::kHasLaunchedBeforeKey));
}

TEST_F(AppDelegateTest, AVersionChangeAsksForMediaPermissionAgainOnce) {
  delegate("2.3.0").resetMediaPermissionAfterVersionChange();
  EXPECT_TRUE(defaults.boolValue(AppDelegate::kNeedsFreshMediaPermissionKey));
  EXPECT_EQ(defaults.string(AppDelegate::kLastLaunchedVersionKey), "2.3.0");

  // The media-permission manager clears the flag once it has asked.
  defaults.setBool(AppDelegate::kNeedsFreshMediaPermissionKey, false);
  delegate("2.3.0").resetMediaPermissionAfterVersionChange();
  EXPECT_FALSE(defaults.boolValue(AppDelegate::kNeedsFreshMediaPermissionKey));

  delegate("2.4.0").resetMediaPermissionAfterVersionChange();
  EXPECT_TRUE(defaults.boolValue(AppDelegate::kNeedsFreshMediaPermissionKey));
  EXPECT_EQ(defaults.string(AppDelegate::kLastLaunchedVersionKey), "2.4.0");
}

TEST_F(AppDelegateTest, AProgramWithoutAVersionCountsAsOnePointZero) {
  delegate("").resetMediaPermissionAfterVersionChange();
  EXPECT_EQ(defaults.string(AppDelegate::kLastLaunchedVersionKey), "1.0");
}

TEST_F(AppDelegateTest, FirstLaunchEverSetsAllThreeKeys) {
  FakeDataStore store;
  steps.store = &store;
  AppDelegate app = delegate();
  app.applicationWillFinishLaunching();
  ASSERT_EQ(app.applicationDidFinishLaunching(), LaunchOutcome::running);
  store.fetchCompletion({});
  EXPECT_TRUE(defaults.boolValue(AppDelegate::kHasLaunchedBeforeKey));
  EXPECT_EQ(defaults.string(AppDelegate::kLastLaunchedVersionKey), "2.3.0");
  EXPECT_TRUE(defaults.boolValue(AppDelegate::kNeedsFreshMediaPermissionKey));
}

}  // namespace
}  // namespace orvik
