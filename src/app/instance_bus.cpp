#include "app/instance_bus.h"

#include <gio/gio.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

namespace orvik {
namespace {

constexpr int kCallTimeoutMs = 2000;
constexpr auto kPollInterval = std::chrono::milliseconds(50);

const char* kIntrospection =
    "<node>"
    "  <interface name='com.orvik.desk.Instance'>"
    "    <method name='GetVersion'><arg type='s' name='version' direction='out'/></method>"
    "    <method name='Quit'/>"
    "  </interface>"
    "</node>";

struct ExportedInstance {
  std::string version;
  std::function<void()> onQuit;
};

GVariant* callBus(GDBusConnection* connection, const char* method, GVariant* parameters, const char* replyType) {
  GError* error = nullptr;
  GVariant* reply = g_dbus_connection_call_sync(connection, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                "org.freedesktop.DBus", method, parameters,
                                                G_VARIANT_TYPE(replyType), G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs,
                                                nullptr, &error);
  g_clear_error(&error);
  return reply;
}

bool hasOwner(GDBusConnection* connection, const std::string& name) {
  GVariant* reply = callBus(connection, "NameHasOwner", g_variant_new("(s)", name.c_str()), "(b)");
  if (!reply) return false;
  gboolean owned = FALSE;
  g_variant_get(reply, "(b)", &owned);
  g_variant_unref(reply);
  return owned;
}

void handleMethodCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method, GVariant*,
                      GDBusMethodInvocation* invocation, gpointer data) {
  auto* instance = static_cast<ExportedInstance*>(data);
  if (g_strcmp0(method, "GetVersion") == 0) {
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(s)", instance->version.c_str()));
    return;
  }
  if (g_strcmp0(method, "Quit") == 0) {
    g_dbus_method_invocation_return_value(invocation, nullptr);
    if (instance->onQuit) instance->onQuit();
    return;
  }
  g_dbus_method_invocation_return_error(invocation, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_METHOD, "unknown method");
}

const GDBusInterfaceVTable kVTable = {handleMethodCall, nullptr, nullptr, {}};

}  // namespace

std::string applicationObjectPath(const std::string& applicationId) {
  std::string path = "/" + applicationId;
  for (char& c : path) {
    if (c == '.') c = '/';
    else if (c == '-') c = '_';
  }
  return path;
}

InstanceBusChannel::InstanceBusChannel(std::string applicationId) : applicationId_(std::move(applicationId)) {
  GError* error = nullptr;
  connection_ = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
  g_clear_error(&error);
}

InstanceBusChannel::~InstanceBusChannel() {
  if (connection_) g_object_unref(connection_);
}

std::optional<OtherInstance> InstanceBusChannel::findOther() {
  if (!connection_) return std::nullopt;
  GVariant* reply = callBus(connection_, "GetNameOwner", g_variant_new("(s)", applicationId_.c_str()), "(s)");
  if (!reply) return std::nullopt;
  const gchar* owner = nullptr;
  g_variant_get(reply, "(&s)", &owner);
  owner_ = owner;
  g_variant_unref(reply);

  OtherInstance other;
  GError* error = nullptr;
  GVariant* version = g_dbus_connection_call_sync(connection_, owner_.c_str(),
                                                  applicationObjectPath(applicationId_).c_str(), kInstanceInterface,
                                                  "GetVersion", nullptr, G_VARIANT_TYPE("(s)"),
                                                  G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr, &error);
  g_clear_error(&error);
  if (version) {
    const gchar* text = nullptr;
    g_variant_get(version, "(&s)", &text);
    other.version = text;
    g_variant_unref(version);
  }
  if (GVariant* pid = callBus(connection_, "GetConnectionUnixProcessID", g_variant_new("(s)", owner_.c_str()), "(u)")) {
    guint32 value = 0;
    g_variant_get(pid, "(u)", &value);
    g_variant_unref(pid);
    pid_ = static_cast<pid_t>(value);
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/" + std::to_string(value) + "/exe", ec);
    if (!ec) other.path = exe.string();
  }
  return other;
}

void InstanceBusChannel::askToQuit() {
  if (!connection_ || owner_.empty()) return;
  g_dbus_connection_call(connection_, owner_.c_str(), applicationObjectPath(applicationId_).c_str(),
                         kInstanceInterface, "Quit", nullptr, nullptr, G_DBUS_CALL_FLAGS_NO_AUTO_START,
                         kCallTimeoutMs, nullptr, nullptr, nullptr);
  g_dbus_connection_flush_sync(connection_, nullptr, nullptr);
}

bool InstanceBusChannel::waitForExit(double seconds) {
  if (!connection_ || owner_.empty()) return true;
  // Nothing else runs yet in this process (its main loop has not started),
  // so a plain poll of the bus is all the wait needs.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (hasOwner(connection_, owner_)) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(kPollInterval);
  }
  return true;
}

void InstanceBusChannel::forceTerminate() {
  if (pid_ > 0 && pid_ != ::getpid()) ::kill(pid_, SIGKILL);
}

unsigned exportInstanceObject(GDBusConnection* connection, const std::string& objectPath, std::string version,
                              std::function<void()> onQuit) {
  static GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
  if (!node || !connection) return 0;
  auto* instance = new ExportedInstance{std::move(version), std::move(onQuit)};
  GError* error = nullptr;
  const unsigned id = g_dbus_connection_register_object(
      connection, objectPath.c_str(), node->interfaces[0], &kVTable, instance,
      [](gpointer data) { delete static_cast<ExportedInstance*>(data); }, &error);
  g_clear_error(&error);
  return id;
}

void unexportInstanceObject(GDBusConnection* connection, unsigned registrationId) {
  if (connection && registrationId) g_dbus_connection_unregister_object(connection, registrationId);
}

}  // namespace orvik
