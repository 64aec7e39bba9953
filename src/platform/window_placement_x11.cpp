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
constexpr const char* kAllDesktopsKey = "orvik-all-desktops";
// The margin plus one, so that a margin of 0 is still a request.
constexpr const char* kTopRightKey = "orvik-top-right";
constexpr long kAllDesktops = 0xFFFFFFFF;
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

void applyAllDesktops(GtkWindow* window) {
  if (!isX11Window(window) || !gtk_widget_get_mapped(GTK_WIDGET(window))) return;
  const bool all = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(window), kAllDesktopsKey)) != 0;
  ::Display* display = xDisplayOf(window);
  const long current = cardinal(display, DefaultRootWindow(display), "_NET_CURRENT_DESKTOP").value_or(0);
  sendToRoot(display, xWindowOf(window), "_NET_WM_DESKTOP", all ? kAllDesktops : current, kSourceApplication, 0);
  XFlush(display);
}

// The current desktop's work area from _NET_WORKAREA; the whole root window
// when the window manager publishes none.
void workArea(::Display* display, long& x, long& y, long& width, long& height) {
  ::Window root = DefaultRootWindow(display);
  x = y = 0;
  width = DisplayWidth(display, DefaultScreen(display));
  height = DisplayHeight(display, DefaultScreen(display));
  const long desktop = cardinal(display, root, "_NET_CURRENT_DESKTOP").value_or(0);
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(display, root, atom(display, "_NET_WORKAREA"), 0, 1024, False, XA_CARDINAL, &type, &format,
                         &count, &after, &data) == Success &&
      data && format == 32 && count >= static_cast<unsigned long>(desktop + 1) * 4) {
    const long* area = reinterpret_cast<long*>(data) + desktop * 4;
    x = area[0];
    y = area[1];
    width = area[2];
    height = area[3];
  }
  if (data) XFree(data);
}

void applyTopRight(GtkWindow* window) {
  const int stored = GPOINTER_TO_INT(g_object_get_data(G_OBJECT(window), kTopRightKey));
  if (stored == 0 || !isX11Window(window) || !gtk_widget_get_realized(GTK_WIDGET(window))) return;
  const int margin = stored - 1;
  ::Display* display = xDisplayOf(window);
  long x = 0, y = 0, width = 0, height = 0;
  workArea(display, x, y, width, height);
  int w = gtk_widget_get_width(GTK_WIDGET(window));
  int h = 0;
  if (w <= 0) gtk_window_get_default_size(window, &w, &h);
  // Asked of the window manager as the program's own position (its frame
  // goes around it), as an older window manager may ignore a bare move.
  XSizeHints hints{};
  hints.flags = PPosition | USPosition;
  hints.x = static_cast<int>(x + width - w - margin);
  hints.y = static_cast<int>(y + margin);
  XSetWMNormalHints(display, xWindowOf(window), &hints);
  XMoveWindow(display, xWindowOf(window), hints.x, hints.y);
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
  applyTopRight(window);
}

void onMap(GtkWidget* widget, gpointer) {
  GtkWindow* window = GTK_WINDOW(widget);
  if (!isX11Window(window)) return;
  if (g_object_get_data(G_OBJECT(window), kNeverFocusedKey)) {
    dropTakeFocus(window);
    refuseInput(window);
  }
  if (g_object_get_data(G_OBJECT(window), kKeepAboveKey)) applyKeepAbove(window);
  if (g_object_get_data(G_OBJECT(window), kAllDesktopsKey)) applyAllDesktops(window);
  applyTopRight(window);
}

void watch(GtkWindow* window) {
  static constexpr const char* kWatchedKey = "orvik-placement-watched";
  if (g_object_get_data(G_OBJECT(window), kWatchedKey)) return;
  g_object_set_data(G_OBJECT(window), kWatchedKey, GINT_TO_POINTER(1));
  g_signal_connect_after(window, "realize", G_CALLBACK(onRealize), nullptr);
  g_signal_connect_after(window, "map", G_CALLBACK(onMap), nullptr);
}

