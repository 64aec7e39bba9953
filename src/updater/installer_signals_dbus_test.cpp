#include "updater/installer_signals_dbus.h"

#include <gio/gio.h>
#include <gtest/gtest.h>

#include "platform/dispatch/task_queue.h"

namespace orvik {
namespace {

struct Recorder : InstallerSignalObserver {
  std::vector<std::string> seen;
  void installerReportedProgress(std::optional<bool> needsAdmin) override {
    seen.push_back(needsAdmin ? (*needsAdmin ? "progress admin" : "progress") : "progress ?");
  }
  void installerFinished(bool success, const std::optional<std::string>& error) override {
    seen.push_back(std::string(success ? "success" : "failure") + (error ? " " + *error : ""));
  }
};

void emit(GDBusConnection* bus, const char* name, const char* info) {
  GVariant* userInfo = g_variant_new_parsed(info);
  g_dbus_connection_emit_signal(bus, nullptr, "/com/orvik/desk/Installer", "com.orvik.desk.Installer", name,
                                g_variant_new_tuple(&userInfo, 1), nullptr);
  g_dbus_connection_flush_sync(bus, nullptr, nullptr);
}

// Runs the default main context until `done` or `seconds`.
template <typename Done>
void spinUntil(Done done, double seconds = 5) {
  auto deadline = g_get_monotonic_time() + static_cast<gint64>(seconds * G_USEC_PER_SEC);
  while (!done() && g_get_monotonic_time() < deadline) g_main_context_iteration(nullptr, FALSE);
}

TEST(InstallerSignalsDbusIntegration, ReadsBothSignalsFromTheSessionBusAndNothingAfterUnsubscribing) {
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  if (!bus) GTEST_SKIP() << "no session bus (run under dbus-run-session)";
  auto& queue = platform::mainQueue();
  DbusInstallerSignals signals(queue);
  Recorder recorder;
  signals.subscribe(recorder);
  emit(bus, "installProgress", "{'needsAdmin': <false>}");
  emit(bus, "installProgress", "{'needsAdmin': <'yes'>}");
  emit(bus, "updateResult", "{'success': <false>, 'error': <'Invalid signature'>}");
  emit(bus, "updateResult", "{'success': <true>}");
  spinUntil([&] { return recorder.seen.size() >= 4; });
  EXPECT_EQ(recorder.seen,
            (std::vector<std::string>{"progress", "progress ?", "failure Invalid signature", "success"}));
  signals.unsubscribe();
  emit(bus, "updateResult", "{'success': <true>}");
  spinUntil([] { return false; }, 0.3);
  EXPECT_EQ(recorder.seen.size(), 4u);
  g_object_unref(bus);
}

}  // namespace
}  // namespace orvik
