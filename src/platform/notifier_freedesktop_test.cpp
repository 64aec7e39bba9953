// The freedesktop notifier and the launcher badge against a real notification
// server (dunst) on the test's own session bus, driven by dunstctl the way a
// person clicks and closes banners.
#include <gio/gio.h>
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/notifier.h"
#include "platform/test_support/background_process.h"
#include "platform/test_support/main_loop.h"
#include "platform/test_support/private_session_bus.h"
#include "platform/test_support/subprocess.h"
#include "platform/test_support/temp_dir.h"

namespace orvik::platform {
namespace {

using orvik::testing::BackgroundProcess;
using orvik::testing::PrivateSessionBus;
using orvik::testing::drainMainLoop;
using orvik::testing::runMainLoopUntil;
using orvik::testing::runProcess;

// dunst on the private bus, with a configuration that plays nothing and
// shows every banner until it is acted on.
class NotificationServer {
 public:
  explicit NotificationServer(const orvik::testing::TempDir& dir) {
    const auto config = dir.path() / "dunstrc";
    std::ofstream(config) << "[global]\n  follow = none\n  idle_threshold = 0\n[urgency_normal]\n  timeout = 0\n"
                             "[urgency_critical]\n  timeout = 0\n";
    process_ = BackgroundProcess::start({"dunst", "-config", config.string()});
  }
  bool started() const { return process_ != nullptr; }

  static int displayedCount() {
    const auto result = runProcess({"dunstctl", "count", "displayed"});
    return result.exitCode == 0 ? std::stoi(result.output) : -1;
  }

 private:
  std::unique_ptr<BackgroundProcess> process_;
};

class FreedesktopNotifierIntegration : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!orvik::testing::hasProgram("dunst") || !orvik::testing::hasProgram("dunstctl")) {
      GTEST_SKIP() << "dunst is not installed";
    }
    if (!g_getenv("DISPLAY")) GTEST_SKIP() << "dunst needs a display";
    ASSERT_FALSE(bus_.address().empty());
    if (!bus_.isProcessSessionBus()) GTEST_SKIP() << "an earlier test in this process holds another session bus";
  }

  void startServer() {
    server_ = std::make_unique<NotificationServer>(dir_);
    ASSERT_TRUE(server_->started());
    ASSERT_TRUE(bus_.waitForName("org.freedesktop.Notifications"));
  }

  // Posts and waits for the server's answer.
  void post(Notifier& notifier, NotificationRequest request) {
    std::optional<std::optional<std::string>> result;
    notifier.add(std::move(request), [&](const std::optional<std::string>& error) { result = error; });
    ASSERT_TRUE(runMainLoopUntil([&] { return result.has_value(); }));
    ASSERT_EQ(*result, std::nullopt);
  }

  orvik::testing::TempDir dir_;
  PrivateSessionBus bus_;
  std::unique_ptr<NotificationServer> server_;
};

NotificationRequest message(std::string identifier, nlohmann::json userInfo) {
  NotificationRequest request;
  request.identifier = std::move(identifier);
  request.title = "Ann";
  request.body = "Hello from " + request.identifier;
  request.userInfo = std::move(userInfo);
  request.category = "MESSAGE";
  return request;
}

TEST_F(FreedesktopNotifierIntegration, SettingsFollowWhetherAServerAnswers) {
  auto notifier = makeFreedesktopNotifier("OrvikDesk", "com.orvik.desk");
  std::optional<NotificationSettings> settings;
  notifier->settings([&](const NotificationSettings& s) { settings = s; });
  ASSERT_TRUE(runMainLoopUntil([&] { return settings.has_value(); }));
  EXPECT_EQ(settings->authorization, NotificationAuthorization::notDetermined);

  startServer();
  settings.reset();
  notifier->settings([&](const NotificationSettings& s) { settings = s; });
  ASSERT_TRUE(runMainLoopUntil([&] { return settings.has_value(); }));
  EXPECT_EQ(settings->authorization, NotificationAuthorization::authorized);
}