std::vector<unsigned long> longList(::Display* display, ::Window window, const char* property, ::Atom type,
                                    bool& readable) {
  ::Atom actual = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  std::vector<unsigned long> values;
  readable = XGetWindowProperty(display, window, atom(display, property), 0, 4096, False, type, &actual, &format,
                                &count, &after, &data) == Success &&
             actual == type && format == 32;
  if (readable && data) {
    const auto* items = reinterpret_cast<unsigned long*>(data);
    values.assign(items, items + count);
  }
  if (data) XFree(data);
  return values;
}

// The client windows on the current desktop that can be seen, front to
// back. Other programs' windows may go away while they are read: errors are
// trapped and such a window is left out.
std::optional<std::vector<StackedWindow>> readOnScreenWindows(GdkDisplay* gdkDisplay) {
  ::Display* display = GDK_DISPLAY_XDISPLAY(gdkDisplay);
  const ::Window root = DefaultRootWindow(display);
  bool readable = false;
  const auto stacking = longList(display, root, "_NET_CLIENT_LIST_STACKING", XA_WINDOW, readable);
  if (!readable) return std::nullopt;
  const long current = cardinal(display, root, "_NET_CURRENT_DESKTOP").value_or(0);
  const ::Atom hidden = atom(display, "_NET_WM_STATE_HIDDEN");
  std::vector<StackedWindow> frontToBack;
  gdk_x11_display_error_trap_push(gdkDisplay);
  for (auto it = stacking.rbegin(); it != stacking.rend(); ++it) {
    const ::Window xid = static_cast<::Window>(*it);
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(display, xid, &attributes) || attributes.map_state != IsViewable) continue;
    const auto desktop = cardinal(display, xid, "_NET_WM_DESKTOP");
    if (desktop && (*desktop & kAllDesktops) != kAllDesktops && *desktop != current) continue;
    bool hasStates = false;
    const auto states = longList(display, xid, "_NET_WM_STATE", XA_ATOM, hasStates);
    if (std::find(states.begin(), states.end(), hidden) != states.end()) continue;
    int x = 0, y = 0;
    ::Window child = None;
    if (!XTranslateCoordinates(display, xid, root, 0, 0, &x, &y, &child)) continue;
    frontToBack.push_back({static_cast<std::uint64_t>(xid), {x, y, attributes.width, attributes.height}});
  }
  gdk_x11_display_error_trap_pop_ignored(gdkDisplay);
  return frontToBack;
}

// Tells the observers of one display about the window manager's changes to
// the root window's properties.
class StackingWatch {
 public:
  explicit StackingWatch(GdkDisplay* display) : display_(GDK_DISPLAY(g_object_ref(display))) {
    ::Display* xdisplay = GDK_DISPLAY_XDISPLAY(display_);
    const ::Window root = DefaultRootWindow(xdisplay);
    XWindowAttributes attributes{};
    XGetWindowAttributes(xdisplay, root, &attributes);
    XSelectInput(xdisplay, root, attributes.your_event_mask | PropertyChangeMask);
    XFlush(xdisplay);
    stacking_ = atom(xdisplay, "_NET_CLIENT_LIST_STACKING");
    active_ = atom(xdisplay, "_NET_ACTIVE_WINDOW");
    desktop_ = atom(xdisplay, "_NET_CURRENT_DESKTOP");
    handler_ = g_signal_connect(display_, "xevent", G_CALLBACK(onXEvent), this);
  }
  ~StackingWatch() {
    g_signal_handler_disconnect(display_, handler_);
    g_object_unref(display_);
  }
  StackingWatch(const StackingWatch&) = delete;
  StackingWatch& operator=(const StackingWatch&) = delete;

  GdkDisplay* display() const { return display_; }
  ObserverList<StackingChange>& observers() { return observers_; }

