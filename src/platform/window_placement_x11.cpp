// The X11 backend speaks EWMH to the window manager; the fallback does what
// GTK offers on other displays. Kept apart from gtkmm: Xlib's macros clash
// with its names.
#include <gdk/x11/gdkx.h>
#include <gtk/gtk.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform_log.h"
#include "platform/window_placement.h"

namespace orvik::platform {
namespace {

constexpr const char* kNeverFocusedKey = "orvik-never-focused";
constexpr const char* kKeepAboveKey = "orvik-keep-above";
constexpr long kNetWmStateRemove = 0;
constexpr long kNetWmStateAdd = 1;
constexpr long kSourceApplication = 1;

GdkSurface* surfaceOf(GtkWindow* window) { return gtk_native_get_surface(GTK_NATIVE(window)); }

bool isX11Window(GtkWindow* window) {
  GdkSurface* surface = surfaceOf(window);
  return surface && GDK_IS_X11_SURFACE(surface);
}

::Display* xDisplayOf(GtkWindow* window) {
  return GDK_DISPLAY_XDISPLAY(gtk_widget_get_display(GTK_WIDGET(window)));
}

::Window xWindowOf(GtkWindow* window) { return GDK_SURFACE_XID(surfaceOf(window)); }

::Atom atom(::Display* display, const char* name) { return XInternAtom(display, name, False); }

void sendToRoot(::Display* display, ::Window window, const char* message, long a, long b, long c) {
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = atom(display, message);
  event.xclient.format = 32;
  event.xclient.data.l[0] = a;
  event.xclient.data.l[1] = b;
  event.xclient.data.l[2] = c;
  XSendEvent(display, DefaultRootWindow(display), False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
}

std::optional<long> cardinal(::Display* display, ::Window window, const char* property) {
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  std::optional<long> value;
  if (XGetWindowProperty(display, window, atom(display, property), 0, 1, False, XA_CARDINAL, &type, &format, &count,
                         &after, &data) == Success &&
      data && count == 1 && format == 32) {
    value = *reinterpret_cast<long*>(data);
  }
  if (data) XFree(data);
  return value;
}

void applyKeepAbove(GtkWindow* window) {
  if (!isX11Window(window) || !gtk_widget_get_mapped(GTK_WIDGET(window))) return;
  const bool above = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(window), kKeepAboveKey)) != 0;
  ::Display* display = xDisplayOf(window);
  sendToRoot(display, xWindowOf(window), "_NET_WM_STATE", above ? kNetWmStateAdd : kNetWmStateRemove,
             static_cast<long>(atom(display, "_NET_WM_STATE_ABOVE")), kSourceApplication);
  XFlush(display);
}

// The window manager gives the focus only to windows that take input or ask
// to be told (WM_TAKE_FOCUS); a window that does neither still gets its
// clicks. GTK writes both when the window is realised and shown, so they are
// rewritten after that.
void dropTakeFocus(GtkWindow* window) {
  ::Display* display = xDisplayOf(window);
  const ::Window xid = xWindowOf(window);
  ::Atom* protocols = nullptr;
  int count = 0;
  if (XGetWMProtocols(display, xid, &protocols, &count)) {
    const ::Atom takeFocus = atom(display, "WM_TAKE_FOCUS");
    std::vector<::Atom> kept;
    for (int i = 0; i < count; ++i) {
      if (protocols[i] != takeFocus) kept.push_back(protocols[i]);
    }
    XSetWMProtocols(display, xid, kept.data(), static_cast<int>(kept.size()));
    XFree(protocols);
  }
}

void refuseInput(GtkWindow* window) {
  ::Display* display = xDisplayOf(window);
  const ::Window xid = xWindowOf(window);
  XWMHints* hints = XGetWMHints(display, xid);
  XWMHints fresh{};
  XWMHints* target = hints ? hints : &fresh;
  target->flags |= InputHint;
  target->input = False;
  XSetWMHints(display, xid, target);
  if (hints) XFree(hints);
  XFlush(display);
}

void onRealize(GtkWidget* widget, gpointer) {
  GtkWindow* window = GTK_WINDOW(widget);
  if (!isX11Window(window)) return;
  // A user time of 0 asks the window manager not to focus the window when
  // it is mapped.
  gdk_x11_surface_set_user_time(surfaceOf(window), 0);
  if (g_object_get_data(G_OBJECT(window), kNeverFocusedKey)) dropTakeFocus(window);
}

void onMap(GtkWidget* widget, gpointer) {
  GtkWindow* window = GTK_WINDOW(widget);
  if (!isX11Window(window)) return;
  if (g_object_get_data(G_OBJECT(window), kNeverFocusedKey)) {
    dropTakeFocus(window);
    refuseInput(window);
  }
  if (g_object_get_data(G_OBJECT(window), kKeepAboveKey)) applyKeepAbove(window);
}

void watch(GtkWindow* window) {
  static constexpr const char* kWatchedKey = "orvik-placement-watched";
  if (g_object_get_data(G_OBJECT(window), kWatchedKey)) return;
  g_object_set_data(G_OBJECT(window), kWatchedKey, GINT_TO_POINTER(1));
  g_signal_connect_after(window, "realize", G_CALLBACK(onRealize), nullptr);
  g_signal_connect_after(window, "map", G_CALLBACK(onMap), nullptr);
}

class X11WindowPlacement final : public WindowPlacement {
 public:
  void setNeverFocused(GtkWindow* window) override {
    g_object_set_data(G_OBJECT(window), kNeverFocusedKey, GINT_TO_POINTER(1));
    watch(window);
    if (gtk_widget_get_realized(GTK_WIDGET(window))) onRealize(GTK_WIDGET(window), nullptr);
    if (gtk_widget_get_mapped(GTK_WIDGET(window))) onMap(GTK_WIDGET(window), nullptr);
  }

