// The program's identity on the desktop's windows: every window's icon is the
// application icon from the icon theme (named after the application id), and
// on X11 every window's class is the application id, which the desktop entry
// names as its StartupWMClass so the desktop groups the windows under it.
// (On Wayland the application id does this by itself.) Installed icons under
// <prefix>/share, and the build tree's rendered ones, are added to the icon
// theme's search path so that a copy outside the system's folders finds its
// icon too.
// THREAD-SAFETY: main queue, once GTK has a display.
#pragma once

#include <gdk/gdk.h>

#include "platform/app_info.h"

namespace orvik {

// Applies the identity to `display` (the default display when null); false
// when there is no display.
bool applyWindowIdentity(const platform::AppInfo& info, GdkDisplay* display = nullptr);

}  // namespace orvik
