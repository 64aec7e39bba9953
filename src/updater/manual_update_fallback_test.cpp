#include "updater/manual_update_fallback.h"

#include <gtest/gtest.h>

#include "platform/dispatch/virtual_queue.h"
#include "platform/test_support/temp_dir.h"
#include "platform/user_defaults.h"
#include "updater/recording_update_alerts.h"
#include "updater/update_check_policy.h"

namespace orvik {
namespace {

class ManualUpdateFallbackTest : public ::testing::Test {
 protected:
  ManualUpdateFallbackTest() : queue_(&clock_), main_(queue_), defaults_(dir_ / "defaults.json") {
    testing::TempDir::writeFile(archive_, "archive");
  }

  std::unique_ptr<ManualUpdateFallback> make(std::optional<AppUpdateInfo> info) {
    return std::make_unique<ManualUpdateFallback>(ManualUpdateFallback::Dependencies{
        queue_, alerts_, defaults_, [info] { return info; },
        [this](const std::filesystem::path& file) { events_.push_back("open archive " + file.filename().string()); },
        [this](const std::string& url) { events_.push_back("open " + url); }, [this] { events_.push_back("quit"); }});
  }

  testing::TempDir dir_;
  std::filesystem::path archive_ = dir_ / "orvik_pending.tar";
  platform::VirtualClock clock_;
  platform::VirtualQueue queue_;
  platform::ScopedMainQueue main_;
  platform::UserDefaults defaults_;
  RecordingUpdateAlerts alerts_;
  std::vector<std::string> events_;
};

const AppUpdateInfo kInfo{"2.0.0", "200", "https://updates.test/orvikdesk-2.0.0.tar", "notes", std::nullopt};

TEST_F(ManualUpdateFallbackTest, AsksWithOpenAndCancel) {
  auto fallback = make(kInfo);
  fallback->show(archive_);
  ASSERT_EQ(alerts_.alerts.size(), 1u);
  EXPECT_FALSE(alerts_.alerts[0].critical);
  EXPECT_EQ(alerts_.alerts[0].message, "Manual Update Required");
  EXPECT_EQ(alerts_.alerts[0].informative.find("Click Open — Orvik will close and a window will open.\n"), 0u);
  EXPECT_EQ(alerts_.alerts[0].buttons, (std::vector<std::string>{"Open", "Cancel"}));
}

// What each answer does, by whether the archive is still ours and whether
// an update is on offer.
TEST_F(ManualUpdateFallbackTest, AnswersAsATable) {
  struct Case {
    const char* name;
    bool offerArchive;
    bool archiveOnDisk;
    std::optional<AppUpdateInfo> info;
    bool open;
    std::vector<std::string> atOnce;
    std::vector<std::string> aSecondLater;
    bool remembersBuild;
  };
  const Case cases[] = {
      {"open the archive", true, true, kInfo, true, {"open archive orvik_pending.tar"},
       {"open archive orvik_pending.tar", "quit"}, true},
      {"open the archive, no offer left", true, true, std::nullopt, true, {"open archive orvik_pending.tar"},
       {"open archive orvik_pending.tar", "quit"}, false},
      {"the archive went meanwhile", true, false, kInfo, true, {"open " + kInfo.downloadUrl},
       {"open " + kInfo.downloadUrl}, false},
      {"no archive offered", false, true, kInfo, true, {"open " + kInfo.downloadUrl}, {"open " + kInfo.downloadUrl},
       false},
      {"no archive and no offer", false, true, std::nullopt, true, {}, {}, false},
      {"cancel", true, true, kInfo, false, {}, {}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    events_.clear();
    defaults_.remove(kPendingManualUpdateBuildKey);
    testing::TempDir::writeFile(archive_, "archive");
    if (!c.archiveOnDisk) std::filesystem::remove(archive_);
    auto fallback = make(c.info);
    fallback->show(c.offerArchive ? std::optional(archive_) : std::nullopt);
    alerts_.answer(c.open);
    queue_.advance(0.9);
    EXPECT_EQ(events_, c.atOnce);
    queue_.advance(0.1);
    EXPECT_EQ(events_, c.aSecondLater);
    EXPECT_EQ(defaults_.hasStoredValue(kPendingManualUpdateBuildKey), c.remembersBuild);
    if (c.remembersBuild) {
      EXPECT_EQ(defaults_.string(kPendingManualUpdateBuildKey), "200");
    }
  }
}

TEST_F(ManualUpdateFallbackTest, AnAnswerAfterTheFallbackWentAwayDoesNothing) {
  auto fallback = make(kInfo);
  fallback->show(archive_);
  fallback.reset();
  alerts_.answer(true);
  queue_.advance(5.0);
  EXPECT_TRUE(events_.empty());
}

}  // namespace
}  // namespace orvik
