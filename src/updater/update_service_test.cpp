#include "updater/update_service.h"

#include <gtest/gtest.h>

#include "platform/dispatch/virtual_queue.h"
#include "platform/recording_page_script_sink.h"
#include "platform/test_support/temp_dir.h"
#include "platform/user_defaults.h"
#include "updater/recording_update_alerts.h"
#include "updater/update_check_policy.h"

namespace orvik {
namespace {

// Hands each fetch's answer in when the test says.
class FakeFeedSource final : public UpdateFeedSource {
 public:
  void fetch(std::function<void(FetchedFeed)> done) override { pending.push_back(std::move(done)); }
  void answer(std::size_t index, FetchedFeed fetched) { pending.at(index)(std::move(fetched)); }
  void answerBody(std::size_t index, const std::string& body) {
    FetchedFeed fetched;
    fetched.body = body;
    fetched.decisions = {{"updates.test", UpdateTrustVerdict::accepted}};
    answer(index, std::move(fetched));
  }
  std::vector<std::function<void(FetchedFeed)>> pending;
};

std::string feedWithBuild(const std::string& build) {
  return R"({"version":"9.1","buildVersion":")" + build +
         R"(","downloadUrl":"https://updates.test/a.tar","releaseNotes":"n","sha256":"ab"})";
}

constexpr const char* kAvailable =
    "if (typeof window.__orvikSetUpdateAvailable === 'function') window.__orvikSetUpdateAvailable(true);";
constexpr const char* kNotAvailable =
    "if (typeof window.__orvikSetUpdateAvailable === 'function') window.__orvikSetUpdateAvailable(false);";

class UpdateServiceTest : public ::testing::Test {
 protected:
  UpdateServiceTest() : queue_(&clock_), main_(queue_), defaults_(dir_ / "defaults.json") {}

  std::unique_ptr<UpdateService> make(std::string runningBuild = "500") {
    return std::make_unique<UpdateService>(UpdateService::Dependencies{
        queue_, clock_, defaults_, feed_, alerts_, [this] { return std::weak_ptr<platform::PageScriptSink>(page_); },
        std::move(runningBuild), "Orvik", "updates.test", [this](const std::string& line) { lines_.push_back(line); }});
  }
  double now() const { return std::chrono::duration<double>(clock_.now().time_since_epoch()).count(); }
  bool logged(const std::string& part) const {
    return std::any_of(lines_.begin(), lines_.end(), [&](const auto& line) { return line.find(part) != std::string::npos; });
  }

  testing::TempDir dir_;
  platform::VirtualClock clock_;
  platform::VirtualQueue queue_;
  platform::ScopedMainQueue main_;
  platform::UserDefaults defaults_;
  FakeFeedSource feed_;
  RecordingUpdateAlerts alerts_;
  std::shared_ptr<platform::RecordingPageScriptSink> page_ = std::make_shared<platform::RecordingPageScriptSink>();
  std::vector<std::string> lines_;
};

struct CheckCase {
  const char* name;
  bool silent;
  bool loggedIn;
  std::optional<double> laterSecondsAgo;
  bool pendingManual;
  const char* remoteBuild;
  // Expected:
  bool dialog;
  bool hasInfo;
  const char* pageCall;
  bool upToDateAlert;
};

class UpdateCheckTableTest : public UpdateServiceTest, public ::testing::WithParamInterface<CheckCase> {};

TEST_P(UpdateCheckTableTest, PublishesTellsThePageAndAlertsAsTheRulesSay) {
  const auto& c = GetParam();
  if (c.laterSecondsAgo) defaults_.setDouble(kLaterDismissedKey, now() - *c.laterSecondsAgo);
  if (c.pendingManual) defaults_.setString(kPendingManualUpdateBuildKey, "600");
  auto service = make("500");
  service->setUserLoggedIn(c.loggedIn);
  int changes = 0;
  const auto subscription = service->changed.add([&] { ++changes; });

  service->checkForUpdates(c.silent);
  ASSERT_EQ(feed_.pending.size(), 1u);
  EXPECT_TRUE(page_->scripts.empty()) << "nothing happens before the answer";
  feed_.answerBody(0, feedWithBuild(c.remoteBuild));
  queue_.runUntilIdle();

  EXPECT_EQ(service->showUpdateDialog(), c.dialog);
  EXPECT_EQ(service->hasUpdateInfo(), c.hasInfo);
  if (c.hasInfo) {
    EXPECT_EQ(service->updateInfo()->buildVersion, c.remoteBuild);
    EXPECT_GT(changes, 0);
  }
  ASSERT_EQ(page_->scripts.size(), 1u);
  EXPECT_EQ(page_->scripts[0], c.pageCall);
  if (c.upToDateAlert) {
    ASSERT_EQ(alerts_.alerts.size(), 1u);
    EXPECT_FALSE(alerts_.alerts[0].critical);
    EXPECT_EQ(alerts_.alerts[0].message, "You're up to date!");
    EXPECT_EQ(alerts_.alerts[0].informative, "Orvik 9.1 is the latest version.");
  } else {
    EXPECT_TRUE(alerts_.alerts.empty());
  }
  // An up-to-date answer forgets a pending manual update.
  EXPECT_EQ(defaults_.hasStoredValue(kPendingManualUpdateBuildKey), c.pendingManual && c.hasInfo);
}

