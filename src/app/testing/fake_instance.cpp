// A stand-in for an older running OrvikDesk in the single-instance tests: it
// owns the application's bus name and answers "com.orvik.desk.Instance" with
// the version it is given. With "--ignore-quit" it stays when asked to quit,
// so that only the forced end removes it. It prints "ready" once it owns the
// name, and "activated" when a launch hands its start to it (GApplication's
// own "Activate" call).
#include <gio/gio.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "app/instance_bus.h"

namespace {

GMainLoop* gLoop = nullptr;
bool gIgnoreQuit = false;
std::string gVersion;

// What GApplication asks of the instance it hands a launch to: its actions
// (none here) and the activation itself.
const char* kApplicationInterface =
    "<node><interface name='org.gtk.Application'>"
    "  <method name='Activate'><arg type='a{sv}' name='platform-data' direction='in'/></method>"
    "</interface>"
    "<interface name='org.gtk.Actions'>"
    "  <method name='DescribeAll'><arg type='a{s(bgav)}' name='list' direction='out'/></method>"
    "</interface></node>";

void onApplicationCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method, GVariant*,
                       GDBusMethodInvocation* invocation, gpointer) {
  if (std::strcmp(method, "DescribeAll") == 0) {
    g_dbus_method_invocation_return_value(invocation, g_variant_new_parsed("(@a{s(bgav)} {},)"));
    return;
  }
  if (std::strcmp(method, "Activate") == 0) {
    std::printf("activated\n");
    std::fflush(stdout);
  }
  g_dbus_method_invocation_return_value(invocation, nullptr);
}

void onBusAcquired(GDBusConnection* connection, const gchar*, gpointer) {
  const std::string path = orvik::applicationObjectPath("com.orvik.desk");
  orvik::exportInstanceObject(connection, path, gVersion, [] {
    if (!gIgnoreQuit) g_main_loop_quit(gLoop);
  });
  static GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kApplicationInterface, nullptr);
  static const GDBusInterfaceVTable vtable = {onApplicationCall, nullptr, nullptr, {}};
  for (int i = 0; i < 2; ++i) {
    g_dbus_connection_register_object(connection, path.c_str(), node->interfaces[i], &vtable, nullptr, nullptr, nullptr);
  }
}

void onNameAcquired(GDBusConnection*, const gchar*, gpointer) {
  std::printf("ready\n");
  std::fflush(stdout);
}

void onNameLost(GDBusConnection*, const gchar*, gpointer) { g_main_loop_quit(gLoop); }

}  // namespace

int main(int argc, char** argv) {
  gVersion = argc > 1 ? argv[1] : "0.1";
  gIgnoreQuit = argc > 2 && std::strcmp(argv[2], "--ignore-quit") == 0;
  gLoop = g_main_loop_new(nullptr, FALSE);
  const guint owner = g_bus_own_name(G_BUS_TYPE_SESSION, "com.orvik.desk", G_BUS_NAME_OWNER_FLAGS_NONE, onBusAcquired,
                                     onNameAcquired, onNameLost, nullptr, nullptr);
  g_main_loop_run(gLoop);
  g_bus_unown_name(owner);
  g_main_loop_unref(gLoop);
  return 0;
}