TEST_F(FreedesktopNotifierIntegration, OpeningABannerRespondsWithItsUserInfoAndClosingItIsADismissal) {
  startServer();
  auto notifier = makeFreedesktopNotifier("OrvikDesk", "com.orvik.desk");
  std::vector<NotificationResponse> responses;
  notifier->setResponseHandler([&](const NotificationResponse& response) { responses.push_back(response); });

  post(*notifier, message("first", {{"chatId", "c1"}}));
  ASSERT_TRUE(runMainLoopUntil([] { return NotificationServer::displayedCount() == 1; }));
  ASSERT_EQ(runProcess({"dunstctl", "action", "0"}).exitCode, 0);
  ASSERT_TRUE(runMainLoopUntil([&] { return !responses.empty(); }));
  EXPECT_EQ(responses[0].identifier, "first");
  EXPECT_EQ(responses[0].action, NotificationAction::open);
  EXPECT_EQ(responses[0].userInfo, (nlohmann::json{{"chatId", "c1"}}));

  // Closing an opened banner is no second answer.
  ASSERT_EQ(runProcess({"dunstctl", "close-all"}).exitCode, 0);
  ASSERT_TRUE(runMainLoopUntil([] { return NotificationServer::displayedCount() == 0; }));
  drainMainLoop();
  EXPECT_EQ(responses.size(), 1u);
  EXPECT_TRUE(notifier->delivered().empty());

  responses.clear();
  post(*notifier, message("second", {{"chatId", "c2"}}));
  ASSERT_TRUE(runMainLoopUntil([] { return NotificationServer::displayedCount() == 1; }));
  ASSERT_EQ(runProcess({"dunstctl", "close"}).exitCode, 0);
  ASSERT_TRUE(runMainLoopUntil([&] { return !responses.empty(); }));
  ASSERT_EQ(responses.size(), 1u);
  EXPECT_EQ(responses[0].identifier, "second");
  EXPECT_EQ(responses[0].action, NotificationAction::dismiss);
  EXPECT_TRUE(runMainLoopUntil([&] { return notifier->delivered().empty(); }));
}

TEST_F(FreedesktopNotifierIntegration, WithdrawingClosesOnlyTheNamedBanners) {
  startServer();
  auto notifier = makeFreedesktopNotifier("OrvikDesk", "com.orvik.desk");
  post(*notifier, message("a", {}));
  post(*notifier, message("b", {}));
  post(*notifier, message("c", {}));
  ASSERT_TRUE(runMainLoopUntil([] { return NotificationServer::displayedCount() == 3; }));

  notifier->removeDelivered({"a", "c"});
  ASSERT_TRUE(runMainLoopUntil([] { return NotificationServer::displayedCount() == 1; }));
  ASSERT_EQ(notifier->delivered().size(), 1u);
  EXPECT_EQ(notifier->delivered()[0].identifier, "b");

  notifier->removeAllDelivered();
  EXPECT_TRUE(notifier->delivered().empty());
  EXPECT_TRUE(runMainLoopUntil([] { return NotificationServer::displayedCount() == 0; }));
}

TEST_F(FreedesktopNotifierIntegration, PostingWithoutAServerReportsTheError) {
  auto notifier = makeFreedesktopNotifier("OrvikDesk", "com.orvik.desk");
  std::optional<std::optional<std::string>> result;
  notifier->add(message("lost", {}), [&](const std::optional<std::string>& error) { result = error; });
  ASSERT_TRUE(runMainLoopUntil([&] { return result.has_value(); }));
  EXPECT_TRUE(result->has_value());
  EXPECT_TRUE(notifier->delivered().empty());
}

// What a dock hears of the badge.
struct LauncherListener {
  explicit LauncherListener(GDBusConnection* bus) : bus_(bus) {
    id_ = g_dbus_connection_signal_subscribe(
        bus_, nullptr, "com.canonical.Unity.LauncherEntry", "Update", nullptr, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
        [](GDBusConnection*, const char*, const char*, const char*, const char*, GVariant* parameters, gpointer self) {
          const char* uri = nullptr;
          GVariant* properties = nullptr;
          g_variant_get(parameters, "(&s@a{sv})", &uri, &properties);
          gint64 count = -1;
          gboolean visible = FALSE;
          g_variant_lookup(properties, "count", "x", &count);
          g_variant_lookup(properties, "count-visible", "b", &visible);
          static_cast<LauncherListener*>(self)->updates.push_back({uri, count, visible != FALSE});
          g_variant_unref(properties);
        },
        this, nullptr);
  }
  ~LauncherListener() { g_dbus_connection_signal_unsubscribe(bus_, id_); }

  struct Update {
    std::string uri;
    gint64 count;
    bool visible;
  };
  GDBusConnection* bus_;
  guint id_ = 0;
  std::vector<Update> updates;
};

TEST_F(FreedesktopNotifierIntegration, TheBadgeTellsLaunchersItsCount) {
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  ASSERT_NE(bus, nullptr);
  LauncherListener listener(bus);
  auto badge = makeLauncherEntryBadge("com.orvik.desk.desktop");
  badge->setLabel("7");
  badge->setLabel(std::nullopt);
  ASSERT_TRUE(runMainLoopUntil([&] { return listener.updates.size() == 2; }));
  EXPECT_EQ(listener.updates[0].uri, "application://com.orvik.desk.desktop");
  EXPECT_EQ(listener.updates[0].count, 7);
  EXPECT_TRUE(listener.updates[0].visible);
  EXPECT_FALSE(listener.updates[1].visible);
  EXPECT_EQ(badge->label(), std::nullopt);
  g_object_unref(bus);
}

}  // namespace
}  // namespace orvik::platform
