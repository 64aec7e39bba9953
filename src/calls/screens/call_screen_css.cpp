#include "calls/screens/call_screen_css.h"

#include <charconv>

#include <gtkmm.h>

namespace orvik {
namespace {

constexpr const char* kProviderKey = "orvik-call-screen-css";

}  // namespace

void setWidgetCss(Gtk::Widget& widget, const std::string& css) {
  GtkWidget* w = widget.gobj();
  GtkStyleContext* context = gtk_widget_get_style_context(w);
  auto* previous = static_cast<GtkCssProvider*>(g_object_get_data(G_OBJECT(w), kProviderKey));
  if (previous) gtk_style_context_remove_provider(context, GTK_STYLE_PROVIDER(previous));
  GtkCssProvider* provider = gtk_css_provider_new();
  gtk_css_provider_load_from_data(provider, css.c_str(), static_cast<gssize>(css.size()));
  // Above the theme's own rules for the same widget.
  gtk_style_context_add_provider(context, GTK_STYLE_PROVIDER(provider), GTK_STYLE_PROVIDER_PRIORITY_APPLICATION + 10);
  g_object_set_data_full(G_OBJECT(w), kProviderKey, provider, g_object_unref);
}

std::string cssPixels(double value) {
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 2).ptr;
  return std::string(text, end) + "px";
}

}  // namespace orvik
