#include "calls/windows/test_support/openbox_display.h"

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <vector>

#include <gdk/x11/gdkx.h>
#include <glib.h>
#include <gtk/gtk.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include "calls/windows/test_support/x11_window_lists.h"
#include "platform/test_support/background_process.h"
#include "platform/test_support/subprocess.h"

namespace orvik::testing {
namespace {

// Runs the main context until `done` or the time runs out; the time is a
// safety net against a hung start, not a measure.
bool iterate(const std::function<bool()>& done, double seconds) {
  const gint64 deadline = g_get_monotonic_time() + static_cast<gint64>(seconds * G_USEC_PER_SEC);
  while (!done() && g_get_monotonic_time() < deadline) {
    if (!g_main_context_iteration(nullptr, FALSE)) g_usleep(5000);
  }
  return done();
}

}  // namespace

std::optional<std::string> OpenboxDisplay::unavailable(const Options& options) {
  std::vector<const char*> programs{"Xvfb", "openbox"};
  if (options.compositor) programs.push_back("xcompmgr");
  for (const char* program : programs) {
    if (!hasProgram(program)) return std::string(program) + " is not installed (scripts/deps)";
  }
  return std::nullopt;
}

std::unique_ptr<OpenboxDisplay> OpenboxDisplay::start(const Options& options, std::string& error) {
  auto made = std::unique_ptr<OpenboxDisplay>(new OpenboxDisplay());
  const std::string screen = std::to_string(options.width) + "x" + std::to_string(options.height) + "x24";
  made->server_ = BackgroundProcess::start({"Xvfb", "-displayfd", "1", "-screen", "0", screen, "-nolisten", "tcp"});
  const auto number = made->server_ ? made->server_->waitForLine([](const std::string& l) { return !l.empty(); }, 30.0)
                                    : std::nullopt;
  if (!number) {
    error = "Xvfb did not start";
    return nullptr;
  }
  made->name_ = ":" + *number;
  const std::vector<std::pair<std::string, std::string>> env{{"DISPLAY", made->name_},
                                                             {"HOME", options.home.string()}};
  made->windowManager_ = BackgroundProcess::start({"openbox", "--sm-disable"}, env);
  if (!made->windowManager_) {
    error = "openbox did not start";
    return nullptr;
  }
  if (options.compositor) {
    made->compositor_ = BackgroundProcess::start({"xcompmgr"}, env);
    if (!made->compositor_) {
      error = "xcompmgr did not start";
      return nullptr;
    }
  }
  // GTK keeps the display it started on, which can never be closed; the
  // test's display is opened beside it and closed before its server goes.
  GdkDisplayManager* manager = gdk_display_manager_get();
  made->previous_ = gdk_display_manager_get_default_display(manager);
  if (made->previous_) g_object_ref(made->previous_);
  made->display_ = gdk_display_open(made->name_.c_str());
  if (!made->display_ || !GDK_IS_X11_DISPLAY(made->display_)) {
    error = "GDK did not open " + made->name_ + " as an X11 display";
    return nullptr;
  }
  gdk_display_manager_set_default_display(manager, made->display_);
  if (options.exportDisplay) {
    if (const char* old = std::getenv("DISPLAY")) made->previousDisplayVariable_ = old;
    setenv("DISPLAY", made->name_.c_str(), 1);
    made->exported_ = true;
  }
  // The window manager owns the display once it names itself on the root.
  ::Display* x = made->x();
  if (!iterate([x] { return !windowList(x, DefaultRootWindow(x), "_NET_SUPPORTING_WM_CHECK", XA_WINDOW).empty(); },
               20.0)) {
    error = "openbox did not take the display";
    return nullptr;
  }
  if (options.compositor &&
      !iterate([display = made->display_] { return gdk_display_is_composited(display) != FALSE; }, 20.0)) {
    error = "xcompmgr did not start compositing";
    return nullptr;
  }
  return made;
}

OpenboxDisplay::~OpenboxDisplay() {
  if (exported_) {
    if (previousDisplayVariable_) {
      setenv("DISPLAY", previousDisplayVariable_->c_str(), 1);
    } else {
      unsetenv("DISPLAY");
    }
  }
  if (display_) {
    if (previous_) gdk_display_manager_set_default_display(gdk_display_manager_get(), previous_);
    gdk_display_close(display_);
  }
  if (previous_) g_object_unref(previous_);
  if (compositor_) compositor_->kill();
  if (windowManager_) windowManager_->kill();
  if (server_) server_->kill();
}

_XDisplay* OpenboxDisplay::x() const { return GDK_DISPLAY_XDISPLAY(display_); }

unsigned long OpenboxDisplay::xid(GtkWindow* window) const {
  return GDK_SURFACE_XID(gtk_native_get_surface(GTK_NATIVE(window)));
}

bool OpenboxDisplay::managed(GtkWindow* window) const {
  if (!gtk_widget_get_mapped(GTK_WIDGET(window))) return false;
  const auto clients = windowList(x(), DefaultRootWindow(x()), "_NET_CLIENT_LIST", XA_WINDOW);
  return std::find(clients.begin(), clients.end(), xid(window)) != clients.end();
}

bool OpenboxDisplay::isAbove(GtkWindow* upper, GtkWindow* lower) const {
  const auto order = windowList(x(), DefaultRootWindow(x()), "_NET_CLIENT_LIST_STACKING", XA_WINDOW);
  const auto u = std::find(order.begin(), order.end(), xid(upper));
  const auto l = std::find(order.begin(), order.end(), xid(lower));
  return u != order.end() && l != order.end() && u > l;
}

bool OpenboxDisplay::hasState(GtkWindow* window, const char* state) const {
  const auto states = windowList(x(), xid(window), "_NET_WM_STATE", XA_ATOM);
  return std::find(states.begin(), states.end(), XInternAtom(x(), state, False)) != states.end();
}

}  // namespace orvik::testing
