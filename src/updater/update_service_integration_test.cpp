// The update check against the local update download host of tools/devservice,
// over the real pinned connection.
#include <gtest/gtest.h>

#include "platform/dispatch/virtual_queue.h"
#include "platform/recording_page_script_sink.h"
#include "platform/test_support/temp_dir.h"
#include "platform/test_support/wait_for.h"
#include "platform/user_defaults.h"
#include "updater/recording_update_alerts.h"
#include "updater/testing/update_feed_server.h"
#include "updater/update_service.h"

namespace orvik {
namespace {

class UpdateCheckIntegration : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    serverDir_ = new testing::TempDir();
    server_ = testing::UpdateFeedServer::start(serverDir_->path().string()).release();
  }
  static void TearDownTestSuite() {
    delete server_;
    delete serverDir_;
  }
  void SetUp() override { ASSERT_TRUE(server_); }

  // Runs one check of `url` with the running build `build` until its answer is applied.
  std::unique_ptr<UpdateService> check(const std::string& url, const std::string& build, bool silent) {
    requestsBefore_ = server_->requests().size();
    source_ = std::make_unique<PinnedFeedSource>(url, server_->settings());
    auto service = std::make_unique<UpdateService>(UpdateService::Dependencies{
        queue_, clock_, defaults_, *source_, alerts_, [this] { return std::weak_ptr<platform::PageScriptSink>(page_); },
        build, "Orvik", "127.0.0.1", [this](const std::string& line) { lines_.push_back(line); }});
    service->checkForUpdates(silent);
    const bool answered = testing::waitFor(
        [&] {
          return std::any_of(lines_.begin(), lines_.end(), [](const std::string& line) {
            return line.find("Failed to") != std::string::npos || line.find("Current build") != std::string::npos;
          });
        },
        [&] { queue_.runUntilIdle(); }, 60.0);
    EXPECT_TRUE(answered);
    queue_.runUntilIdle();
    return service;
  }
  std::vector<std::string> newRequests() const {
    auto all = server_->requests();
    return {all.begin() + static_cast<long>(requestsBefore_), all.end()};
  }

  static testing::TempDir* serverDir_;
  static testing::UpdateFeedServer* server_;
  testing::TempDir dir_;
  platform::VirtualClock clock_;
  platform::VirtualQueue queue_{&clock_};
  platform::ScopedMainQueue main_{queue_};
  platform::UserDefaults defaults_{dir_ / "defaults.json"};
  RecordingUpdateAlerts alerts_;
  std::shared_ptr<platform::RecordingPageScriptSink> page_ = std::make_shared<platform::RecordingPageScriptSink>();
  std::unique_ptr<PinnedFeedSource> source_;
  std::vector<std::string> lines_;
  std::size_t requestsBefore_ = 0;
};
testing::TempDir* UpdateCheckIntegration::serverDir_ = nullptr;
testing::UpdateFeedServer* UpdateCheckIntegration::server_ = nullptr;

TEST_F(UpdateCheckIntegration, ANewerBuildTellsThePageAndRaisesTheCard) {
  auto service = check(server_->url + "/feed.json", "400", true);
  ASSERT_TRUE(service->hasUpdateInfo());
  EXPECT_EQ(service->updateInfo()->buildVersion, "999999");
  EXPECT_EQ(service->updateInfo()->sha256, server_->sha256);
  EXPECT_TRUE(service->showUpdateDialog());
  EXPECT_EQ(page_->scripts, (std::vector<std::string>{"if (typeof window.__orvikSetUpdateAvailable === 'function') "
                                                      "window.__orvikSetUpdateAvailable(true);"}));
  EXPECT_TRUE(alerts_.alerts.empty());
  EXPECT_NE(std::find(lines_.begin(), lines_.end(), "✅ [UpdateService] Host + certificate pin verified: 127.0.0.1"),
            lines_.end());
}

TEST_F(UpdateCheckIntegration, AnEqualBuildAskedForByTheUserIsUpToDate) {
  auto service = check(server_->url + "/feed.json", "999999", false);
  EXPECT_FALSE(service->hasUpdateInfo());
  EXPECT_FALSE(service->showUpdateDialog());
  ASSERT_EQ(alerts_.alerts.size(), 1u);
  EXPECT_EQ(alerts_.alerts[0].message, "You're up to date!");
  EXPECT_EQ(alerts_.alerts[0].informative, "Orvik 9.9.9 is the latest version.");
}

struct RefusedCase {
  const char* name;
  enum { unpinned, localhost, redirectHttp } where;
  const char* reasonPart;
  const char* silentServer;  // received nothing
};

class UpdateCheckRefusedIntegration : public UpdateCheckIntegration, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(UpdateCheckRefusedIntegration, SendsNothingThereShowsTheCriticalAlertAndChangesNothing) {
  const auto& c = GetParam();
  std::string url;
  switch (c.where) {
    case RefusedCase::unpinned: url = server_->unpinned + "/feed.json"; break;
    case RefusedCase::localhost: url = server_->localhost + "/feed.json"; break;
    case RefusedCase::redirectHttp: url = server_->url + "/redirect/http/feed.json"; break;
  }
  auto service = check(url, "400", true);
  EXPECT_FALSE(service->hasUpdateInfo());
  EXPECT_FALSE(service->showUpdateDialog());
  EXPECT_TRUE(page_->scripts.empty());
  ASSERT_EQ(alerts_.alerts.size(), 1u);
  EXPECT_TRUE(alerts_.alerts[0].critical);
  EXPECT_EQ(alerts_.alerts[0].message, "⚠️ Update Blocked — Possible Network Attack");
  EXPECT_NE(alerts_.alerts[0].informative.find(c.reasonPart), std::string::npos) << alerts_.alerts[0].informative;
  for (const auto& request : newRequests()) EXPECT_NE(request.rfind(c.silentServer, 0), 0u) << request;
}

INSTANTIATE_TEST_SUITE_P(
    Table, UpdateCheckRefusedIntegration,
    ::testing::Values(
        RefusedCase{"unpinnedKey", RefusedCase::unpinned, "could not verify the identity of the update server (127.0.0.1)",
                    "unpinned"},
        RefusedCase{"wrongHost", RefusedCase::localhost, "redirected to an unknown server (localhost)", "pinned"},
        RefusedCase{"redirectToHttp", RefusedCase::redirectHttp,
                    "redirected to an unknown server (http://127.0.0.1)", "http"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace orvik