  void orderFrontWithoutActivating(GtkWindow* window) override {
    watch(window);
    if (!gtk_widget_get_visible(GTK_WIDGET(window))) {
      gtk_widget_set_visible(GTK_WIDGET(window), true);
      return;
    }
    if (!isX11Window(window) || !gtk_widget_get_mapped(GTK_WIDGET(window))) return;
    ::Display* display = xDisplayOf(window);
    const ::Window xid = xWindowOf(window);
    const auto current = cardinal(display, DefaultRootWindow(display), "_NET_CURRENT_DESKTOP");
    const auto desktop = cardinal(display, xid, "_NET_WM_DESKTOP");
    constexpr long kAllDesktops = 0xFFFFFFFF;
    if (current && desktop && *desktop != *current && *desktop != kAllDesktops) {
      sendToRoot(display, xid, "_NET_WM_DESKTOP", *current, kSourceApplication, 0);
    }
    XRaiseWindow(display, xid);
    XFlush(display);
  }

  void setKeepAbove(GtkWindow* window, bool above) override {
    g_object_set_data(G_OBJECT(window), kKeepAboveKey, GINT_TO_POINTER(above ? 1 : 0));
    watch(window);
    applyKeepAbove(window);
  }
};

// Wayland compositors place windows themselves: a window can only be shown
// or presented (which may take the focus), never kept above or kept from the
// focus by the program.
class FallbackWindowPlacement final : public WindowPlacement {
 public:
  void setNeverFocused(GtkWindow*) override { once("cannot keep call windows from taking the focus"); }
  void orderFrontWithoutActivating(GtkWindow* window) override {
    if (!gtk_widget_get_visible(GTK_WIDGET(window))) {
      gtk_widget_set_visible(GTK_WIDGET(window), true);
    } else {
      gtk_window_present(window);
    }
  }
  void setKeepAbove(GtkWindow*, bool) override { once("cannot keep call windows above other windows"); }

 private:
  void once(const char* what) {
    if (logged_) return;
    logged_ = true;
    platformLog(std::string("[WindowPlacement] this display ") + what + " (no X11)");
  }
  bool logged_ = false;
};

}  // namespace

std::unique_ptr<WindowPlacement> makeWindowPlacement() {
  GdkDisplay* display = gdk_display_get_default();
  if (display && GDK_IS_X11_DISPLAY(display)) return std::make_unique<X11WindowPlacement>();
  return std::make_unique<FallbackWindowPlacement>();
}

}  // namespace orvik::platform