INSTANTIATE_TEST_SUITE_P(
    Table, UpdateCheckTableTest,
    ::testing::Values(
        CheckCase{"newerFromTheMenu", false, false, std::nullopt, false, "501", true, true, kAvailable, false},
        CheckCase{"newerSilent", true, false, std::nullopt, false, "501", true, true, kAvailable, false},
        CheckCase{"silentInLaterWindowSignedIn", true, true, 3600.0, false, "501", false, true, kAvailable, false},
        CheckCase{"silentInLaterWindowSignedOut", true, false, 3600.0, false, "501", true, true, kAvailable, false},
        CheckCase{"silentLaterWindowOver", true, true, 86400.0, false, "501", true, true, kAvailable, false},
        CheckCase{"silentLaterInTheFuture", true, true, -600.0, false, "501", false, true, kAvailable, false},
        CheckCase{"silentInLaterWindowButPending", true, true, 60.0, true, "501", true, true, kAvailable, false},
        CheckCase{"askedInLaterWindow", false, true, 60.0, false, "501", true, true, kAvailable, false},
        CheckCase{"equalFromTheMenu", false, true, std::nullopt, false, "500", false, false, kNotAvailable, true},
        CheckCase{"equalSilent", true, true, std::nullopt, true, "500", false, false, kNotAvailable, false},
        CheckCase{"olderFromTheMenu", false, false, std::nullopt, true, "499", false, false, kNotAvailable, true},
        CheckCase{"numericNotTextual", true, false, std::nullopt, false, "1000", true, true, kAvailable, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(UpdateServiceTest, WithoutARunningBuildAnyBuildAfterZeroIsNewer) {
  auto service = make("");
  service->checkForUpdates(true);
  feed_.answerBody(0, feedWithBuild("1"));
  queue_.runUntilIdle();
  EXPECT_TRUE(service->hasUpdateInfo());
  EXPECT_TRUE(logged("ℹ️ [UpdateService] Current build: 0 | Remote build: 1"));
}

TEST_F(UpdateServiceTest, FailedFetchesAndBadFeedsChangeNothing) {
  auto service = make();
  service->checkForUpdates(false);
  feed_.answerBody(0, feedWithBuild("600"));
  queue_.runUntilIdle();
  ASSERT_TRUE(service->showUpdateDialog());
  page_->scripts.clear();

  const std::vector<std::pair<std::optional<std::string>, std::string>> answers = {
      {std::nullopt, "⚠️ [UpdateService] Failed to fetch version.json: timed out"},
      {std::string("<html>502 Bad Gateway</html>"), "⚠️ [UpdateService] Failed to parse version.json"},
      {std::string(R"({"version":"1","buildVersion":"2","downloadUrl":"x"})"),
       "⚠️ [UpdateService] Failed to parse version.json"},
  };
  for (std::size_t i = 0; i < answers.size(); ++i) {
    service->checkForUpdates(false);
    FetchedFeed fetched;
    fetched.body = answers[i].first;
    fetched.error = "timed out";
    feed_.answer(i + 1, fetched);
    queue_.runUntilIdle();
    EXPECT_TRUE(logged(answers[i].second)) << answers[i].second;
  }
  EXPECT_TRUE(page_->scripts.empty());
  EXPECT_TRUE(alerts_.alerts.empty());
  EXPECT_TRUE(service->showUpdateDialog());
  EXPECT_EQ(service->updateInfo()->buildVersion, "600");
}

struct RefusalCase {
  const char* name;
  UpdateTrustVerdict verdict;
  const char* host;
  const char* reason;
  const char* blockedLine;
};

class UpdateRefusalTest : public UpdateServiceTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(UpdateRefusalTest, ShowsTheCriticalAlertEvenForASilentCheckAndChangesNothing) {
  const auto& c = GetParam();
  auto service = make();
  service->checkForUpdates(true);
  FetchedFeed fetched;
  fetched.error = "bad certificate";
  fetched.decisions = {{c.host, c.verdict}};
  feed_.answer(0, fetched);
  queue_.runUntilIdle();

  ASSERT_EQ(alerts_.alerts.size(), 1u);
  EXPECT_TRUE(alerts_.alerts[0].critical);
  EXPECT_EQ(alerts_.alerts[0].message, "⚠️ Update Blocked — Possible Network Attack");
  EXPECT_EQ(alerts_.alerts[0].informative,
            std::string(c.reason) +
                "\n\nNo changes were made to your app. Switch to a trusted network (home WiFi or mobile data) before "
                "checking for updates again.");
  EXPECT_TRUE(logged(c.blockedLine));
  EXPECT_TRUE(logged("] [UpdateService] SECURITY: Certificate challenge from host: " + std::string(c.host) +
                     " | Expected: updates.test"));
  EXPECT_TRUE(logged("⚠️ [UpdateService] Failed to fetch version.json: bad certificate"));
  EXPECT_FALSE(logged("User acknowledged"));
  alerts_.acknowledgeAll();
  EXPECT_TRUE(logged("SECURITY: User acknowledged security alert: \"Update Blocked — Possible Network Attack\""));
  EXPECT_TRUE(page_->scripts.empty());
  EXPECT_FALSE(service->hasUpdateInfo());
  EXPECT_FALSE(service->showUpdateDialog());
}

INSTANTIATE_TEST_SUITE_P(
    Table, UpdateRefusalTest,
    ::testing::Values(
        RefusalCase{"unknownHost", UpdateTrustVerdict::unknownHost, "evil.test",
                    "Orvik detected that the update check was redirected to an unknown server (evil.test). This may "
                    "indicate a Man-in-the-Middle attack on your network.",
                    "SECURITY: BLOCKED — host mismatch. Got: evil.test | Expected: updates.test"},
        RefusalCase{"unpinnedKey", UpdateTrustVerdict::untrusted, "updates.test",
                    "Orvik could not verify the identity of the update server (updates.test). Its security "
                    "certificate did not match the one Orvik expects. This may indicate a Man-in-the-Middle attack "
                    "on your network.",
                    "SECURITY: BLOCKED — certificate pinning failed for host: updates.test"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(UpdateServiceTest, TwoChecksMakeTwoRequestsAndApplyTheirAnswersInArrivalOrder) {
  auto service = make("500");
  service->checkForUpdates(true);
  service->checkForUpdates(true);
  ASSERT_EQ(feed_.pending.size(), 2u);
  feed_.answerBody(1, feedWithBuild("600"));
  queue_.runUntilIdle();
  EXPECT_TRUE(service->hasUpdateInfo());
  feed_.answerBody(0, feedWithBuild("500"));
  queue_.runUntilIdle();
  EXPECT_FALSE(service->hasUpdateInfo());
  EXPECT_EQ(page_->scripts, (std::vector<std::string>{kAvailable, kNotAvailable}));
}

TEST_F(UpdateServiceTest, AnAnswerAfterTheServiceIsGoneDoesNothing) {
  auto service = make();
  service->checkForUpdates(false);
  service.reset();
  feed_.answerBody(0, feedWithBuild("600"));
  queue_.runUntilIdle();
  EXPECT_TRUE(page_->scripts.empty());
  EXPECT_TRUE(alerts_.alerts.empty());
}

TEST_F(UpdateServiceTest, LaterOpensTheWindowForADay) {
  auto service = make();
  EXPECT_FALSE(service->isWithinLaterWindow());
  service->rememberLater();
  EXPECT_TRUE(service->isWithinLaterWindow());
  clock_.advance(86399.0);
  EXPECT_TRUE(service->isWithinLaterWindow());
  clock_.advance(1.0);
  EXPECT_FALSE(service->isWithinLaterWindow());
}

}  // namespace
}  // namespace orvik
