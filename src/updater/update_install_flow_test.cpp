#include "updater/update_install_flow.h"

#include <fstream>

#include <gtest/gtest.h>

#include "platform/dispatch/virtual_queue.h"
#include "updater/pending_update_location.h"
#include "updater/recording_update_alerts.h"
#include "updater/update_downloader.h"

namespace orvik {
namespace {

struct Signals : InstallerSignalSource {
  InstallerSignalObserver* observer = nullptr;
  void subscribe(InstallerSignalObserver& o) override { observer = &o; }
  void unsubscribe() override { observer = nullptr; }
};

struct Launcher : InstallerLauncher {
  std::vector<std::filesystem::path> launched;
  bool exists(const std::filesystem::path&) override { return true; }
  bool launch(const std::filesystem::path& program) override {
    launched.push_back(program);
    return true;
  }
};

class UpdateInstallFlowTest : public ::testing::Test {
 public:
  std::filesystem::path temp = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "orvik-flow-XXXXXX").string();
    return std::filesystem::path(mkdtemp(pattern.data()));
  }();
  platform::VirtualQueue queue;
  platform::ScopedMainQueue main{queue};
  platform::VirtualQueue worker{&queue.clock()};
  RecordingUpdateAlerts alerts;
  UpdateDownloader downloader{UpdateDownloader::Dependencies{queue, alerts, {}, temp / "downloads", "help@orvik.test"}};
  Signals signals;
  Launcher launcher;
  int installedCalls = 0;
  std::vector<std::optional<std::filesystem::path>> fallbacks;
  UpdateInstallFlow flow{{queue, worker, downloader, signals, launcher, temp / "lib" / "orvikdesk", temp / "build",
                          temp / "pending", "com.orvik.desk", [this] { ++installedCalls; },
                          [this](const std::optional<std::filesystem::path>& a) { fallbacks.push_back(a); }}};

  ~UpdateInstallFlowTest() override {
    std::error_code error;
    std::filesystem::remove_all(temp, error);
  }
  void handOff(bool withFile = true) {
    std::filesystem::create_directories(temp / "lib" / "orvikdesk");
    if (withFile) std::ofstream(temp / "verified.tar") << "archive";
    flow.handOff(temp / "verified.tar");
    worker.runUntilIdle();
    queue.runUntilIdle();
  }
};

TEST_F(UpdateInstallFlowTest, LaunchesTheInstallerBesideTheInstalledCopyWithTheJobInThePendingFolder) {
  handOff();
  auto installPath = realInstallPath(temp / "lib" / "orvikdesk");
  EXPECT_EQ(launcher.launched, (std::vector<std::filesystem::path>{installPath / "orvik-installer"}));
  EXPECT_TRUE(std::filesystem::exists(temp / "pending" / kPendingJobFileName));
  EXPECT_TRUE(std::filesystem::exists(temp / "pending" / kPendingArchiveName));
  ASSERT_NE(signals.observer, nullptr);
}

TEST_F(UpdateInstallFlowTest, TheInstallersAnswersBecomeTheDownloadersState) {
  struct Case {
    bool success;
    std::optional<std::string> error;
    int installed;
    std::optional<std::string> shown;
  } cases[] = {
      {true, std::nullopt, 1, std::nullopt},
      {false, "cancelled", 0, std::nullopt},
      {false, "Invalid signature", 0, "Install failed: Invalid signature"},
  };
  for (const auto& c : cases) {
    installedCalls = 0;
    handOff();
    ASSERT_NE(signals.observer, nullptr);
    signals.observer->installerFinished(c.success, c.error);
    EXPECT_EQ(installedCalls, c.installed);
    EXPECT_EQ(downloader.state().errorMessage, c.shown);
    EXPECT_FALSE(downloader.state().isInstalling);
  }
}

TEST_F(UpdateInstallFlowTest, AnArchiveThatCannotBeStagedIsReportedAndNothingIsLaunched) {
  handOff(/*withFile=*/false);
  EXPECT_TRUE(launcher.launched.empty());
  EXPECT_EQ(downloader.state().errorMessage, "Could not mount the update file.");
}

TEST_F(UpdateInstallFlowTest, TheManualFallbackReceivesTheArchiveWhenTheJobWasNeverTaken) {
  handOff();
  queue.advance(3 * kInstallerFirstTimeout);
  EXPECT_EQ(launcher.launched.size(), 3u);
  ASSERT_EQ(fallbacks.size(), 1u);
  EXPECT_EQ(fallbacks[0], temp / "pending" / kPendingArchiveName);
}

}  // namespace
}  // namespace orvik