 private:
  static gboolean onXEvent(GdkDisplay*, const XEvent* event, gpointer data) {
    auto* self = static_cast<StackingWatch*>(data);
    if (event->type != PropertyNotify || event->xproperty.window != DefaultRootWindow(event->xproperty.display)) {
      return FALSE;
    }
    const ::Atom changed = event->xproperty.atom;
    if (changed == self->stacking_ || changed == self->active_) {
      self->observers_.notify(StackingChange::order);
    } else if (changed == self->desktop_) {
      self->observers_.notify(StackingChange::currentDesktop);
    }
    return FALSE;  // GDK goes on with the event
  }

  GdkDisplay* display_;
  gulong handler_ = 0;
  ::Atom stacking_ = None;
  ::Atom active_ = None;
  ::Atom desktop_ = None;
  ObserverList<StackingChange> observers_;
};

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

  void setOnAllDesktops(GtkWindow* window, bool all) override {
    g_object_set_data(G_OBJECT(window), kAllDesktopsKey, GINT_TO_POINTER(all ? 1 : 0));
    watch(window);
    applyAllDesktops(window);
  }

  void moveToWorkAreaTopRight(GtkWindow* window, int margin) override {
    g_object_set_data(G_OBJECT(window), kTopRightKey, GINT_TO_POINTER(margin + 1));
    watch(window);
    applyTopRight(window);
  }

  std::uint64_t windowNumber(GtkWindow* window) override {
    if (!isX11Window(window)) return 0;
    return static_cast<std::uint64_t>(xWindowOf(window));
  }

  std::optional<std::vector<StackedWindow>> onScreenWindows() override {
    GdkDisplay* display = gdk_display_get_default();
    if (!display || !GDK_IS_X11_DISPLAY(display)) return std::nullopt;
    return readOnScreenWindows(display);
  }

  Subscription observeStacking(std::function<void(StackingChange)> changed) override {
    GdkDisplay* display = gdk_display_get_default();
    if (!display || !GDK_IS_X11_DISPLAY(display)) return {};
    if (!watch_ || watch_->display() != display) watch_ = std::make_unique<StackingWatch>(display);
    return watch_->observers().add(std::move(changed));
  }

 private:
  std::unique_ptr<StackingWatch> watch_;
};

// Wayland compositors place windows themselves and keep the stacking order
// to themselves: a window can only be shown or presented (which may take the
// focus). What the program asks beyond that is logged once, in one line, the
// first time it asks.
class FallbackWindowPlacement final : public WindowPlacement {
 public:
  void setNeverFocused(GtkWindow*) override { once(); }
  void orderFrontWithoutActivating(GtkWindow* window) override {
    if (!gtk_widget_get_visible(GTK_WIDGET(window))) {
      gtk_widget_set_visible(GTK_WIDGET(window), true);
    } else {
      gtk_window_present(window);
    }
  }
  void setKeepAbove(GtkWindow*, bool) override { once(); }
  void setOnAllDesktops(GtkWindow*, bool) override { once(); }
  void moveToWorkAreaTopRight(GtkWindow*, int) override { once(); }
  std::optional<std::vector<StackedWindow>> onScreenWindows() override {
    once();
    return std::nullopt;
  }
  Subscription observeStacking(std::function<void(StackingChange)>) override {
    once();
    return {};
  }

 private:
  void once() {
    if (logged_) return;
    logged_ = true;
    platformLog(kFallbackPlacementLog);
  }
  bool logged_ = false;
};

}  // namespace

std::unique_ptr<WindowPlacement> makeFallbackWindowPlacement() { return std::make_unique<FallbackWindowPlacement>(); }

std::unique_ptr<WindowPlacement> makeWindowPlacement() {
  GdkDisplay* display = gdk_display_get_default();
  if (display && GDK_IS_X11_DISPLAY(display)) return std::make_unique<X11WindowPlacement>();
  return std::make_unique<FallbackWindowPlacement>();
}

}  // namespace orvik::platform
