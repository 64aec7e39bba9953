#include "viewers/viewer_window_chrome.h"

#include <algorithm>

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

}  // namespace orvik
