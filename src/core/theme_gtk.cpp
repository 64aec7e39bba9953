#include "core/theme_gtk.h"

#include <gtk/gtk.h>

namespace orvik {
namespace {

void apply(bool isDarkMode) {
  if (GtkSettings* settings = gtk_settings_get_default()) {
    g_object_set(settings, "gtk-application-prefer-dark-theme", isDarkMode ? TRUE : FALSE, nullptr);
  }
}

}  // namespace

platform::Subscription bindThemeToGtk(ThemeManager& theme) {
  if (!gdk_display_get_default()) return {};
  apply(theme.isDarkMode());
  return theme.addObserver(apply);
}

}  // namespace orvik
