#include "installer/dbus_notifier.h"

namespace orvik::installer {

DbusNotifier::DbusNotifier(GDBusConnection* bus, InstallerLog& log)
    : bus_(bus ? G_DBUS_CONNECTION(g_object_ref(bus)) : nullptr), log_(log) {}

DbusNotifier::~DbusNotifier() {
  if (bus_) g_object_unref(bus_);
}

void DbusNotifier::emit(const char* name, GVariant* userInfo) {
  GVariant* parameters = g_variant_new_tuple(&userInfo, 1);
  if (!bus_) {
    g_variant_unref(g_variant_ref_sink(parameters));
    return;
  }
  g_dbus_connection_emit_signal(bus_, nullptr, kNotifierObjectPath, kNotifierInterface, name, parameters, nullptr);
  g_dbus_connection_flush_sync(bus_, nullptr, nullptr);
}

void DbusNotifier::sendProgress(bool needsAdmin) {
  log_.write(std::string("📮 [Installer] Sending progress to main app — needsAdmin=") +
             (needsAdmin ? "true" : "false"));
  GVariantBuilder builder;
  g_variant_builder_init(&builder, G_VARIANT_TYPE("a{sv}"));
  g_variant_builder_add(&builder, "{sv}", "needsAdmin", g_variant_new_boolean(needsAdmin));
  emit("installProgress", g_variant_builder_end(&builder));
}

void DbusNotifier::sendResult(bool success, const std::optional<std::string>& error) {
  log_.write(std::string("📮 [Installer] Sending result to main app — success=") + (success ? "true" : "false") +
             " error=" + (error ? *error : "none"));
  GVariantBuilder builder;
  g_variant_builder_init(&builder, G_VARIANT_TYPE("a{sv}"));
  g_variant_builder_add(&builder, "{sv}", "success", g_variant_new_boolean(success));
  if (error) g_variant_builder_add(&builder, "{sv}", "error", g_variant_new_string(error->c_str()));
  emit("updateResult", g_variant_builder_end(&builder));
}

}  // namespace orvik::installer
