#include <gio/gio.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/notifier.h"
#include "platform/platform_log.h"
#include "platform/queue_checker.h"

namespace orvik::platform {
namespace {

constexpr const char* kServer = "org.freedesktop.Notifications";
constexpr const char* kServerPath = "/org/freedesktop/Notifications";
constexpr const char* kServerInterface = "org.freedesktop.Notifications";
// The user closed the banner (the other reasons: it expired, we closed it,
// or the server gave no reason).
constexpr std::uint32_t kClosedByUser = 2;
// The one action every banner carries: opening it.
constexpr const char* kDefaultAction = "default";
// The per-application switches of GNOME's notification settings.
constexpr const char* kGnomeAppSchema = "org.gnome.desktop.notifications.application";

bool wasCancelled(const GError* error) { return g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED); }

// GNOME keeps one settings folder per application, named after its desktop
// entry with dots turned into dashes.
std::string gnomeSettingsPath(std::string desktopEntry) {
  std::replace(desktopEntry.begin(), desktopEntry.end(), '.', '-');
  std::transform(desktopEntry.begin(), desktopEntry.end(), desktopEntry.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return "/org/gnome/desktop/notifications/application/" + desktopEntry + "/";
}

class FreedesktopNotifier final : public Notifier {
 public:
  FreedesktopNotifier(std::string appName, std::string desktopEntry)
      : appName_(std::move(appName)), desktopEntry_(std::move(desktopEntry)), cancellable_(g_cancellable_new()) {}

  ~FreedesktopNotifier() override {
    g_cancellable_cancel(cancellable_);
    if (bus_) {
      for (guint id : subscriptions_) g_dbus_connection_signal_unsubscribe(bus_, id);
    }
    g_clear_object(&cancellable_);
    g_clear_object(&bus_);
  }

  void add(NotificationRequest request, Completion completion) override {
    ORVIK_ASSERT_ON_MAIN_QUEUE();
    if (!connect()) {
      if (completion) completion(std::string("no session bus"));
      return;
    }
    GVariantBuilder actions;
    g_variant_builder_init(&actions, G_VARIANT_TYPE("as"));
    g_variant_builder_add(&actions, "s", kDefaultAction);
    g_variant_builder_add(&actions, "s", "Open");
    GVariantBuilder hints;
    g_variant_builder_init(&hints, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&hints, "{sv}", "desktop-entry", g_variant_new_string(desktopEntry_.c_str()));
    g_variant_builder_add(&hints, "{sv}", "urgency", g_variant_new_byte(request.timeSensitive ? 2 : 1));
    if (request.category == "MESSAGE") {
      g_variant_builder_add(&hints, "{sv}", "category", g_variant_new_string("im.received"));
    } else if (request.category == "CALL") {
      g_variant_builder_add(&hints, "{sv}", "category", g_variant_new_string("x-orvik.call.incoming"));
    }
    if (request.sound) {
      g_variant_builder_add(&hints, "{sv}", "sound-file", g_variant_new_string(request.sound->c_str()));
    } else {
      g_variant_builder_add(&hints, "{sv}", "suppress-sound", g_variant_new_boolean(TRUE));
    }
    // A time-sensitive banner stays until the user acts on it.
    const gint32 timeout = request.timeSensitive ? 0 : -1;
    GVariant* parameters = g_variant_new("(susssasa{sv}i)", appName_.c_str(), 0u, desktopEntry_.c_str(),
                                         request.title.c_str(), request.body.c_str(), &actions, &hints, timeout);
    auto* pending = new PendingAdd{this, std::move(request), std::move(completion)};
    g_dbus_connection_call(bus_, kServer, kServerPath, kServerInterface, "Notify", parameters, G_VARIANT_TYPE("(u)"),
                           G_DBUS_CALL_FLAGS_NONE, -1, cancellable_, onNotifyReply, pending);
  }

  void settings(std::function<void(const NotificationSettings&)> completion) override {
    ORVIK_ASSERT_ON_MAIN_QUEUE();
    if (!connect()) {
      completion(NotificationSettings{});
      return;
    }
    auto* pending = new PendingSettings{this, std::move(completion)};
    // A server that answers (or is started by the bus to answer) shows banners.
    g_dbus_connection_call(bus_, kServer, kServerPath, kServerInterface, "GetServerInformation", nullptr,
                           G_VARIANT_TYPE("(ssss)"), G_DBUS_CALL_FLAGS_NONE, 5000, cancellable_, onServerInformation,
                           pending);
  }

  std::vector<NotificationRequest> delivered() const override {
    std::vector<NotificationRequest> requests;
    for (const Entry& entry : shown_) requests.push_back(entry.request);
    return requests;
  }

  void removeDelivered(const std::vector<std::string>& identifiers) override {
    ORVIK_ASSERT_ON_MAIN_QUEUE();
    std::vector<std::uint32_t> closing;
    std::erase_if(shown_, [&](const Entry& entry) {
      const bool match = std::find(identifiers.begin(), identifiers.end(), entry.request.identifier) != identifiers.end();
      if (match) closing.push_back(entry.serverId);
      return match;
    });
    for (std::uint32_t id : closing) close(id);
  }

  void removeAllDelivered() override {
    ORVIK_ASSERT_ON_MAIN_QUEUE();
    std::vector<Entry> all = std::exchange(shown_, {});
    for (const Entry& entry : all) close(entry.serverId);
  }

  void setResponseHandler(ResponseHandler handler) override { handler_ = std::move(handler); }

 private:
  struct Entry {
    std::uint32_t serverId = 0;
    NotificationRequest request;
  };
  struct PendingAdd {
    FreedesktopNotifier* self;
    NotificationRequest request;
    Completion completion;
  };
  struct PendingSettings {
    FreedesktopNotifier* self;
    std::function<void(const NotificationSettings&)> completion;
  };

  bool connect() {
    if (bus_) return true;
    GError* error = nullptr;
    bus_ = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (!bus_) {
      platformLog(std::string("[LOCAL-NOTIF] no session bus: ") + (error ? error->message : "unknown"));
      g_clear_error(&error);
      return false;
    }
    subscriptions_.push_back(g_dbus_connection_signal_subscribe(bus_, nullptr, kServerInterface, "ActionInvoked",
                                                                kServerPath, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
                                                                onActionInvoked, this, nullptr));
    subscriptions_.push_back(g_dbus_connection_signal_subscribe(bus_, nullptr, kServerInterface, "NotificationClosed",
                                                                kServerPath, nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
                                                                onClosed, this, nullptr));
    return true;
  }

  void close(std::uint32_t serverId) {
    g_dbus_connection_call(bus_, kServer, kServerPath, kServerInterface, "CloseNotification",
                           g_variant_new("(u)", serverId), nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr,
                           nullptr);
  }

  static void onNotifyReply(GObject* source, GAsyncResult* result, gpointer data) {
    std::unique_ptr<PendingAdd> pending(static_cast<PendingAdd*>(data));
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
    if (wasCancelled(error)) {
      g_error_free(error);
      return;
    }
    if (!reply) {
      std::string message = error ? error->message : "no reply";
      g_clear_error(&error);
      if (pending->completion) pending->completion(message);
      return;
    }
    std::uint32_t serverId = 0;
    g_variant_get(reply, "(u)", &serverId);
    g_variant_unref(reply);
    pending->self->shown_.push_back(Entry{serverId, std::move(pending->request)});
    if (pending->completion) pending->completion(std::nullopt);
  }

  static void onServerInformation(GObject* source, GAsyncResult* result, gpointer data) {
    std::unique_ptr<PendingSettings> pending(static_cast<PendingSettings*>(data));
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
    if (wasCancelled(error)) {
      g_error_free(error);
      return;
    }
    NotificationSettings settings;
    if (reply) {
      g_variant_unref(reply);
      settings = pending->self->desktopSettings();
    }
    g_clear_error(&error);
    pending->completion(settings);
  }

  // With a server present: what the desktop's own switches for this program
  // say, where the desktop has them (GNOME); allowed otherwise.
  NotificationSettings desktopSettings() const {
    NotificationSettings settings{NotificationAuthorization::authorized, true, true};
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    GSettingsSchema* schema = source ? g_settings_schema_source_lookup(source, kGnomeAppSchema, TRUE) : nullptr;
    if (!schema) return settings;
    GSettings* app = g_settings_new_full(schema, nullptr, gnomeSettingsPath(desktopEntry_).c_str());
    auto flag = [&](const char* key, bool fallback) {
      return g_settings_schema_has_key(schema, key) ? g_settings_get_boolean(app, key) != FALSE : fallback;
    };
    if (!flag("enable", true)) settings.authorization = NotificationAuthorization::denied;
    settings.alertsEnabled = flag("show-banners", true);
    settings.soundsEnabled = flag("enable-sound-alerts", true);
    g_object_unref(app);
    g_settings_schema_unref(schema);
    return settings;
  }

  static void onActionInvoked(GDBusConnection*, const char*, const char*, const char*, const char*,
                              GVariant* parameters, gpointer data) {
    std::uint32_t serverId = 0;
    const char* action = nullptr;
    g_variant_get(parameters, "(u&s)", &serverId, &action);
    if (std::string_view(action) != kDefaultAction) return;
    static_cast<FreedesktopNotifier*>(data)->respond(serverId, NotificationAction::open);
  }

  static void onClosed(GDBusConnection*, const char*, const char*, const char*, const char*, GVariant* parameters,
                       gpointer data) {
    std::uint32_t serverId = 0;
    std::uint32_t reason = 0;
    g_variant_get(parameters, "(uu)", &serverId, &reason);
    auto* self = static_cast<FreedesktopNotifier*>(data);
    if (reason == kClosedByUser) self->respond(serverId, NotificationAction::dismiss);
    std::erase_if(self->shown_, [&](const Entry& entry) { return entry.serverId == serverId; });
  }

  // Banners of other programs share the server's signals; only ours count.
  void respond(std::uint32_t serverId, NotificationAction action) {
    auto entry = std::find_if(shown_.begin(), shown_.end(), [&](const Entry& e) { return e.serverId == serverId; });
    if (entry == shown_.end()) return;
    const NotificationResponse response{entry->request.identifier, entry->request.userInfo, action};
    // One answer per banner: the server closes an opened banner next, and
    // that close is no second answer.
    shown_.erase(entry);
    if (!handler_) return;
    // The handler may withdraw banners, this one included.
    ResponseHandler handler = handler_;
    handler(response);
  }

  std::string appName_;
  std::string desktopEntry_;
  GCancellable* cancellable_ = nullptr;
  GDBusConnection* bus_ = nullptr;
  std::vector<guint> subscriptions_;
  std::vector<Entry> shown_;
  ResponseHandler handler_;
};

class LauncherEntryBadge final : public Badge {
 public:
  explicit LauncherEntryBadge(std::string desktopFileName) : appUri_("application://" + std::move(desktopFileName)) {}
  ~LauncherEntryBadge() override { g_clear_object(&bus_); }

  std::optional<std::string> label() const override { return label_; }

  void setLabel(std::optional<std::string> label) override {
    ORVIK_ASSERT_ON_MAIN_QUEUE();
    label_ = std::move(label);
    if (!bus_) bus_ = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (!bus_) return;
    // Launchers show numbers only; a label that is none hides the count.
    gint64 count = 0;
    bool visible = false;
    if (label_) {
      char* end = nullptr;
      count = g_ascii_strtoll(label_->c_str(), &end, 10);
      visible = end && *end == '\0' && !label_->empty();
    }
    GVariantBuilder properties;
    g_variant_builder_init(&properties, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&properties, "{sv}", "count", g_variant_new_int64(visible ? count : 0));
    g_variant_builder_add(&properties, "{sv}", "count-visible", g_variant_new_boolean(visible ? TRUE : FALSE));
    g_dbus_connection_emit_signal(bus_, nullptr, "/com/orvik/desk/LauncherEntry", "com.canonical.Unity.LauncherEntry",
                                  "Update", g_variant_new("(sa{sv})", appUri_.c_str(), &properties), nullptr);
  }

 private:
  std::string appUri_;
  GDBusConnection* bus_ = nullptr;
  std::optional<std::string> label_;
};

}  // namespace

std::unique_ptr<Notifier> makeFreedesktopNotifier(std::string appName, std::string desktopEntry) {
  return std::make_unique<FreedesktopNotifier>(std::move(appName), std::move(desktopEntry));
}

std::unique_ptr<Badge> makeLauncherEntryBadge(std::string desktopFileName) {
  return std::make_unique<LauncherEntryBadge>(std::move(desktopFileName));
}

}  // namespace orvik::platform
