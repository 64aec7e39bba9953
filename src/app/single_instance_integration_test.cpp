// Real orvikdesk programs on a display and a session bus of each test's own: one
// running instance, a second launch handing back to it, and a newer copy
// taking over from an older one (played by orvik_fake_instance).
#include <gio/gio.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/instance_bus.h"
#include "platform/test_support/background_process.h"
#include "platform/test_support/private_session_bus.h"
#include "platform/test_support/scoped_environment.h"
#include "platform/test_support/subprocess.h"
#include "platform/test_support/temp_dir.h"

namespace orvik {
namespace {

const std::string kProgram = std::string(ORVIK_BINARY_DIR) + "/src/app/orvikdesk";
const std::string kFakeInstance = std::string(ORVIK_BINARY_DIR) + "/src/app/orvik_fake_instance";

class SingleInstanceIntegration : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!orvik::testing::hasProgram("Xvfb") || !orvik::testing::hasProgram("dbus-daemon")) {
      GTEST_SKIP() << "needs Xvfb and dbus-daemon";
    }
    // Each test brings up a display and a session bus of its own, so that
    // neither what an earlier test left behind (in this process or in the
    // environment) nor another test running in parallel is seen here.
    display = orvik::testing::BackgroundProcess::start(
        {"Xvfb", "-displayfd", "1", "-nolisten", "tcp", "-screen", "0", "1024x768x24"});
    ASSERT_TRUE(display);
    const auto number = display->waitForLine([](const std::string& line) { return !line.empty(); }, 60.0);
    ASSERT_TRUE(number) << "Xvfb gave no display";
    sessionBus = std::make_unique<orvik::testing::PrivateSessionBus>();
    ASSERT_FALSE(sessionBus->address().empty());
    // Every program started here inherits these: nothing touches a real home.
    environment.set("DISPLAY", ":" + *number);
    environment.unset("WAYLAND_DISPLAY");
    environment.set("HOME", home.path().string());
    environment.set("XDG_CONFIG_HOME", (home / "config").string());
    environment.set("XDG_DATA_HOME", (home / "data").string());
    environment.set("XDG_CACHE_HOME", (home / "cache").string());
    environment.set("GSK_RENDERER", "cairo");
    // The program's own service, whatever an earlier test pointed it at.
    environment.unset("ORVIK_SERVICE_CONFIG");
    // A connection of the test's own: the process's shared session bus
    // connection may belong to a bus an earlier test used.
    bus = g_dbus_connection_new_for_address_sync(
        sessionBus->address().c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    ASSERT_NE(bus, nullptr);
    ASSERT_FALSE(ownerOfName()) << "another instance already runs on this bus";
  }

  void TearDown() override {
    for (GSubprocess* process : processes) {
      g_subprocess_force_exit(process);
      g_subprocess_wait(process, nullptr, nullptr);
      g_object_unref(process);
    }
    if (bus) {
      g_dbus_connection_close_sync(bus, nullptr, nullptr);
      g_object_unref(bus);
    }
  }

  GSubprocess* start(const std::vector<std::string>& argv, const std::string& logName) {
    GSubprocessLauncher* launcher = g_subprocess_launcher_new(G_SUBPROCESS_FLAGS_NONE);
    g_subprocess_launcher_set_stdout_file_path(launcher, (home / logName).c_str());
    std::vector<const char*> args;
    for (const auto& arg : argv) args.push_back(arg.c_str());
    args.push_back(nullptr);
    GSubprocess* process = g_subprocess_launcher_spawnv(launcher, args.data(), nullptr);
    g_object_unref(launcher);
    if (process) processes.push_back(process);
    return process;
  }

  std::string log(const std::string& logName) { return orvik::testing::TempDir::readFile(home / logName); }

  bool logHas(const std::string& logName, const std::string& text) { return log(logName).find(text) != std::string::npos; }

  // Waits for real programs, with a generous limit; nothing here measures time.
  template <typename Predicate>
  bool waitFor(Predicate done) {
    for (int turn = 0; turn < 600 && !done(); ++turn) g_usleep(50000);
    return done();
  }

