// The installer program itself, built with a TEST-ONLY key, on the session
// bus of the test run (dbus-run-session): it takes the job from the pending
// folder, replaces the install folder, reports on the bus and starts the
// new version; a tampered archive is refused and nothing is replaced; a
// destination it may not write goes through pkexec, and a dismissed prompt
// is reported as cancelled.
#include <unistd.h>

#include <algorithm>

#include <gio/gio.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "installer/installer_paths.h"
#include "installer/installer_services.h"
#include "installer/testing/test_package.h"

namespace orvik::installer {
namespace {

struct BusRecorder {
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  std::vector<std::string> seen;
  unsigned id = 0;
  BusRecorder() {
    if (!bus) return;
    id = g_dbus_connection_signal_subscribe(
        bus, nullptr, "com.orvik.desk.Installer", nullptr, "/com/orvik/desk/Installer", nullptr,
        G_DBUS_SIGNAL_FLAGS_NONE,
        [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* name, GVariant* parameters,
           gpointer data) {
          gchar* text = g_variant_print(parameters, FALSE);
          static_cast<BusRecorder*>(data)->seen.push_back(std::string(name) + " " + text);
          g_free(text);
        },
        this, nullptr);
  }
  ~BusRecorder() {
    if (bus) {
      g_dbus_connection_signal_unsubscribe(bus, id);
      g_object_unref(bus);
    }
  }
  void drain(size_t count) {
    auto deadline = g_get_monotonic_time() + 5 * G_USEC_PER_SEC;
    while (seen.size() < count && g_get_monotonic_time() < deadline) g_main_context_iteration(nullptr, FALSE);
  }
};

class InstallerProgramIntegration : public ::testing::Test {
 public:
  testing::TempFolder temp;
  std::filesystem::path install = temp.path / "prefix" / "lib" / "orvikdesk";
  std::filesystem::path pending = temp.path / "cache" / "com.orvik.desk" / "pending-update";

  // Version `version`, whose program records that it started.
  void makeVersion(const std::filesystem::path& folder, const std::string& version) {
    testing::makeInstallFolder(folder, version);
    testing::writeFile(folder / "orvikdesk", "#!/bin/sh\necho " + version + " > \"$(dirname \"$0\")/../started\"\n",
                       0755);
  }

  void stage(bool tamper) {
    testing::TempFolder release;
    makeVersion(release.path / "orvikdesk", "2");
    std::filesystem::create_directories(pending);
    auto built = runCommand({"node", ORVIK_SOURCE_DIR "/tools/release/make-update-archive.mjs", "--install-folder",
                             (release.path / "orvikdesk").string(), "--key", ORVIK_TEST_UPDATE_KEY, "--out",
                             (pending / kStagedArchiveName).string()});
    ASSERT_EQ(built.exitStatus, 0) << built.err;
    if (tamper) {
      // Append a file the manifest does not list.
      auto appended = runCommand({"tar", "--append", "--file", (pending / kStagedArchiveName).string(),
                                  "--directory", ORVIK_SOURCE_DIR, "README.md"});
      ASSERT_EQ(appended.exitStatus, 0) << appended.err;
    }
    nlohmann::json job = {{"dmgPath", (pending / kStagedArchiveName).string()},
                          {"installPath", install.string()},
                          {"mainBundleID", "com.orvik.desk"}};
    testing::writeFile(pending / kJobFileName, job.dump(2));
  }

  std::vector<std::string> installerCommand(const std::string& path = g_getenv("PATH") ? g_getenv("PATH") : "") {
    std::filesystem::create_directories(temp.path / "tmp");
    return {"env", "PATH=" + path, "XDG_CACHE_HOME=" + (temp.path / "cache").string(),
            "XDG_STATE_HOME=" + (temp.path / "state").string(), "TMPDIR=" + (temp.path / "tmp").string(),
            ORVIK_TEST_INSTALLER};
  }
  CommandResult runInstaller() { return runCommand(installerCommand()); }

