#include "updater/installer_handoff.h"

#include <sys/xattr.h>

#include <fstream>
#include <sstream>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "core/file_security.h"
#include "platform/dispatch/virtual_queue.h"
#include "updater/pending_update_location.h"

namespace orvik {
namespace {

std::string readText(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

struct Temp {
  std::filesystem::path path;
  Temp() {
    std::string pattern = (std::filesystem::temp_directory_path() / "orvik-handoff-XXXXXX").string();
    path = mkdtemp(pattern.data());
  }
  ~Temp() {
    std::error_code error;
    std::filesystem::remove_all(path, error);
  }
};

struct FakeSignals : InstallerSignalSource {
  InstallerSignalObserver* observer = nullptr;
  int subscriptions = 0;
  void subscribe(InstallerSignalObserver& o) override {
    observer = &o;
    ++subscriptions;
  }
  void unsubscribe() override { observer = nullptr; }
  // A signal on the bus: lost when nobody listens.
  void progress(std::optional<bool> needsAdmin) {
    if (observer) observer->installerReportedProgress(needsAdmin);
  }
  void result(bool success, std::optional<std::string> error = std::nullopt) {
    if (observer) observer->installerFinished(success, error);
  }
};

struct FakeLauncher : InstallerLauncher {
  std::vector<std::filesystem::path> present;
  std::vector<std::filesystem::path> launched;
  bool launchWorks = true;
  std::filesystem::path takesJob;  // a job file the "installer" deletes at once
  bool exists(const std::filesystem::path& program) override {
    return std::find(present.begin(), present.end(), program) != present.end();
  }
  bool launch(const std::filesystem::path& program) override {
    launched.push_back(program);
    if (!takesJob.empty()) std::filesystem::remove(takesJob);
    return launchWorks;
  }
};

struct RecordingDelegate : InstallerHandoffDelegate {
  std::vector<std::string> events;
  void installSucceeded() override { events.push_back("succeeded"); }
  void installCancelled() override { events.push_back("cancelled"); }
  void installFailed(const UpdateError& error) override { events.push_back(error.errorDescription()); }
  void showManualFallback(const std::optional<std::filesystem::path>& staged) override {
    events.push_back(staged ? "fallback " + staged->filename().string() : "fallback download page");
  }
};

class InstallerHandoffTest : public ::testing::Test {
 public:
  Temp temp;
  platform::VirtualQueue queue;
  platform::ScopedMainQueue main{queue};
  FakeSignals signals;
  FakeLauncher launcher;
  RecordingDelegate delegate;
  InstallerHandoff handoff{queue, signals, launcher, delegate};
  std::filesystem::path installed = temp.path / "lib" / "orvikdesk" / "orvik-installer";
  std::filesystem::path running = temp.path / "build" / "orvik-installer";
  StagedUpdate staged;

  void SetUp() override {
    auto download = temp.path / "download.tar";
    std::ofstream(download) << "archive";
    auto result = stageForInstaller(download, temp.path / "pending", temp.path / "lib" / "orvikdesk", "");
    ASSERT_TRUE(std::holds_alternative<StagedUpdate>(result));
    staged = std::get<StagedUpdate>(result);
    launcher.present = {installed, running};
  }
  void begin() { handoff.begin(staged, {installed, running}); }
};

TEST(PendingUpdateLocation, FollowsTheSameRuleAsTheInstaller) {
  struct Case {
    const char* cache;
    const char* folder;
  } cases[] = {
      {"", "/home/u/.cache/com.orvik.desk/pending-update"},
      {"/c", "/c/com.orvik.desk/pending-update"},
      {"relative", "/home/u/.cache/com.orvik.desk/pending-update"},
  };
  for (const auto& c : cases) EXPECT_EQ(pendingUpdateFolder(c.cache, "/home/u"), c.folder) << c.cache;
}

TEST(PendingUpdateLocation, RealInstallPathResolvesLinksAndDots) {
  Temp temp;
  std::filesystem::create_directories(temp.path / "prefix" / "lib" / "orvikdesk");
  std::filesystem::create_symlink(temp.path / "prefix" / "lib" / "orvikdesk", temp.path / "link");
  auto real = (std::filesystem::canonical(temp.path) / "prefix" / "lib" / "orvikdesk").string();
  struct Case {
    std::filesystem::path in;
  } cases[] = {{temp.path / "prefix" / "lib" / "orvikdesk"},
               {temp.path / "link"},
               {temp.path / "prefix" / "lib" / "." / "orvikdesk" / ""},
               {temp.path / "prefix" / "bin" / ".." / "lib" / "orvikdesk"}};
  for (const auto& c : cases) EXPECT_EQ(realInstallPath(c.in).string(), real) << c.in;
}

TEST_F(InstallerHandoffTest, StagingWritesTheJobAtomicallyAndClearsTheQuarantineMark) {
  EXPECT_EQ(staged.archive, temp.path / "pending" / kPendingArchiveName);
  EXPECT_FALSE(std::filesystem::exists(temp.path / "download.tar"));
  EXPECT_FALSE(std::filesystem::exists(staged.jobFile.string() + ".tmp"));
  auto text = readText(staged.jobFile);
  EXPECT_NE(text.find("\\/"), std::string::npos);  // the escaped solidus
  auto job = nlohmann::json::parse(text);
  EXPECT_EQ(job.size(), 3u);
  EXPECT_EQ(job["dmgPath"], staged.archive.string());
  EXPECT_EQ(job["installPath"], (temp.path / "lib" / "orvikdesk").string());
  EXPECT_EQ(job["mainBundleID"], "com.orvik.desk");
  char value[8];
  EXPECT_LT(getxattr(staged.archive.c_str(), FileSecurity::quarantineAttribute, value, sizeof value), 0);
}

TEST_F(InstallerHandoffTest, ACopyThatFailsLeavesTheDownloadAndReportsMountFailed) {
  auto result = stageForInstaller(temp.path / "missing.tar", temp.path / "pending2", temp.path, "x");
  ASSERT_TRUE(std::holds_alternative<UpdateError>(result));
  EXPECT_EQ(std::get<UpdateError>(result).errorDescription(), "Could not mount the update file.");
}

TEST_F(InstallerHandoffTest, ResultsAsATable) {
  struct Case {
    bool success;
    std::optional<std::string> error;
    const char* expected;
  } cases[] = {
      {true, std::nullopt, "succeeded"},
      {false, "cancelled", "cancelled"},
      {false, "Invalid signature", "Install failed: Invalid signature"},
      {false, std::nullopt, "Install failed: Installation failed. Please try again."},
      {false, "Cancelled by the disk", "Install failed: Cancelled by the disk"},
  };
  for (const auto& c : cases) {
    delegate.events.clear();
    begin();
    signals.progress(false);
    signals.result(c.success, c.error);
    EXPECT_EQ(delegate.events, (std::vector<std::string>{c.expected}));
    EXPECT_EQ(signals.observer, nullptr);
    auto launches = launcher.launched.size();
    queue.advance(600);  // no deadline left behind
    EXPECT_EQ(delegate.events.size(), 1u);
    EXPECT_EQ(launcher.launched.size(), launches);
  }
}

TEST_F(InstallerHandoffTest, AnInstallerThatNeverTakesTheJobIsRelaunchedTwiceThenTheArchiveIsOffered) {
  begin();
  EXPECT_EQ(launcher.launched, (std::vector<std::filesystem::path>{installed}));
  queue.advance(89.9);
  EXPECT_EQ(launcher.launched.size(), 1u);
  queue.advance(0.1);
  EXPECT_EQ(launcher.launched.size(), 2u);
  queue.advance(90);
  EXPECT_EQ(launcher.launched.size(), 3u);
  EXPECT_EQ(handoff.relaunches(), 2);
  EXPECT_TRUE(delegate.events.empty());
  queue.advance(90);
  EXPECT_EQ(launcher.launched.size(), 3u);
  EXPECT_EQ(delegate.events, (std::vector<std::string>{"fallback orvik_pending.tar"}));
  EXPECT_FALSE(std::filesystem::exists(staged.jobFile));
  EXPECT_TRUE(std::filesystem::exists(staged.archive));
  signals.result(true);  // too late: nobody listens
  EXPECT_EQ(delegate.events.size(), 1u);
}

TEST_F(InstallerHandoffTest, ATakenJobWithoutAResultFallsBackAtTheDeadlineToTheDownloadPage) {
  launcher.takesJob = staged.jobFile;
  begin();
  queue.advance(90);
  EXPECT_EQ(launcher.launched.size(), 1u);  // no relaunch once the job is taken
  EXPECT_EQ(delegate.events, (std::vector<std::string>{"fallback download page"}));
}

TEST_F(InstallerHandoffTest, ProgressWithoutAdminGivesTheCopyFifteenSecondsAndNeverOffersTheBusyArchive) {
  launcher.takesJob = staged.jobFile;
  begin();
  queue.advance(80);
  signals.progress(false);
  queue.advance(14.9);
  EXPECT_TRUE(delegate.events.empty());
  queue.advance(0.1);
  EXPECT_EQ(delegate.events, (std::vector<std::string>{"fallback download page"}));
}

TEST_F(InstallerHandoffTest, NoDeadlineRunsWhileThePasswordPromptIsOpen) {
  launcher.takesJob = staged.jobFile;
  begin();
  signals.progress(true);
  EXPECT_EQ(handoff.state(), InstallerHandoff::State::waitingForPassword);
  queue.advance(3600);
  EXPECT_TRUE(delegate.events.empty());
  signals.result(false, "cancelled");
  EXPECT_EQ(delegate.events, (std::vector<std::string>{"cancelled"}));
}

TEST_F(InstallerHandoffTest, AProgressNoticeWithoutAValueChangesNothing) {
  begin();
  signals.progress(std::nullopt);
  queue.advance(90);
  EXPECT_EQ(launcher.launched.size(), 2u);  // the launch deadline ran as set
}

TEST_F(InstallerHandoffTest, TheInstallerBesideTheRunningCopyIsTheSecondChoice) {
  launcher.present = {running};
  begin();
  EXPECT_EQ(launcher.launched, (std::vector<std::filesystem::path>{running}));
}

TEST_F(InstallerHandoffTest, NoInstallerDeletesTheJobAndArchiveAndOffersTheDownloadPage) {
  launcher.present = {};
  begin();
  EXPECT_EQ(delegate.events, (std::vector<std::string>{"fallback download page"}));
  EXPECT_FALSE(std::filesystem::exists(staged.jobFile));
  EXPECT_FALSE(std::filesystem::exists(staged.archive));
  EXPECT_EQ(signals.observer, nullptr);
}

TEST_F(InstallerHandoffTest, AFailedLaunchOffersTheArchiveItStillOwns) {
  launcher.launchWorks = false;
  begin();
  EXPECT_EQ(delegate.events, (std::vector<std::string>{"fallback orvik_pending.tar"}));
  EXPECT_FALSE(std::filesystem::exists(staged.jobFile));
  queue.advance(600);
  EXPECT_EQ(delegate.events.size(), 1u);
  EXPECT_EQ(launcher.launched.size(), 1u);
}

}  // namespace
}  // namespace orvik
