#include <gio/gio.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/queue_checker.h"
#include "platform/session_monitor.h"

namespace orvik::platform {
namespace {

constexpr const char* kLogind = "org.freedesktop.login1";
constexpr const char* kLogindPath = "/org/freedesktop/login1";
constexpr const char* kManager = "org.freedesktop.login1.Manager";
constexpr const char* kSession = "org.freedesktop.login1.Session";
constexpr const char* kProperties = "org.freedesktop.DBus.Properties";

bool wasCancelled(const GError* error) { return g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED); }

class LogindSessionMonitor final : public SessionMonitor {
 public:
  explicit LogindSessionMonitor(LogindSessionMonitorOptions options)
      : options_(options), cancellable_(g_cancellable_new()) {}

  ~LogindSessionMonitor() override {
    g_cancellable_cancel(cancellable_);
    for (auto [connection, id] : subscriptions_) g_dbus_connection_signal_unsubscribe(connection, id);
    g_clear_object(&cancellable_);
    g_clear_object(&logind_);
    g_clear_object(&sessionBus_);
  }

  void start(Handler handler) override {
    ORVIK_ASSERT_ON_MAIN_QUEUE();
    if (handler_) return;
    handler_ = std::move(handler);
    logind_ = g_bus_get_sync(options_.logindOnSessionBus ? G_BUS_TYPE_SESSION : G_BUS_TYPE_SYSTEM, nullptr, nullptr);
    if (logind_) {
      subscribe(logind_, kLogind, kManager, "PrepareForSleep", kLogindPath, nullptr);
      g_dbus_connection_call(logind_, kLogind, kLogindPath, kManager, "GetSession", g_variant_new("(s)", "auto"),
                             G_VARIANT_TYPE("(o)"), G_DBUS_CALL_FLAGS_NONE, -1, cancellable_, onSessionFound, this);
    }
    sessionBus_ = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (sessionBus_) {
      // Any sender: the screen saver's name differs between desktops.
      subscribe(sessionBus_, nullptr, "org.freedesktop.ScreenSaver", "ActiveChanged", nullptr, nullptr);
      subscribe(sessionBus_, nullptr, "org.gnome.ScreenSaver", "ActiveChanged", nullptr, nullptr);
    }
  }

 private:
  void subscribe(GDBusConnection* connection, const char* sender, const char* interface, const char* member,
                 const char* path, const char* arg0) {
    const guint id = g_dbus_connection_signal_subscribe(connection, sender, interface, member, path, arg0,
                                                        G_DBUS_SIGNAL_FLAGS_NONE, onSignal, this, nullptr);
    subscriptions_.emplace_back(connection, id);
  }

  // A program started by the user's service manager is in no session of its
  // own; "auto" then fails and the user's graphical session is the one.
  static void onSessionFound(GObject* source, GAsyncResult* result, gpointer data) {
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
    if (wasCancelled(error)) {
      g_error_free(error);
      return;
    }
    auto* self = static_cast<LogindSessionMonitor*>(data);
    if (reply) {
      const char* path = nullptr;
      g_variant_get(reply, "(&o)", &path);
      self->watchSession(path);
      g_variant_unref(reply);
      return;
    }
    g_clear_error(&error);
    g_dbus_connection_call(self->logind_, kLogind, "/org/freedesktop/login1/user/self", kProperties, "Get",
                           g_variant_new("(ss)", "org.freedesktop.login1.User", "Display"), G_VARIANT_TYPE("(v)"),
                           G_DBUS_CALL_FLAGS_NONE, -1, self->cancellable_, onDisplaySessionFound, self);
  }

  static void onDisplaySessionFound(GObject* source, GAsyncResult* result, gpointer data) {
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
    if (!reply) {
      // Cancelled, or no logind session at all: the session's events stay out.
      g_error_free(error);
      return;
    }
    GVariant* display = nullptr;
    g_variant_get(reply, "(v)", &display);
    if (g_variant_is_of_type(display, G_VARIANT_TYPE("(so)"))) {
      const char* path = nullptr;
      g_variant_get(display, "(&s&o)", nullptr, &path);
      if (std::string_view(path) != "/") static_cast<LogindSessionMonitor*>(data)->watchSession(path);
    }
    g_variant_unref(display);
    g_variant_unref(reply);
  }

  void watchSession(const char* path) {
    subscribe(logind_, kLogind, kSession, "Lock", path, nullptr);
    subscribe(logind_, kLogind, kSession, "Unlock", path, nullptr);
    subscribe(logind_, kLogind, kProperties, "PropertiesChanged", path, kSession);
  }

  static void onSignal(GDBusConnection*, const char*, const char*, const char* interface, const char* member,
                       GVariant* parameters, gpointer data) {
    auto* self = static_cast<LogindSessionMonitor*>(data);
    const std::string_view name(member);
    if (name == "Lock") {
      self->handler_(SessionEvent::screenLocked);
    } else if (name == "Unlock") {
      self->handler_(SessionEvent::screenUnlocked);
    } else if (name == "PrepareForSleep" && g_variant_is_of_type(parameters, G_VARIANT_TYPE("(b)"))) {
      gboolean sleeping = FALSE;
      g_variant_get(parameters, "(b)", &sleeping);
      self->handler_(sleeping ? SessionEvent::systemSleeping : SessionEvent::systemWoke);
    } else if (name == "ActiveChanged" && g_variant_is_of_type(parameters, G_VARIANT_TYPE("(b)"))) {
      gboolean active = FALSE;
      g_variant_get(parameters, "(b)", &active);
      self->handler_(active ? SessionEvent::screensaverStarted : SessionEvent::screensaverStopped);
    } else if (name == "PropertiesChanged" && std::string_view(interface) == kProperties &&
               g_variant_is_of_type(parameters, G_VARIANT_TYPE("(sa{sv}as)"))) {
      self->onSessionPropertiesChanged(parameters);
    }
  }

  void onSessionPropertiesChanged(GVariant* parameters) {
    GVariant* changed = g_variant_get_child_value(parameters, 1);
    gboolean value = FALSE;
    // The lock first: a session that is locked and sent away at once is
    // reported away for both reasons, in a fixed order.
    if (g_variant_lookup(changed, "LockedHint", "b", &value)) {
      handler_(value ? SessionEvent::screenLocked : SessionEvent::screenUnlocked);
    }
    if (g_variant_lookup(changed, "Active", "b", &value)) {
      handler_(value ? SessionEvent::sessionBecameActive : SessionEvent::sessionResignedActive);
    }
    g_variant_unref(changed);
  }

  LogindSessionMonitorOptions options_;
  GCancellable* cancellable_ = nullptr;
  GDBusConnection* logind_ = nullptr;
  GDBusConnection* sessionBus_ = nullptr;
  std::vector<std::pair<GDBusConnection*, guint>> subscriptions_;
  Handler handler_;
};

}  // namespace

std::unique_ptr<SessionMonitor> makeLogindSessionMonitor(LogindSessionMonitorOptions options) {
  return std::make_unique<LogindSessionMonitor>(options);
}

}  // namespace orvik::platform
