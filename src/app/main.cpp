// orvikdesk: the desktop client's program entry.
#include <gtk/gtk.h>

#include <string>

#include "app/application.h"
#include "app/window_identity.h"
#include "core/native_logger.h"
#include "platform/dispatch/glib_main_queue.h"

namespace {

// Where GTK looked for a display, for the log line when it found none.
std::string displayNamed() {
  const char* wayland = g_getenv("WAYLAND_DISPLAY");
  const char* x11 = g_getenv("DISPLAY");
  if (!(wayland && *wayland) && !(x11 && *x11)) return "neither WAYLAND_DISPLAY nor DISPLAY is set";
  std::string named;
  if (wayland && *wayland) named += std::string("WAYLAND_DISPLAY=") + wayland;
  if (x11 && *x11) named += (named.empty() ? "" : ", ") + std::string("DISPLAY=") + x11;
  return named + " cannot be opened";
}

}  // namespace

int main(int, char** argv) {
  // Never destroyed: a worker that outlives main (one left stuck in a D-Bus
  // call at quit) may still post its answer while the process exits.
  auto* queue = new orvik::platform::GlibMainQueue();
  orvik::platform::ScopedMainQueue mainQueue(*queue);
  orvik::routePlatformLogToNativeLog();
  // Without a display server there is no window to show: say so and stop
  // with an error, before any launch step runs (GTK would end the process
  // itself later, with less to go on).
  if (!gtk_init_check()) {
    orvik::nativeLog("[Launch] ❌ no display server: " + displayNamed() + " — cannot open a window, exiting");
    return 1;
  }
  orvik::applyWindowIdentity(orvik::platform::AppInfo::current());
  // Without a session bus the program still runs, as the only instance and
  // without a keyring (the device identity falls back to its private file).
  GError* error = nullptr;
  // Kept, not released: the application uses the same connection.
  if (!g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error)) {
    orvik::nativeLog(std::string("[Launch] ⚠️ no session bus (") + (error ? error->message : "unknown error") +
                     ") — going on without single-instance hand-off, keyring or notifications");
    g_clear_error(&error);
  }
  auto application = orvik::OrvikApplication::create();
  return application->runProgram(argv[0]);
}