  std::optional<std::string> ownerOfName() {
    GVariant* reply = g_dbus_connection_call_sync(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                  "org.freedesktop.DBus", "GetNameOwner",
                                                  g_variant_new("(s)", "com.orvik.desk"), G_VARIANT_TYPE("(s)"),
                                                  G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
    if (!reply) return std::nullopt;
    const gchar* owner = nullptr;
    g_variant_get(reply, "(&s)", &owner);
    std::string result = owner;
    g_variant_unref(reply);
    return result;
  }

  bool askRunningInstanceToQuit() {
    const auto owner = ownerOfName();
    if (!owner) return false;
    GVariant* reply = g_dbus_connection_call_sync(bus, owner->c_str(), "/com/orvik/desk", kInstanceInterface, "Quit",
                                                  nullptr, nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
    if (reply) g_variant_unref(reply);
    return reply != nullptr;
  }

  static int exitStatus(GSubprocess* process) {
    g_subprocess_wait(process, nullptr, nullptr);
    return g_subprocess_get_if_exited(process) ? g_subprocess_get_exit_status(process) : -1;
  }

  orvik::testing::TempDir home;
  std::unique_ptr<orvik::testing::BackgroundProcess> display;
  std::unique_ptr<orvik::testing::PrivateSessionBus> sessionBus;
  orvik::testing::ScopedEnvironment environment;
  GDBusConnection* bus = nullptr;
  std::vector<GSubprocess*> processes;
};

const char* kWindowShown = "[NATIVE] [MainWindow] close interceptor installed";

TEST_F(SingleInstanceIntegration, ASecondLaunchHandsBackToTheFirstAndExitsZero) {
  GSubprocess* first = start({kProgram}, "first.log");
  ASSERT_NE(first, nullptr);
  ASSERT_TRUE(waitFor([&] { return ownerOfName() && logHas("first.log", kWindowShown); })) << log("first.log");

  const auto second = orvik::testing::runProcess({kProgram});
  EXPECT_EQ(second.exitCode, 0);
  EXPECT_EQ(second.output.find(kWindowShown), std::string::npos) << second.output;
  EXPECT_TRUE(waitFor([&] {
    return logHas("first.log", "[NATIVE] [Reopen] showMainWindowNotification received from a second launch attempt");
  })) << log("first.log");

  // The first quits cleanly through its own quit path.
  ASSERT_TRUE(askRunningInstanceToQuit());
  EXPECT_EQ(exitStatus(first), 0);
}

TEST_F(SingleInstanceIntegration, ANewerCopyTakesOverFromAnOlderInstanceThatQuitsWhenAsked) {
  GSubprocess* old = start({kFakeInstance, "0.0.1"}, "old.log");
  ASSERT_TRUE(waitFor([&] { return logHas("old.log", "ready"); }));

  GSubprocess* desk = start({kProgram}, "desk.log");
  ASSERT_TRUE(waitFor([&] { return logHas("desk.log", kWindowShown); })) << log("desk.log");
  EXPECT_TRUE(logHas("desk.log", "[NATIVE] [Launch] another instance running (v0.0.1, " + kFakeInstance +
                                     ") — taking over (storeOverWebsite=false newerBuild=true)"))
      << log("desk.log");
  EXPECT_TRUE(logHas("desk.log", "[NATIVE] [Launch] old instance closed — continuing launch"));
  EXPECT_EQ(exitStatus(old), 0);  // it left through its own quit path

  ASSERT_TRUE(askRunningInstanceToQuit());
  EXPECT_EQ(exitStatus(desk), 0);
}

TEST_F(SingleInstanceIntegration, AnOlderInstanceThatIgnoresTheRequestIsEndedAfterTheGracePeriod) {
  GSubprocess* old = start({kFakeInstance, "0.0.1", "--ignore-quit"}, "old.log");
  ASSERT_TRUE(waitFor([&] { return logHas("old.log", "ready"); }));

  GSubprocess* desk = start({kProgram}, "desk.log");
  ASSERT_TRUE(waitFor([&] { return logHas("desk.log", kWindowShown); })) << log("desk.log");
  EXPECT_TRUE(logHas("desk.log", "[NATIVE] [Launch] old instance closed — continuing launch"));
  g_subprocess_wait(old, nullptr, nullptr);
  ASSERT_TRUE(g_subprocess_get_if_signaled(old));
  EXPECT_EQ(g_subprocess_get_term_sig(old), SIGKILL);

  ASSERT_TRUE(askRunningInstanceToQuit());
  EXPECT_EQ(exitStatus(desk), 0);
}

TEST_F(SingleInstanceIntegration, AnOlderCopyHandsBackToANewerRunningInstance) {
  GSubprocess* newer = start({kFakeInstance, "999.0"}, "newer.log");
  ASSERT_TRUE(waitFor([&] { return logHas("newer.log", "ready"); }));
  const auto owner = ownerOfName();

  const auto desk = orvik::testing::runProcess({kProgram});
  EXPECT_EQ(desk.exitCode, 0);
  EXPECT_EQ(desk.output.find("[Launch] another instance running"), std::string::npos) << desk.output;
  EXPECT_TRUE(logHas("newer.log", "activated"));
  EXPECT_EQ(ownerOfName(), owner);
  EXPECT_FALSE(g_subprocess_get_if_exited(newer));
}

}  // namespace
}  // namespace orvik
