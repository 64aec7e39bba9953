// Applies the theme to GTK's own widgets through the
// "gtk-application-prefer-dark-theme" setting. Main queue only.
#pragma once

#include "core/theme_manager.h"

namespace orvik {

// Applies the current theme and follows every change. Returns false, doing
// nothing, when GTK has no display (tests without a display, early start-up).
bool bindThemeToGtk(ThemeManager& theme);

}  // namespace orvik
