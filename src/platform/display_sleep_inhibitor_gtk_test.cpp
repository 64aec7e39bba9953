// GTK's inhibit against a stand-in session manager on a bus of the test's
// own: what reaches the session is what keeps the screen on or lets it lock.
#include "platform/display_sleep_inhibitor.h"

#include <gio/gio.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/test_support/private_session_bus.h"
#include "platform/test_support/subprocess.h"

namespace orvik::platform {
namespace {

constexpr const char* kSessionManagerXml = R"(<node>
  <interface name="org.gnome.SessionManager">
    <method name="Inhibit">
      <arg type="s" name="app_id" direction="in"/><arg type="u" name="toplevel_xid" direction="in"/>
      <arg type="s" name="reason" direction="in"/><arg type="u" name="flags" direction="in"/>
      <arg type="u" name="inhibit_cookie" direction="out"/>
    </method>
    <method name="Uninhibit"><arg type="u" name="inhibit_cookie" direction="in"/></method>
  </interface>
</node>)";

// Answers Inhibit with cookies 1, 2, … and keeps each request's flags and
// reason. Served from a thread of its own: GTK calls it synchronously from
// the test's thread.
class FakeSessionManager {
 public:
  struct Request {
    std::string reason;
    unsigned flags;
    bool operator==(const Request&) const = default;
  };

  explicit FakeSessionManager(std::string address) : address_(std::move(address)) {
    thread_ = std::thread([this] { serve(); });
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return state_ != State::starting; });
  }
  ~FakeSessionManager() {
    if (loop_) g_main_context_invoke(context_, [](gpointer loop) { g_main_loop_quit(static_cast<GMainLoop*>(loop)); return G_SOURCE_REMOVE; }, loop_);
    thread_.join();
  }

  bool isServing() const { return state_ == State::serving; }
  std::vector<Request> requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
  }

 private:
  enum class State { starting, serving, failed };

  void serve() {
    context_ = g_main_context_new();
    g_main_context_push_thread_default(context_);
    GDBusConnection* connection = g_dbus_connection_new_for_address_sync(
        address_.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kSessionManagerXml, nullptr);
    static const GDBusInterfaceVTable vtable = {&FakeSessionManager::onMethodCall, nullptr, nullptr, {}};
    const bool registered = connection && node &&
                            g_dbus_connection_register_object(connection, "/org/gnome/SessionManager",
                                                              node->interfaces[0], &vtable, this, nullptr,
                                                              nullptr) != 0;
    GVariant* owned = registered ? g_dbus_connection_call_sync(
                                       connection, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                       "org.freedesktop.DBus", "RequestName",
                                       g_variant_new("(su)", "org.gnome.SessionManager", 4u /* do not queue */),
                                       G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr)
                                 : nullptr;
    guint32 reply = 0;
    if (owned) {
      g_variant_get(owned, "(u)", &reply);
      g_variant_unref(owned);
    }
    const bool serving = reply == 1;  // primary owner
    if (serving) loop_ = g_main_loop_new(context_, FALSE);
    {
      std::lock_guard lock(mutex_);
      state_ = serving ? State::serving : State::failed;
    }
    changed_.notify_all();
    if (serving) {
      g_main_loop_run(loop_);
      g_main_loop_unref(loop_);
    }
    if (node) g_dbus_node_info_unref(node);
    if (connection) {
      g_dbus_connection_close_sync(connection, nullptr, nullptr);
      g_object_unref(connection);
    }
    g_main_context_pop_thread_default(context_);
    g_main_context_unref(context_);
  }

  static void onMethodCall(GDBusConnection*, const char*, const char*, const char*, const char* method,
                           GVariant* parameters, GDBusMethodInvocation* invocation, gpointer data) {
    auto* self = static_cast<FakeSessionManager*>(data);
    if (g_strcmp0(method, "Inhibit") == 0) {
      const char* reason = nullptr;
      guint32 flags = 0;
      g_variant_get(parameters, "(&su&su)", nullptr, nullptr, &reason, &flags);
      std::lock_guard lock(self->mutex_);
      self->requests_.push_back({reason, flags});
      g_dbus_method_invocation_return_value(invocation, g_variant_new("(u)", guint32(self->requests_.size())));
      return;
    }
    g_dbus_method_invocation_return_value(invocation, nullptr);
  }

  std::string address_;
  std::thread thread_;
  GMainContext* context_ = nullptr;
  GMainLoop* loop_ = nullptr;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  State state_ = State::starting;
  std::vector<Request> requests_;
};

TEST(GtkDisplaySleepInhibitor, SuspendOnlyLetsTheScreenLockWhileAFullInhibitionKeepsItOn) {
  if (!orvik::testing::hasProgram("dbus-daemon")) GTEST_SKIP() << "needs dbus-daemon";
  orvik::testing::PrivateSessionBus bus;
  ASSERT_FALSE(bus.address().empty());
  if (!bus.isProcessSessionBus()) GTEST_SKIP() << "an earlier test in this process holds another session bus";
  if (!gtk_init_check()) GTEST_SKIP() << "no display";
  FakeSessionManager manager(bus.address());
  ASSERT_TRUE(manager.isServing());

  GtkApplication* application = gtk_application_new("com.orvik.desk.inhibitTest", G_APPLICATION_NON_UNIQUE);
  g_application_set_default(G_APPLICATION(application));
  GError* error = nullptr;
  ASSERT_TRUE(g_application_register(G_APPLICATION(application), nullptr, &error)) << error->message;

  auto inhibitor = makeGtkDisplaySleepInhibitor({});
  const unsigned note = inhibitor->inhibitSuspend("voice note");
  const unsigned call = inhibitor->inhibit("call");
  EXPECT_NE(note, 0u);
  EXPECT_NE(call, 0u);
  using Request = FakeSessionManager::Request;
  EXPECT_EQ(manager.requests(), (std::vector<Request>{{"voice note", GTK_APPLICATION_INHIBIT_SUSPEND},
                                                      {"call", GTK_APPLICATION_INHIBIT_IDLE |
                                                                   GTK_APPLICATION_INHIBIT_SUSPEND}}));
  inhibitor->uninhibit(note);
  inhibitor->uninhibit(call);
  g_application_set_default(nullptr);
  g_object_unref(application);
}

}  // namespace
}  // namespace orvik::platform