  // The installer with the install folder's parent not writable: read-only
  // mounted in a mount namespace of its own for root (whom no mode stops),
  // its write bits cleared for anyone else. `pathFirst` goes first in PATH.
  CommandResult runInstallerWithReadOnlyDestination(const std::filesystem::path& pathFirst) {
    auto destination = install.parent_path();
    auto command = installerCommand(pathFirst.string() + ":" + (g_getenv("PATH") ? g_getenv("PATH") : ""));
    if (geteuid() != 0) {
      std::filesystem::permissions(destination, std::filesystem::perms::owner_write,
                                   std::filesystem::perm_options::remove);
      auto result = runCommand(command);
      std::filesystem::permissions(destination, std::filesystem::perms::owner_write,
                                   std::filesystem::perm_options::add);
      return result;
    }
    std::string line = "mount --bind " + shellQuote(destination) + " " + shellQuote(destination) +
                       " && mount -o remount,bind,ro " + shellQuote(destination) + " " + shellQuote(destination) +
                       " && exec";
    for (const auto& word : command) line += " " + shellQuote(word);
    return runCommand({"unshare", "--map-root-user", "--mount", "/bin/sh", "-c", line});
  }
};

TEST_F(InstallerProgramIntegration, ReplacesTheFolderReportsProgressThenSuccessAndStartsTheNewVersion) {
  BusRecorder recorder;
  if (!recorder.bus) GTEST_SKIP() << "no session bus (run under dbus-run-session)";
  makeVersion(install, "1");
  stage(false);
  auto run = runInstaller();
  EXPECT_EQ(run.exitStatus, 0) << run.out << run.err;
  recorder.drain(2);
  EXPECT_EQ(recorder.seen, (std::vector<std::string>{"installProgress ({'needsAdmin': <false>},)",
                                                     "updateResult ({'success': <true>},)"}));
  EXPECT_EQ(testing::readFile(install / "resources" / "readme.txt"), "version 2\n");
  EXPECT_FALSE(std::filesystem::exists(pending / kJobFileName));
  EXPECT_FALSE(std::filesystem::exists(pending / kStagedArchiveName));
  auto deadline = g_get_monotonic_time() + 5 * G_USEC_PER_SEC;
  while (!std::filesystem::exists(install.parent_path() / "started") && g_get_monotonic_time() < deadline) {
    g_usleep(20000);
  }
  EXPECT_EQ(testing::readFile(install.parent_path() / "started"), "2\n");
  auto log = testing::readFile(temp.path / "state" / "com.orvik.desk" / "OrvikUpdateInstaller.log");
  EXPECT_NE(log.find("Z] ✅ [Installer] Install complete!\n"), std::string::npos) << log;
}

TEST_F(InstallerProgramIntegration, ATamperedArchiveIsRefusedWithInvalidSignatureAndNothingReplaced) {
  BusRecorder recorder;
  if (!recorder.bus) GTEST_SKIP() << "no session bus (run under dbus-run-session)";
  makeVersion(install, "1");
  stage(true);
  auto run = runInstaller();
  EXPECT_NE(run.exitStatus, 0);
  recorder.drain(1);
  EXPECT_EQ(recorder.seen,
            (std::vector<std::string>{"updateResult ({'success': <false>, 'error': <'Invalid signature'>},)"}));
  EXPECT_EQ(testing::readFile(install / "resources" / "readme.txt"), "version 1\n");
  EXPECT_FALSE(std::filesystem::exists(install.parent_path() / "started"));
}

TEST_F(InstallerProgramIntegration, AReadOnlyDestinationAsksPkexecAndADismissedPromptEndsAsCancelled) {
  BusRecorder recorder;
  if (!recorder.bus) GTEST_SKIP() << "no session bus (run under dbus-run-session)";
  makeVersion(install, "1");
  stage(false);
  // pkexec as it answers when the user dismisses the password prompt.
  auto bin = temp.path / "bin";
  testing::writeFile(bin / "pkexec", "#!/bin/sh\necho \"$@\" >> \"$(dirname \"$0\")/pkexec-calls\"\nexit 126\n", 0755);
  auto run = runInstallerWithReadOnlyDestination(bin);
  EXPECT_NE(run.exitStatus, 0) << run.out << run.err;
  recorder.drain(2);
  EXPECT_EQ(recorder.seen, (std::vector<std::string>{
                               "installProgress ({'needsAdmin': <true>},)",
                               "updateResult ({'success': <false>, 'error': <'cancelled'>},)"}))
      << run.out << run.err;
  auto calls = testing::readFile(bin / "pkexec-calls");
  EXPECT_EQ(calls.rfind("/bin/sh -c ", 0), 0u) << calls;
  EXPECT_EQ(std::count(calls.begin(), calls.end(), '\n'), 1);
  EXPECT_EQ(testing::readFile(install / "resources" / "readme.txt"), "version 1\n");
  EXPECT_FALSE(std::filesystem::exists(pending / kJobFileName));
  EXPECT_FALSE(std::filesystem::exists(pending / kStagedArchiveName));
  EXPECT_FALSE(std::filesystem::exists(install.parent_path() / "started"));
  auto log = testing::readFile(temp.path / "state" / "com.orvik.desk" / "OrvikUpdateInstaller.log");
  EXPECT_NE(log.find("ℹ️ [Installer] User cancelled admin prompt\n"), std::string::npos) << log;
}

}  // namespace
}  // namespace orvik::installer
