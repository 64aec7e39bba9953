#include "app/window_identity.h"

#include <gtk/gtk.h>
#ifdef GDK_WINDOWING_X11
#include <gdk/x11/gdkx.h>
#endif

namespace orvik {

bool applyWindowIdentity(const platform::AppInfo& info, GdkDisplay* display) {
  if (!display) display = gdk_display_get_default();
  if (!display) return false;
  std::error_code ec;
  if (!info.iconsFolder.empty() && std::filesystem::is_directory(info.iconsFolder, ec)) {
    GtkIconTheme* theme = gtk_icon_theme_get_for_display(display);
    gtk_icon_theme_add_search_path(theme, info.iconsFolder.c_str());
  }
  gtk_window_set_default_icon_name(info.bundleIdentifier.c_str());
#ifdef GDK_WINDOWING_X11
  if (GDK_IS_X11_DISPLAY(display)) gdk_x11_display_set_program_class(display, info.bundleIdentifier.c_str());
#endif
  return true;
}

}  // namespace orvik
