#include "app/system_lock_observer.h"

#include <gio/gio.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/dispatch/virtual_queue.h"
#include "platform/recording_page_script_sink.h"
#include "platform/test_support/main_loop.h"
#include "platform/test_support/private_session_bus.h"

namespace orvik {
namespace {

using platform::SessionEvent;
using ::testing::ElementsAre;

std::string lockedCall(const char* kind) { return platform::pageFunctionCall("__setSystemLockedFromNative", {true, kind}); }
std::string unlockedCall() { return platform::pageFunctionCall("__setSystemLockedFromNative", {false}); }

class SystemLockObserverTest : public ::testing::Test {
 protected:
  SystemLockObserverTest() { observer_ = std::make_unique<SystemLockObserver>(collaborators()); }

  SystemLockObserver::Collaborators collaborators() {
    return {queue_, [this] { return active_; }, [this] { return std::weak_ptr<platform::PageScriptSink>(page_); },
            [this](const std::string& line) { logged_.push_back(line); }};
  }
  void settle() { queue_.runUntilIdle(); }

  platform::VirtualQueue queue_;
  platform::ScopedMainQueue mainQueue_{queue_};
  std::shared_ptr<platform::RecordingPageScriptSink> page_ = std::make_shared<platform::RecordingPageScriptSink>();
  std::vector<std::string> logged_;
  bool active_ = true;
  std::unique_ptr<SystemLockObserver> observer_;
};

TEST_F(SystemLockObserverTest, GoingAwayIsToldAtOnceAndComingBackIsChecked) {
  struct Case {
    SessionEvent event;
    bool active;
    std::string script;
    std::string line;
  };
  const std::vector<Case> cases = {
      {SessionEvent::screenLocked, true, lockedCall("lock"), "🔒 [SystemLock] screen locked → locked"},
      {SessionEvent::sessionResignedActive, true, lockedCall("lock"),
       "🔒 [SystemLock] session resigned active → locked"},
      {SessionEvent::screensaverStarted, true, lockedCall("lock"), "🔒 [SystemLock] screensaver started → locked"},
      {SessionEvent::systemSleeping, true, lockedCall("sleep"), "🔒 [SystemLock] system sleeping → locked(sleep)"},
      {SessionEvent::screenUnlocked, true, unlockedCall(),
       "🔓 [SystemLock] screen unlocked [Orvik active → online] → unlocked"},
      {SessionEvent::screenUnlocked, false, lockedCall("lock"),
       "🔒 [SystemLock] screen unlocked [Orvik not frontmost → stay offline] → locked"},
      {SessionEvent::sessionBecameActive, true, unlockedCall(),
       "🔓 [SystemLock] session became active [Orvik active → online] → unlocked"},
      {SessionEvent::screensaverStopped, false, lockedCall("lock"),
       "🔒 [SystemLock] screensaver stopped [Orvik not frontmost → stay offline] → locked"},
      {SessionEvent::systemWoke, true, unlockedCall(), "🔓 [SystemLock] system woke [Orvik active → online] → unlocked"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    page_->scripts.clear();
    logged_.clear();
    active_ = c.active;
    observer_->handle(c.event);
    queue_.advance(SystemLockObserver::kUnlockCheckDelay);
    settle();
    EXPECT_THAT(page_->scripts, ElementsAre(c.script));
    EXPECT_THAT(logged_, ElementsAre(c.line));
  }
}

TEST_F(SystemLockObserverTest, TheUnlockCheckReadsTheActiveProgramWhenItRuns) {
  active_ = false;
  observer_->handle(SessionEvent::screenLocked);
  settle();
  observer_->handle(SessionEvent::screenUnlocked);
  queue_.advance(0.39);
  settle();
  EXPECT_THAT(page_->scripts, ElementsAre(lockedCall("lock")));

  active_ = true;  // the user clicks into the program before the check
  queue_.advance(0.01);
  settle();
  EXPECT_THAT(page_->scripts, ElementsAre(lockedCall("lock"), unlockedCall()));
}

TEST_F(SystemLockObserverTest, EveryComingBackEventGetsItsOwnCheck) {
  observer_->handle(SessionEvent::systemWoke);
  queue_.advance(0.2);
  observer_->handle(SessionEvent::screenUnlocked);
  queue_.advance(0.2);
  settle();
  EXPECT_EQ(logged_.size(), 1u);
  queue_.advance(0.2);
  settle();
  EXPECT_THAT(logged_, ElementsAre("🔓 [SystemLock] system woke [Orvik active → online] → unlocked",
                                   "🔓 [SystemLock] screen unlocked [Orvik active → online] → unlocked"));
}

TEST_F(SystemLockObserverTest, WithoutAPageTheChangeIsOnlyLoggedAndAGoneObserverChecksNothing) {
  page_.reset();
  observer_->handle(SessionEvent::screenLocked);
  observer_->handle(SessionEvent::screenUnlocked);
  settle();
  EXPECT_THAT(logged_, ElementsAre("🔒 [SystemLock] screen locked → locked"));
  observer_.reset();
  queue_.advance(1.0);
  settle();
  EXPECT_EQ(logged_.size(), 1u);
}

// A stand-in for logind on the test's own session bus, on a connection of its
// own: the manager answers GetSession with one session, whose signals the
// test sends by hand.
class LogindStandIn {
 public:
  static constexpr const char* kSessionPath = "/org/freedesktop/login1/session/_32";

  explicit LogindStandIn(const std::string& address) {
    connection_ = g_dbus_connection_new_for_address_sync(
        address.c_str(),
        GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                             G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    if (!connection_) return;
    node_ = g_dbus_node_info_new_for_xml(
        "<node><interface name='org.freedesktop.login1.Manager'>"
        "<method name='GetSession'><arg type='s' direction='in'/><arg type='o' direction='out'/></method>"
        "</interface></node>",
        nullptr);
    static const GDBusInterfaceVTable vtable = {
        +[](GDBusConnection*, const char*, const char*, const char*, const char* method, GVariant*,
            GDBusMethodInvocation* invocation, gpointer data) {
          ++static_cast<LogindStandIn*>(data)->sessionLookups;
          if (std::string_view(method) != "GetSession") return;
          g_dbus_method_invocation_return_value(invocation, g_variant_new("(o)", kSessionPath));
        },
        nullptr, nullptr, {}};
    g_dbus_connection_register_object(connection_, "/org/freedesktop/login1", node_->interfaces[0], &vtable, this,
                                      nullptr, nullptr);
    GVariant* reply = g_dbus_connection_call_sync(
        connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
        g_variant_new("(su)", "org.freedesktop.login1", 4u), G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, -1,
        nullptr, nullptr);
    owned_ = reply != nullptr;
    if (reply) g_variant_unref(reply);
  }
  ~LogindStandIn() {
    if (node_) g_dbus_node_info_unref(node_);
    if (connection_) {
      g_dbus_connection_close_sync(connection_, nullptr, nullptr);
      g_object_unref(connection_);
    }
  }
  bool ready() const { return owned_; }

  void emit(const char* path, const char* interface, const char* member, GVariant* parameters = nullptr) {
    g_dbus_connection_emit_signal(connection_, nullptr, path, interface, member, parameters, nullptr);
    g_dbus_connection_flush_sync(connection_, nullptr, nullptr);
  }
  void sessionSignal(const char* member) { emit(kSessionPath, "org.freedesktop.login1.Session", member); }
  void sessionProperty(const char* name, bool value, const char* path = kSessionPath) {
    GVariantBuilder changed;
    g_variant_builder_init(&changed, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&changed, "{sv}", name, g_variant_new_boolean(value));
    emit(path, "org.freedesktop.DBus.Properties", "PropertiesChanged",
         g_variant_new("(sa{sv}as)", "org.freedesktop.login1.Session", &changed, nullptr));
  }
  void prepareForSleep(bool sleeping) {
    emit("/org/freedesktop/login1", "org.freedesktop.login1.Manager", "PrepareForSleep",
         g_variant_new("(b)", sleeping));
  }
  void screensaverActive(bool active) {
    emit("/org/freedesktop/ScreenSaver", "org.freedesktop.ScreenSaver", "ActiveChanged", g_variant_new("(b)", active));
  }

  int sessionLookups = 0;

 private:
  GDBusConnection* connection_ = nullptr;
  GDBusNodeInfo* node_ = nullptr;
  bool owned_ = false;
};

TEST(SystemLockObserverOnTheBus, FollowsTheSessionTheScreenSaverAndSleep) {
  testing::PrivateSessionBus bus;
  ASSERT_FALSE(bus.address().empty());
  LogindStandIn logind(bus.address());
  ASSERT_TRUE(logind.ready());

  bool active = true;
  std::vector<std::string> logged;
  auto page = std::make_shared<platform::RecordingPageScriptSink>();
  SystemLockObserver observer({platform::mainQueue(), [&] { return active; },
                               [&] { return std::weak_ptr<platform::PageScriptSink>(page); },
                               [&](const std::string& line) { logged.push_back(line); }});
  observer.start(platform::makeLogindSessionMonitor({.logindOnSessionBus = true}));
  const auto has = [&](const std::string& line) {
    return std::find(logged.begin(), logged.end(), line) != logged.end();
  };
  const auto expectLine = [&](const std::string& line) {
    EXPECT_TRUE(testing::runMainLoopUntil([&] { return has(line); })) << line;
  };
  // Page calls are queued, so they reach the page a moment after the log line.
  const auto expectPageCall = [&](const std::string& script) {
    EXPECT_TRUE(testing::runMainLoopUntil([&] { return !page->scripts.empty() && page->scripts.back() == script; }))
        << script;
  };

  // The session's signals are followed once the monitor has found the
  // session, a little after it started: knock until it answers.
  ASSERT_TRUE(testing::runMainLoopUntil([&] { return logind.sessionLookups > 0; }));
  bool heard = false;
  for (int attempt = 0; attempt < 100 && !heard; ++attempt) {
    logind.sessionSignal("Lock");
    heard = testing::runMainLoopUntil([&] { return has("🔒 [SystemLock] screen locked → locked"); }, 0.1);
  }
  ASSERT_TRUE(heard);
  expectPageCall(lockedCall("lock"));
  // The bus keeps one sender's order: once this unlock is heard, no knock is
  // still under way.
  logind.sessionSignal("Unlock");
  expectLine("🔓 [SystemLock] screen unlocked [Orvik active → online] → unlocked");
  logged.clear();

  // Another session's lock is not this user's.
  logind.emit("/org/freedesktop/login1/session/c7", "org.freedesktop.login1.Session", "Lock");
  logind.sessionSignal("Unlock");
  expectLine("🔓 [SystemLock] screen unlocked [Orvik active → online] → unlocked");
  expectPageCall(unlockedCall());
  logind.sessionProperty("LockedHint", true);
  expectLine("🔒 [SystemLock] screen locked → locked");
  logind.sessionProperty("Active", false);
  expectLine("🔒 [SystemLock] session resigned active → locked");
  logind.prepareForSleep(true);
  expectLine("🔒 [SystemLock] system sleeping → locked(sleep)");
  expectPageCall(lockedCall("sleep"));
  active = false;
  logind.prepareForSleep(false);
  expectLine("🔒 [SystemLock] system woke [Orvik not frontmost → stay offline] → locked");
  logind.screensaverActive(true);
  expectLine("🔒 [SystemLock] screensaver started → locked");
  logind.sessionProperty("Active", true);
  expectLine("🔒 [SystemLock] session became active [Orvik not frontmost → stay offline] → locked");

  EXPECT_THAT(logged, ElementsAre("🔓 [SystemLock] screen unlocked [Orvik active → online] → unlocked",
                                  "🔒 [SystemLock] screen locked → locked",
                                  "🔒 [SystemLock] session resigned active → locked",
                                  "🔒 [SystemLock] system sleeping → locked(sleep)",
                                  "🔒 [SystemLock] system woke [Orvik not frontmost → stay offline] → locked",
                                  "🔒 [SystemLock] screensaver started → locked",
                                  "🔒 [SystemLock] session became active [Orvik not frontmost → stay offline] → locked"));
}

}  // namespace
}  // namespace orvik
