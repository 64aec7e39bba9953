// Real orvikdesk programs on a private session bus of each test's own: one
// running instance, a second launch handing back to it, and a newer copy
// taking over from an older one (played by orvik_fake_instance).
#include <gio/gio.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/instance_bus.h"
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
    if (!std::getenv("DISPLAY") || !orvik::testing::hasProgram("dbus-daemon")) {
      GTEST_SKIP() << "needs a display and dbus-daemon";
    }
    // Tests run in parallel: each gets a bus where it alone runs instances.
    // Bringing it up unsets DISPLAY (against X11 bus autolaunch); the
    // programs still need the display.
    const std::string display = std::getenv("DISPLAY");
    testBus = g_test_dbus_new(G_TEST_DBUS_NONE);
    g_test_dbus_up(testBus);
    setenv("DISPLAY", display.c_str(), 1);
    setenv("GSK_RENDERER", "cairo", 1);
    bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    ASSERT_NE(bus, nullptr);
    ASSERT_FALSE(ownerOfName()) << "another instance already runs on this bus";
  }

  void TearDown() override {
    for (GSubprocess* process : processes) {
      g_subprocess_force_exit(process);
      g_subprocess_wait(process, nullptr, nullptr);
      g_object_unref(process);
    }
    if (bus) g_object_unref(bus);
    if (testBus) {
      g_test_dbus_down(testBus);
      g_object_unref(testBus);
    }
  }

  GSubprocess* start(const std::vector<std::string>& argv, const std::string& logName) {
    GSubprocessLauncher* launcher = g_subprocess_launcher_new(G_SUBPROCESS_FLAGS_NONE);
    g_subprocess_launcher_set_stdout_file_path(launcher, (home.outside() / logName).c_str());
    std::vector<const char*> args;
    for (const auto& arg : argv) args.push_back(arg.c_str());
    args.push_back(nullptr);
    GSubprocess* process = g_subprocess_launcher_spawnv(launcher, args.data(), nullptr);
    g_object_unref(launcher);
    if (process) processes.push_back(process);
    return process;
  }

  std::string log(const std::string& logName) { return orvik::testing::TempDir::readFile(home.outside() / logName); }

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

  // Every program started here inherits its folders: nothing touches a real home.
  orvik::testing::TestHome home;
  GTestDBus* testBus = nullptr;
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
