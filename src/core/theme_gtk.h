// Applies the theme to GTK's own widgets through the
// "gtk-application-prefer-dark-theme" setting. Main queue only.
#pragma once

#include "core/theme_manager.h"

namespace orvik {

// Applies the current theme and follows every change while the returned
// subscription lives. Returns an empty subscription, doing nothing, when GTK
// has no display (tests without a display, early start-up).
[[nodiscard]] platform::Subscription bindThemeToGtk(ThemeManager& theme);

}  // namespace orvik
