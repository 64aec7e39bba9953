#include "updater/installer_signals_dbus.h"

#include <unistd.h>

#include <gio/gio.h>

#include "platform/dispatch/task_queue.h"

namespace orvik {
namespace {

constexpr const char* kObjectPath = "/com/orvik/desk/Installer";
constexpr const char* kInterface = "com.orvik.desk.Installer";

}  // namespace

// Shared with the bus callback; cleared when the subscription ends, so a
// signal already queued is dropped.
struct DbusInstallerSignals::Delivery {
  InstallerSignalObserver* observer = nullptr;
  platform::TaskQueue* queue = nullptr;
};

DbusInstallerSignals::DbusInstallerSignals(platform::TaskQueue& queue, GDBusConnection* bus) : queue_(queue) {
  if (bus) bus_ = G_DBUS_CONNECTION(g_object_ref(bus));
}

DbusInstallerSignals::~DbusInstallerSignals() {
  unsubscribe();
  if (bus_) g_object_unref(bus_);
}

void DbusInstallerSignals::subscribe(InstallerSignalObserver& observer) {
  unsubscribe();
  if (!bus_) bus_ = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  if (!bus_) return;  // no session bus: the deadlines will end the wait
  delivery_ = std::make_shared<Delivery>(Delivery{&observer, &queue_});
  auto* holder = new std::weak_ptr<Delivery>(delivery_);
  auto onSignal = [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* name,
                     GVariant* parameters, gpointer data) {
    auto weak = *static_cast<std::weak_ptr<Delivery>*>(data);
    auto delivery = weak.lock();
    if (!delivery || !g_variant_is_of_type(parameters, G_VARIANT_TYPE("(a{sv})"))) return;
    GVariant* info = g_variant_get_child_value(parameters, 0);
    std::optional<bool> needsAdmin, success;
    std::optional<std::string> error;
    if (GVariant* v = g_variant_lookup_value(info, "needsAdmin", G_VARIANT_TYPE_BOOLEAN)) {
      needsAdmin = g_variant_get_boolean(v);
      g_variant_unref(v);
    }
    if (GVariant* v = g_variant_lookup_value(info, "success", G_VARIANT_TYPE_BOOLEAN)) {
      success = g_variant_get_boolean(v);
      g_variant_unref(v);
    }
    if (GVariant* v = g_variant_lookup_value(info, "error", G_VARIANT_TYPE_STRING)) {
      error = g_variant_get_string(v, nullptr);
      g_variant_unref(v);
    }
    g_variant_unref(info);
    bool progress = g_strcmp0(name, "installProgress") == 0;
    delivery->queue->post([weak, progress, needsAdmin, success, error] {
      auto live = weak.lock();
      if (!live || !live->observer) return;
      if (progress) live->observer->installerReportedProgress(needsAdmin);
      else live->observer->installerFinished(success.value_or(false), error);
    });
  };
  subscription_ = g_dbus_connection_signal_subscribe(
      bus_, nullptr, kInterface, nullptr, kObjectPath, nullptr, G_DBUS_SIGNAL_FLAGS_NONE, onSignal, holder,
      [](gpointer data) { delete static_cast<std::weak_ptr<Delivery>*>(data); });
}

void DbusInstallerSignals::unsubscribe() {
  if (delivery_) delivery_->observer = nullptr;
  delivery_.reset();
  if (bus_ && subscription_) g_dbus_connection_signal_unsubscribe(bus_, subscription_);
  subscription_ = 0;
}

bool SpawnInstallerLauncher::exists(const std::filesystem::path& program) {
  return g_file_test(program.c_str(), G_FILE_TEST_IS_EXECUTABLE) &&
         !g_file_test(program.c_str(), G_FILE_TEST_IS_DIR);
}

bool SpawnInstallerLauncher::launch(const std::filesystem::path& program) {
  gchar* argv[] = {const_cast<gchar*>(program.c_str()), nullptr};
  // GLib starts it through an intermediate child, so it is not ours to reap;
  // its own session keeps it alive when we quit for the relaunch.
  auto ownSession = [](gpointer) { setsid(); };
  return g_spawn_async(nullptr, argv, nullptr, G_SPAWN_STDIN_FROM_DEV_NULL, ownSession, nullptr, nullptr, nullptr);
}

}  // namespace orvik
