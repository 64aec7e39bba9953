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

bool bindThemeToGtk(ThemeManager& theme) {
  if (!gdk_display_get_default()) return false;
  apply(theme.isDarkMode());
  theme.addObserver(apply);
  return true;
}

}  // namespace orvik
