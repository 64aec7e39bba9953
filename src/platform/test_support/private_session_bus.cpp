#include "platform/test_support/private_session_bus.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gio/gio.h>

#include "platform/test_support/subprocess.h"

namespace orvik::testing {

PrivateSessionBus::PrivateSessionBus() {
  const auto config = dir_ / "session.conf";
  TempDir::writeFile(config, "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                             " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                             "<busconfig><type>session</type>\n"
                             "<listen>unix:dir=" + dir_.path().string() + "</listen>\n"
                             "<auth>EXTERNAL</auth>\n"
                             "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                             "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n");
  const std::string configArgument = "--config-file=" + config.string();
  const char* argv[] = {"dbus-daemon", configArgument.c_str(), "--nofork", "--print-address=1", nullptr};
  GPid pid = 0;
  int out = -1;
  if (!g_spawn_async_with_pipes(nullptr, const_cast<char**>(argv), nullptr,
                                static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD |
                                                         G_SPAWN_STDERR_TO_DEV_NULL),
                                nullptr, nullptr, &pid, nullptr, &out, nullptr, nullptr)) {
    return;
  }
  pid_ = pid;
  // The daemon prints its address once it listens.
  std::string line;
  char c = 0;
  while (::read(out, &c, 1) == 1 && c != '\n') line += c;
  ::close(out);
  address_ = line;
  if (!address_.empty()) environment_.set("DBUS_SESSION_BUS_ADDRESS", address_);
}

PrivateSessionBus::~PrivateSessionBus() {
  // GIO keeps the process's session bus connection, and a connection whose
  // bus goes away raises SIGTERM in the process unless told otherwise.
  if (isProcessSessionBus()) {
    if (GDBusConnection* connection = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr)) {
      g_dbus_connection_set_exit_on_close(connection, FALSE);
      g_object_unref(connection);
    }
  }
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
}

bool PrivateSessionBus::isProcessSessionBus() const {
  if (address_.empty()) return false;
  GDBusConnection* connection = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  if (!connection) return false;
  const bool same = !g_dbus_connection_is_closed(connection) &&
                    address_.find(std::string("guid=") + g_dbus_connection_get_guid(connection)) != std::string::npos;
  g_object_unref(connection);
  return same;
}

bool PrivateSessionBus::waitForName(const std::string& name) {
  if (address_.empty()) return false;
  GMainContext* context = g_main_context_new();
  g_main_context_push_thread_default(context);
  GDBusConnection* connection = g_dbus_connection_new_for_address_sync(
      address_.c_str(),
      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, nullptr);
  enum class Outcome { waiting, appeared, gaveUp } outcome = Outcome::waiting;
  if (connection) {
    const guint watch = g_bus_watch_name_on_connection(
        connection, name.c_str(), G_BUS_NAME_WATCHER_FLAGS_NONE,
        [](GDBusConnection*, const gchar*, const gchar*, gpointer out) { *static_cast<Outcome*>(out) = Outcome::appeared; },
        nullptr, &outcome, nullptr);
    // A bound for a daemon that died on the way, not a measure of speed.
    GSource* bound = g_timeout_source_new_seconds(60);
    g_source_set_callback(
        bound, [](gpointer out) { *static_cast<Outcome*>(out) = Outcome::gaveUp; return G_SOURCE_REMOVE; }, &outcome,
        nullptr);
    g_source_attach(bound, context);
    while (outcome == Outcome::waiting) g_main_context_iteration(context, TRUE);
    g_source_destroy(bound);
    g_source_unref(bound);
    g_bus_unwatch_name(watch);
    g_dbus_connection_close_sync(connection, nullptr, nullptr);
    g_object_unref(connection);
  }
  g_main_context_pop_thread_default(context);
  g_main_context_unref(context);
  return outcome == Outcome::appeared;
}

bool PrivateSessionBus::startUnlockedKeyring() {
  if (address_.empty() || !hasProgram("gnome-keyring-daemon")) return false;
  // The daemon may still be on its way to the bus when the command returns.
  return runProcess({"gnome-keyring-daemon", "--unlock", "--components=secrets"}, "testpass").exitCode == 0 &&
         waitForName("org.freedesktop.secrets");
}

}  // namespace orvik::testing
