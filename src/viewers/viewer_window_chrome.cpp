#include "viewers/viewer_window_chrome.h"

#include <algorithm>
#include <cstdio>
#include <set>

#include "platform/dispatch/task_queue.h"
#include "viewers/auto_hiding_chrome.h"
#include "viewers/viewer_toolbar.h"

namespace orvik {

viewers::Rect viewerScreen() {
  auto display = Gdk::Display::get_default();
  auto monitors = display ? display->get_monitors() : Glib::RefPtr<Gio::ListModel>();
  if (!monitors || monitors->get_n_items() == 0) return viewers::kFallbackScreen;
  auto monitor = std::dynamic_pointer_cast<Gdk::Monitor>(monitors->get_object(0));
  if (!monitor) return viewers::kFallbackScreen;
  Gdk::Rectangle area;
  monitor->get_geometry(area);
  return {double(area.get_x()), double(area.get_y()), double(area.get_width()), double(area.get_height())};
}

void applyViewerLook(Gtk::Window& window, bool dark) {
  static Glib::RefPtr<Gtk::CssProvider> css;
  if (!css) {
    css = Gtk::CssProvider::create();
    css->load_from_data(
        "window.orvik-viewer-dark, window.orvik-viewer-dark > overlay { background-color: black; }"
        "window.orvik-viewer-light, window.orvik-viewer-light > overlay { background-color: rgb(237,237,237); }"
        ".orvik-selected { border: 2px solid white; border-radius: 8px; }"
        "window.orvik-viewer-light .orvik-selected { border-color: rgba(0,0,0,0.85); }");
    Gtk::StyleContext::add_provider_for_display(Gdk::Display::get_default(), css,
                                                GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
  }
  window.add_css_class(dark ? "orvik-viewer-dark" : "orvik-viewer-light");
}

void presentViewerWindow(Gtk::Window& window) {
  window.set_opacity(0.0);
  window.present();
  const gint64 start = g_get_monotonic_time();
  auto* widget = &window;
  widget->add_tick_callback([widget, start](const Glib::RefPtr<Gdk::FrameClock>& clock) {
    const double elapsed = double(clock->get_frame_time() - start) / 1e6;
    const double opacity = std::min(1.0, std::max(0.0, elapsed / kViewerFadeSeconds));
    widget->set_opacity(opacity);
    return opacity < 1.0;
  });
}

namespace {

void addCss(const std::string& css) {
  auto provider = Gtk::CssProvider::create();
  provider->load_from_data(css);
  Gtk::StyleContext::add_provider_for_display(Gdk::Display::get_default(), provider,
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
}

void ensureChromeCss() {
  static bool loaded = false;
  if (loaded) return;
  loaded = true;
  addCss(
      ".orvik-glass-dark { background-color: rgba(28,28,30,0.72); border: 0.5px solid rgba(255,255,255,0.12); }"
      ".orvik-glass-light { background-color: rgba(246,246,246,0.78); border: 0.5px solid rgba(0,0,0,0.12); }"
      "button.orvik-round-panel-button { min-width: 26px; min-height: 26px; padding: 0; border-radius: 13px;"
      "  background: rgba(0,0,0,0.5); color: white; border: none; box-shadow: none; }"
      "button.orvik-round-panel-button image { -gtk-icon-size: 11px; }"
      ".orvik-pip-content { background-color: black; border-radius: 12px; }");
}

// One class per corner radius in use.
std::string radiusClass(int radius) {
  static std::set<int> loaded;
  const std::string name = "orvik-radius-" + std::to_string(radius);
  if (loaded.insert(radius).second) addCss("." + name + " { border-radius: " + std::to_string(radius) + "px; }");
  return name;
}

}  // namespace

void fadeWidget(Gtk::Widget& widget, bool shown, double seconds) {
  // The newest fade of a widget wins: older tick callbacks see a changed
  // generation and stop.
  static const GQuark key = g_quark_from_static_string("orvik-fade-generation");
  const auto generation = GPOINTER_TO_UINT(g_object_get_qdata(G_OBJECT(widget.gobj()), key)) + 1;
  g_object_set_qdata(G_OBJECT(widget.gobj()), key, GUINT_TO_POINTER(generation));
  const double from = widget.get_visible() ? widget.get_opacity() : 0.0;
  const double to = shown ? 1.0 : 0.0;
  if (shown) widget.set_visible(true);
  const gint64 start = g_get_monotonic_time();
  auto* target = &widget;
  widget.add_tick_callback([target, generation, from, to, seconds, start](const Glib::RefPtr<Gdk::FrameClock>&) {
    if (GPOINTER_TO_UINT(g_object_get_qdata(G_OBJECT(target->gobj()), key)) != generation) return false;
    const double progress = std::min(1.0, double(g_get_monotonic_time() - start) / 1e6 / std::max(seconds, 1e-3));
    target->set_opacity(from + (to - from) * progress);
    if (progress < 1.0) return true;
    if (to == 0.0) target->set_visible(false);
    return false;
  });
}

std::shared_ptr<AutoHidingChrome> attachAutoHidingChrome(Gtk::Widget& area, std::vector<Gtk::Widget*> chromeViews) {
  struct Pointer {
    bool inside = false;
    double x = 0, y = 0;
  };
  auto pointer = std::make_shared<Pointer>();
  Gtk::Widget* areaWidget = &area;
  AutoHidingChrome::Surface surface;
  surface.pointerOverChrome = [pointer, areaWidget, chromeViews] {
    if (!pointer->inside || !areaWidget->get_root()) return false;
    for (Gtk::Widget* view : chromeViews) {
      graphene_rect_t bounds;
      if (!view->get_visible() ||
          !gtk_widget_compute_bounds(view->gobj(), areaWidget->gobj(), &bounds)) {
        continue;
      }
      graphene_point_t point = GRAPHENE_POINT_INIT(float(pointer->x), float(pointer->y));
      if (graphene_rect_contains_point(&bounds, &point)) return true;
    }
    return false;
  };
  surface.setChromeVisible = [chromeViews](bool visible) {
    for (Gtk::Widget* view : chromeViews) fadeWidget(*view, visible, visible ? 0.15 : 0.3);
  };
  auto chrome = std::make_shared<AutoHidingChrome>(platform::mainQueue(), std::move(surface));
  auto motion = Gtk::EventControllerMotion::create();
  // Capture: the chrome's own buttons sit inside the area and must count too.
  motion->set_propagation_phase(Gtk::PropagationPhase::CAPTURE);
  const std::weak_ptr<AutoHidingChrome> weak = chrome;
  motion->signal_enter().connect([weak, pointer](double x, double y) {
    *pointer = {true, x, y};
    if (auto c = weak.lock()) c->showChrome();
  });
  motion->signal_motion().connect([weak, pointer](double x, double y) {
    *pointer = {true, x, y};
    if (auto c = weak.lock()) c->showChrome();
  });
  motion->signal_leave().connect([weak, pointer] {
    pointer->inside = false;
    if (auto c = weak.lock()) c->pointerExited();
  });
  area.add_controller(motion);
  return chrome;
}

Gtk::Box* makeGlassBackground(int cornerRadius, bool dark, Gtk::Orientation orientation) {
  ensureChromeCss();
  auto* glass = Gtk::make_managed<Gtk::Box>(orientation, 0);
  glass->add_css_class(dark ? "orvik-glass-dark" : "orvik-glass-light");
  glass->add_css_class(radiusClass(cornerRadius));
  glass->set_overflow(Gtk::Overflow::HIDDEN);
  return glass;
}

Gtk::Button* makeRoundPanelButton(const std::string& symbol, std::function<void()> action) {
  ensureChromeCss();  // also the panels' rounded black content
  auto* button = Gtk::make_managed<Gtk::Button>();
  button->set_icon_name(ViewerToolbar::iconFor(symbol));
  button->add_css_class("orvik-round-panel-button");
  button->set_size_request(26, 26);
  button->set_halign(Gtk::Align::START);
  button->set_valign(Gtk::Align::START);
  button->set_focus_on_click(false);
  button->signal_clicked().connect(std::move(action));
  return button;
}

}  // namespace orvik
