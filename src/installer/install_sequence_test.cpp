#include "installer/install_sequence.h"

#include <functional>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "installer/installer_paths.h"
#include "installer/testing/test_package.h"
#include "installer/update_package.h"

namespace orvik::installer {
namespace {

using testing::TempFolder;

struct RecordingNotifier : InstallerNotifier {
  std::vector<std::string> events;
  void sendProgress(bool needsAdmin) override { events.push_back(needsAdmin ? "progress admin" : "progress"); }
  void sendResult(bool success, const std::optional<std::string>& error) override {
    events.push_back(success ? "success" : "failure: " + error.value_or("<none>"));
  }
};

struct FakeElevator : Elevator {
  std::optional<CommandResult> answer;  // none: run the command as this user
  std::vector<std::string> commands;
  CommandResult runAsAdministrator(const std::string& commandLine) override {
    commands.push_back(commandLine);
    return answer ? *answer : runShell(commandLine);
  }
};

struct FakeProcesses : AppProcesses {
  std::vector<std::string> calls;
  std::vector<pid_t> running(const std::filesystem::path& program) override {
    calls.push_back("running " + program.string());
    return {4242};
  }
  void waitForExit(const std::vector<pid_t>& pids) override {
    calls.push_back("wait " + std::to_string(pids.at(0)));
  }
  bool launch(const std::filesystem::path& program) override {
    calls.push_back("launch " + program.string());
    return true;
  }
};

class InstallSequence : public ::testing::Test {
 public:
  TempFolder temp;
  testing::TestKey key = testing::makeTestKey();
  std::filesystem::path pending = temp.path / "cache" / "pending-update";
  std::filesystem::path install = temp.path / "prefix" / "lib" / "orvikdesk";
  std::filesystem::path archive = pending / kStagedArchiveName;
  InstallerLog log{temp.path / "installer.log"};
  RecordingNotifier notifier;
  FakeElevator elevator;
  FakeProcesses processes;
  bool destinationWritable = true;

  void SetUp() override {
    testing::makeInstallFolder(install, "1");
    std::filesystem::create_directories(temp.path / "tmp");
  }

  // A signed archive of version 2; `change` edits the package before it is packed.
  void stageArchive(const std::function<void(const std::filesystem::path&)>& change = {},
                    const testing::PackageOptions& options = {}, const std::string& channel = "bucket") {
    TempFolder package;
    testing::makeInstallFolder(package.path / kPackageAppFolderName, "2", "com.orvik.desk", channel);
    testing::signPackage(package.path, key, options);
    if (change) change(package.path);
    std::filesystem::create_directories(pending);
    testing::writeTar(archive, testing::entriesOf(package.path));
  }

  void writeJob(const std::string& installPath, const std::string& dmgPath = "") {
    nlohmann::json job = {{"dmgPath", dmgPath.empty() ? archive.string() : dmgPath},
                          {"installPath", installPath},
                          {"mainBundleID", "com.orvik.desk"}};
    testing::writeFile(pending / kJobFileName, job.dump(2));
  }

  InstallOutcome run() {
    InstallContext context{log, notifier, elevator, processes, key.publicKey, pending, temp.path / "tmp",
                           [this](const std::filesystem::path&) { return destinationWritable; }};
    return runInstallJob(context);
  }

