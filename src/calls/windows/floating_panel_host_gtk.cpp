#include "calls/windows/floating_panel_host_gtk.h"

#include <gtk/gtk.h>

#include <algorithm>

#include "platform/dispatch/task_queue.h"
#include "platform/window_placement.h"

namespace orvik {

namespace {

constexpr const char* kWatchedKey = "orvik-floating-panel-watched";
constexpr const char* kMinimisedKey = "orvik-floating-panel-minimised";
// A press and the activation it causes are one click.
constexpr double kOneClick = 0.3;

bool isMinimised(GtkWindow* window) {
  GdkSurface* surface = gtk_native_get_surface(GTK_NATIVE(window));
  return surface && GDK_IS_TOPLEVEL(surface) &&
         (gdk_toplevel_get_state(GDK_TOPLEVEL(surface)) & GDK_TOPLEVEL_STATE_MINIMIZED) != 0;
}

}  // namespace

struct FloatingPanelHostGtk::Watched {
  GWeakRef window;
  GtkEventController* presses = nullptr;
  GdkSurface* surface = nullptr;  // while realised
};

FloatingPanelHostGtk::FloatingPanelHostGtk(platform::TaskQueue& queue, platform::WindowPlacement& placement,
                                           Windows windows)
    : queue_(queue), placement_(placement), windows_(std::move(windows)) {
  // Without a display there are no windows to watch.
  if (!gtk_is_initialized()) return;
  watchToplevels();
  reportedActive_ = isApplicationActive();
  stacking_ = placement_.observeStacking([this](platform::StackingChange change) { stackingChanged(change); });
}

FloatingPanelHostGtk::~FloatingPanelHostGtk() {
  if (pendingResign_) pendingResign_->cancel();
  if (toplevels_) g_signal_handlers_disconnect_by_data(toplevels_, this);
  for (auto& watched : watched_) {
    if (auto* window = static_cast<GtkWindow*>(g_weak_ref_get(&watched->window))) {
      g_signal_handlers_disconnect_by_data(window, this);
      if (watched->presses) gtk_widget_remove_controller(GTK_WIDGET(window), watched->presses);
      if (watched->surface) g_signal_handlers_disconnect_by_data(watched->surface, this);
      g_object_set_data(G_OBJECT(window), kWatchedKey, nullptr);
      g_object_unref(window);
    }
    g_weak_ref_clear(&watched->window);
  }
}

// ---- What the panel reads ----

std::optional<std::vector<platform::StackedWindow>> FloatingPanelHostGtk::onScreenWindows() {
  return placement_.onScreenWindows();
}

FloatingPanelWindow FloatingPanelHostGtk::snapshot(GtkWindow* window,
                                                   const std::optional<std::vector<platform::StackedWindow>>& stack) {
  FloatingPanelWindow facts;
  facts.number = placement_.windowNumber(window);
  facts.isVisible = gtk_widget_get_visible(GTK_WIDGET(window));
  facts.isMiniaturized = isMinimised(window);
  facts.isFullScreen = gtk_window_is_fullscreen(window);
  facts.frame = {0, 0, gtk_widget_get_width(GTK_WIDGET(window)), gtk_widget_get_height(GTK_WIDGET(window))};
  if (stack) {
    if (const auto index = platform::stackIndex(*stack, facts.number)) facts.frame = (*stack)[*index].frame;
    facts.isVisibleOnScreen = facts.number != 0 && platform::isUncovered(*stack, facts.number);
  } else {
    // The display does not say what covers what: a shown window counts as seen.
    facts.isVisibleOnScreen = gtk_widget_get_mapped(GTK_WIDGET(window)) && !facts.isMiniaturized;
  }
  return facts;
}

std::optional<FloatingPanelWindow> FloatingPanelHostGtk::audioCallWindow() {
  GtkWindow* window = windows_.audioCallWindow ? windows_.audioCallWindow() : nullptr;
  if (!window) return std::nullopt;
  return snapshot(window, onScreenWindows());
}

std::optional<FloatingPanelWindow> FloatingPanelHostGtk::videoCallWindow() {
  GtkWindow* window = windows_.videoCallWindow ? windows_.videoCallWindow() : nullptr;
  if (!window) return std::nullopt;
  return snapshot(window, onScreenWindows());
}

std::vector<FloatingPanelWindow> FloatingPanelHostGtk::mainWindows() {
  std::vector<FloatingPanelWindow> facts;
  if (!windows_.mainWindows) return facts;
  const auto stack = onScreenWindows();
  for (GtkWindow* window : windows_.mainWindows()) facts.push_back(snapshot(window, stack));
  return facts;
}

bool FloatingPanelHostGtk::isApplicationActive() {
  if (!toplevels_) return false;
  const unsigned count = g_list_model_get_n_items(toplevels_);
  for (unsigned i = 0; i < count; ++i) {
    auto* window = static_cast<GtkWindow*>(g_list_model_get_item(toplevels_, i));
    const bool active = gtk_window_is_active(window);
    g_object_unref(window);
    if (active) return true;
  }
  return false;
}

FloatingPanelWindowRole FloatingPanelHostGtk::roleOf(GtkWindow* window) {
  if (windows_.audioCallWindow && windows_.audioCallWindow() == window) return FloatingPanelWindowRole::audioCallWindow;
  if (windows_.videoCallWindow && windows_.videoCallWindow() == window) return FloatingPanelWindowRole::videoCallWindow;
  if (windows_.isOtherCallWindow && windows_.isOtherCallWindow(window)) return FloatingPanelWindowRole::otherCallWindow;
  if (windows_.mainWindows) {
    const auto mains = windows_.mainWindows();
    if (std::find(mains.begin(), mains.end(), window) != mains.end()) return FloatingPanelWindowRole::mainWindow;
  }
  return FloatingPanelWindowRole::notMain;
}

// ---- What the panel asks for ----

void FloatingPanelHostGtk::raiseCallWindows() {
  if (windows_.raiseCallWindows) windows_.raiseCallWindows();
}

void FloatingPanelHostGtk::showVideoPictureInPicture() {
  if (windows_.showVideoPictureInPicture) windows_.showVideoPictureInPicture();
}

void FloatingPanelHostGtk::hideVideoPictureInPicture() {
  if (windows_.hideVideoPictureInPicture) windows_.hideVideoPictureInPicture();
}

platform::Subscription FloatingPanelHostGtk::observe(std::function<void(const FloatingPanelEvent&)> event) {
  return events_.add(std::move(event));
}

platform::Subscription FloatingPanelHostGtk::monitorClicks(std::function<void(const FloatingPanelClick&)> click) {
  return clicks_.add(std::move(click));
}

// ---- Watching the program's windows ----

void FloatingPanelHostGtk::watchToplevels() {
  toplevels_ = gtk_window_get_toplevels();
  g_signal_connect(toplevels_, "items-changed", G_CALLBACK(onToplevelsChanged), this);
  onToplevelsChanged(toplevels_, 0, 0, g_list_model_get_n_items(toplevels_), this);
}

void FloatingPanelHostGtk::onToplevelsChanged(GListModel* list, unsigned position, unsigned, unsigned added,
                                              void* data) {
  auto* self = static_cast<FloatingPanelHostGtk*>(data);
  for (unsigned i = position; i < position + added; ++i) {
    auto* window = static_cast<GtkWindow*>(g_list_model_get_item(list, i));
    self->watch(window);
    g_object_unref(window);
  }
  // A window that went may have been the active one.
  self->activityMayHaveChanged();
}

void FloatingPanelHostGtk::watch(GtkWindow* window) {
  if (g_object_get_data(G_OBJECT(window), kWatchedKey)) return;
  g_object_set_data(G_OBJECT(window), kWatchedKey, this);
  auto watched = std::make_unique<Watched>();
  g_weak_ref_init(&watched->window, window);
  Watched* raw = watched.get();
  watched_.push_back(std::move(watched));

  // Every left press in the window, seen before its widgets and passed on.
  raw->presses = gtk_event_controller_legacy_new();
  gtk_event_controller_set_propagation_phase(raw->presses, GTK_PHASE_CAPTURE);
  g_signal_connect(raw->presses, "event", G_CALLBACK(+[](GtkEventControllerLegacy* controller, GdkEvent* event,
                                                         gpointer data) -> gboolean {
                     if (gdk_event_get_event_type(event) == GDK_BUTTON_PRESS &&
                         gdk_button_event_get_button(event) == GDK_BUTTON_PRIMARY) {
                       GtkWidget* widget = gtk_event_controller_get_widget(GTK_EVENT_CONTROLLER(controller));
                       static_cast<FloatingPanelHostGtk*>(data)->windowPressed(GTK_WINDOW(widget));
                     }
                     return GDK_EVENT_PROPAGATE;
                   }),
                   this);
  gtk_widget_add_controller(GTK_WIDGET(window), raw->presses);

  g_signal_connect(window, "notify::is-active", G_CALLBACK(+[](GtkWindow* w, GParamSpec*, gpointer data) {
                     auto* self = static_cast<FloatingPanelHostGtk*>(data);
                     if (gtk_window_is_active(w)) self->windowBecameActive(w);
                     self->activityMayHaveChanged();
                   }),
                   this);
  auto watchSurface = +[](GtkWidget* widget, gpointer data) {
    auto* self = static_cast<FloatingPanelHostGtk*>(data);
    GdkSurface* surface = gtk_native_get_surface(GTK_NATIVE(widget));
    if (!surface) return;
    for (auto& entry : self->watched_) {
      auto* window = static_cast<GtkWidget*>(g_weak_ref_get(&entry->window));
      if (window == widget) entry->surface = surface;
      if (window) g_object_unref(window);
    }
    g_signal_connect(surface, "notify::state", G_CALLBACK(+[](GdkSurface* s, GParamSpec*, gpointer d) {
                       GtkNative* native = gtk_native_get_for_surface(s);
                       if (!native || !GTK_IS_WINDOW(native)) return;
                       GtkWindow* w = GTK_WINDOW(native);
                       const bool minimised = isMinimised(w);
                       const bool was = g_object_get_data(G_OBJECT(s), kMinimisedKey) != nullptr;
                       g_object_set_data(G_OBJECT(s), kMinimisedKey, GINT_TO_POINTER(minimised ? 1 : 0));
                       if (minimised != was) static_cast<FloatingPanelHostGtk*>(d)->windowStateChanged(w, minimised);
                     }),
                     data);
  };
  g_signal_connect_after(window, "realize", G_CALLBACK(watchSurface), this);
  g_signal_connect(window, "unrealize", G_CALLBACK(+[](GtkWidget* widget, gpointer data) {
                     auto* self = static_cast<FloatingPanelHostGtk*>(data);
                     if (GdkSurface* surface = gtk_native_get_surface(GTK_NATIVE(widget))) {
                       g_signal_handlers_disconnect_by_data(surface, self);
                     }
                     for (auto& entry : self->watched_) {
                       auto* window = static_cast<GtkWidget*>(g_weak_ref_get(&entry->window));
                       if (window == widget) entry->surface = nullptr;
                       if (window) g_object_unref(window);
                     }
                   }),
                   this);
  if (gtk_widget_get_realized(GTK_WIDGET(window))) watchSurface(GTK_WIDGET(window), this);
}

// ---- Events ----

void FloatingPanelHostGtk::windowPressed(GtkWindow* window) {
  const FloatingPanelWindowRole role = roleOf(window);
  if (role == FloatingPanelWindowRole::mainWindow) {
    // The activation this press causes is the same click.
    g_object_set_data(G_OBJECT(window), "orvik-floating-pressed-at",
                      GSIZE_TO_POINTER(static_cast<gsize>(g_get_monotonic_time() / 1000)));
  }
  if (clicks_.size() == 0) return;
  clicks_.notify({role, snapshot(window, onScreenWindows())});
}

void FloatingPanelHostGtk::windowBecameActive(GtkWindow* window) {
  if (clicks_.size() == 0 || roleOf(window) != FloatingPanelWindowRole::mainWindow) return;
  const auto pressedAt =
      static_cast<gint64>(GPOINTER_TO_SIZE(g_object_get_data(G_OBJECT(window), "orvik-floating-pressed-at")));
  if (pressedAt != 0 && g_get_monotonic_time() / 1000 - pressedAt < static_cast<gint64>(kOneClick * 1000)) return;
  clicks_.notify({FloatingPanelWindowRole::mainWindow, snapshot(window, onScreenWindows())});
}

void FloatingPanelHostGtk::windowStateChanged(GtkWindow* window, bool minimised) {
  if (minimised) events_.notify({FloatingPanelEvent::Kind::windowDidMiniaturize, roleOf(window)});
  recheckOcclusion();
}

void FloatingPanelHostGtk::activityMayHaveChanged() {
  const bool active = isApplicationActive();
  if (active) {
    if (pendingResign_) pendingResign_->cancel();
    pendingResign_.reset();
    if (!reportedActive_) {
      reportedActive_ = true;
      events_.notify({FloatingPanelEvent::Kind::applicationDidBecomeActive});
    }
    return;
  }
  if (!reportedActive_ || pendingResign_) return;
  pendingResign_ = std::make_shared<platform::WorkItem>([this] {
    pendingResign_.reset();
    if (isApplicationActive() || !reportedActive_) return;
    reportedActive_ = false;
    events_.notify({FloatingPanelEvent::Kind::applicationDidResignActive});
    recheckOcclusion();
  });
  queue_.postAfter(kActivityDebounce, pendingResign_);
}

void FloatingPanelHostGtk::stackingChanged(platform::StackingChange change) {
  if (change == platform::StackingChange::currentDesktop) {
    events_.notify({FloatingPanelEvent::Kind::activeDesktopDidChange});
  }
  recheckOcclusion();
}

void FloatingPanelHostGtk::recheckOcclusion() {
  const auto stack = onScreenWindows();
  auto check = [&](const std::function<GtkWindow*()>& find, std::optional<bool>& seen, FloatingPanelWindowRole role) {
    GtkWindow* window = find ? find() : nullptr;
    const bool now = window && snapshot(window, stack).isVisibleOnScreen;
    if (seen == now) return;
    const bool first = !seen.has_value();
    seen = now;
    if (!first || now) events_.notify({FloatingPanelEvent::Kind::windowDidChangeOcclusion, role});
  };
  check(windows_.audioCallWindow, audioSeen_, FloatingPanelWindowRole::audioCallWindow);
  check(windows_.videoCallWindow, videoSeen_, FloatingPanelWindowRole::videoCallWindow);
}

}  // namespace orvik
