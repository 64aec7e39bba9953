// What every viewer window does alike in GTK: its look (black in the dark
// theme, light grey otherwise), the screen it sizes itself against, and how
// it appears (presented, then faded in over 0.18 s).
// Placement beside the main window and keep-above need the window placement
// of the desktop, which GTK 4 does not offer: TODO(window placement).
// THREAD-SAFETY: GTK's thread.
#pragma once

#include <gtkmm.h>

#include "viewers/viewer_rules.h"

namespace orvik {

inline constexpr double kViewerFadeSeconds = 0.18;

// The geometry of the display's first monitor, else kFallbackScreen.
viewers::Rect viewerScreen();
void applyViewerLook(Gtk::Window& window, bool dark);
void presentViewerWindow(Gtk::Window& window);

}  // namespace orvik