  std::string installedVersionText() { return testing::readFile(install / "resources" / "readme.txt"); }
  bool privateFoldersLeft() { return !std::filesystem::is_empty(temp.path / "tmp"); }
};

TEST_F(InstallSequence, ASignedArchiveReplacesTheFolderReportsProgressThenSuccessAndRelaunches) {
  stageArchive();
  writeJob(install.string());
  EXPECT_EQ(run(), InstallOutcome::installed);
  EXPECT_EQ(notifier.events, (std::vector<std::string>{"progress", "success"}));
  EXPECT_EQ(installedVersionText(), "version 2\n");
  EXPECT_FALSE(std::filesystem::exists(pending / kJobFileName));
  EXPECT_FALSE(std::filesystem::exists(archive));
  EXPECT_FALSE(std::filesystem::exists(asidePathOf(install)));
  EXPECT_FALSE(std::filesystem::exists(stagingPathOf(install)));
  EXPECT_FALSE(privateFoldersLeft());
  auto program = (install / "orvikdesk").string();
  EXPECT_EQ(processes.calls, (std::vector<std::string>{"running " + program, "wait 4242", "launch " + program}));
  EXPECT_TRUE(elevator.commands.empty());
  auto logText = testing::readFile(temp.path / "installer.log");
  EXPECT_NE(logText.find("✅ [Installer] Install complete!"), std::string::npos);
}

TEST_F(InstallSequence, ATamperedArchiveIsRefusedAsInvalidSignatureAndNothingIsReplaced) {
  stageArchive([](const std::filesystem::path& root) {
    testing::writeFile(root / kPackageAppFolderName / "orvikdesk", "#!/bin/sh\necho evil\n", 0755);
  });
  writeJob(install.string());
  EXPECT_EQ(run(), InstallOutcome::blocked);
  EXPECT_EQ(notifier.events, (std::vector<std::string>{"failure: Invalid signature"}));
  EXPECT_EQ(installedVersionText(), "version 1\n");
  EXPECT_FALSE(std::filesystem::exists(pending / kJobFileName));
  EXPECT_FALSE(privateFoldersLeft());
  EXPECT_TRUE(processes.calls.empty());
}

TEST_F(InstallSequence, AReadOnlyDestinationAsksTheElevatorAndADismissedPromptIsCancelled) {
  stageArchive();
  writeJob(install.string());
  destinationWritable = false;
  elevator.answer = CommandResult{true, 126, "", "Error executing command as another user: Request dismissed"};
  EXPECT_EQ(run(), InstallOutcome::failed);
  EXPECT_EQ(notifier.events, (std::vector<std::string>{"progress admin", "failure: cancelled"}));
  EXPECT_EQ(elevator.commands.size(), 1u);
  EXPECT_EQ(installedVersionText(), "version 1\n");
  EXPECT_FALSE(std::filesystem::exists(archive));  // the installer owned it
  EXPECT_FALSE(privateFoldersLeft());
}

TEST_F(InstallSequence, AnElevatedReplaceThatSucceedsIsJudgedByItsExitStatus) {
  stageArchive();
  writeJob(install.string());
  destinationWritable = false;  // the fake elevator runs the command as this user
  EXPECT_EQ(run(), InstallOutcome::installed);
  EXPECT_EQ(notifier.events, (std::vector<std::string>{"progress admin", "success"}));
  EXPECT_EQ(installedVersionText(), "version 2\n");
}

TEST_F(InstallSequence, JobsThatMustNotBeActedOnEndWithOneFailureAndTouchNothing) {
  struct Case {
    const char* what;
    std::function<void(InstallSequence&)> arrange;
    const char* expected;
    bool archiveKept;
  } cases[] = {
      {"no job file", [](InstallSequence& t) { t.stageArchive(); }, "failure: Install job not found", true},
      {"job with a number",
       [](InstallSequence& t) {
         t.stageArchive();
         testing::writeFile(t.pending / kJobFileName, R"({"dmgPath":"a","installPath":"b","mainBundleID":1})");
       },
       "failure: Install job not found", true},
      {"install path of another application",
       [](InstallSequence& t) {
         t.stageArchive();
         testing::makeInstallFolder(t.temp.path / "other", "1", "org.example.other");
         t.writeJob((t.temp.path / "other").string());
       },
       "failure: Invalid install location", true},
      {"install path not normalised",
       [](InstallSequence& t) {
         t.stageArchive();
         t.writeJob(t.install.string() + "/../orvikdesk");
       },
       "failure: Invalid install location", true},
      {"archive outside the pending folder",
       [](InstallSequence& t) {
         t.stageArchive();
         testing::writeFile(t.temp.path / "elsewhere.tar", "x");
         t.writeJob(t.install.string(), (t.temp.path / "elsewhere.tar").string());
       },
       "failure: Could not open update file", true},
      {"store copy installed",
       [](InstallSequence& t) {
         t.stageArchive();
         testing::makeInstallFolder(t.install, "1", "com.orvik.desk", "appstore");
         t.writeJob(t.install.string());
       },
       "failure: This copy of Orvik is from the App Store — update it from the App Store", true},
      {"store package",
       [](InstallSequence& t) {
         t.stageArchive({}, {}, "appstore");
         t.writeJob(t.install.string());
       },
       "failure: Wrong update package", true},
      {"hostile archive",
       [](InstallSequence& t) {
         std::filesystem::create_directories(t.pending);
         testing::writeTar(t.archive, {{"orvikdesk/x", testing::TarEntry::symlink, "/etc"}});
         t.writeJob(t.install.string());
       },
       "failure: Could not open update file", true},
      {"package without the application",
       [](InstallSequence& t) {
         std::filesystem::create_directories(t.pending);
         testing::writeTar(t.archive, {{"other/x", testing::TarEntry::file, "x"}});
         t.writeJob(t.install.string());
       },
       "failure: App not found in update package", true},
      {"wrong team",
       [](InstallSequence& t) {
         t.stageArchive({}, {"com.orvik.desk", "AAAAAAAAAA"});
         t.writeJob(t.install.string());
       },
       "failure: Invalid signature", true},
  };
  for (const auto& c : cases) {
    InstallSequence* fixture = this;
    std::filesystem::remove_all(pending);
    testing::makeInstallFolder(install, "1");
    notifier.events.clear();
    c.arrange(*fixture);
    EXPECT_NE(run(), InstallOutcome::installed) << c.what;
    EXPECT_EQ(notifier.events, (std::vector<std::string>{c.expected})) << c.what;
    EXPECT_EQ(installedVersionText(), "version 1\n") << c.what;
    EXPECT_EQ(std::filesystem::exists(archive), c.archiveKept) << c.what;
    EXPECT_FALSE(privateFoldersLeft()) << c.what;
    EXPECT_TRUE(processes.calls.empty()) << c.what;
  }
}

}  // namespace
}  // namespace orvik::installer
