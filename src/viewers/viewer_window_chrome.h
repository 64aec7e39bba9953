// What every viewer window does alike in GTK: its look (black in the dark
// theme, light grey otherwise), the screen it sizes itself against, and how
// it appears (presented, then faded in over 0.18 s); the overlay controls
// that hide when the mouse rests, the translucent glass behind controls, and
// the round buttons of the picture-in-picture panels.
// Placement beside the main window and keep-above need the window placement
// of the desktop, which GTK 4 does not offer: TODO(window placement).
// THREAD-SAFETY: GTK's thread.
#pragma once

#include <gtkmm.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "viewers/viewer_rules.h"

namespace orvik {

inline constexpr double kViewerFadeSeconds = 0.18;

// The geometry of the display's first monitor, else kFallbackScreen.
viewers::Rect viewerScreen();
void applyViewerLook(Gtk::Window& window, bool dark);
void presentViewerWindow(Gtk::Window& window);

class AutoHidingChrome;
// Hides `chromeViews` (overlay children of `area`'s window) after the
// pointer has rested over `area` for 2.0 s or left it 0.4 s ago; shows them
// on movement. Fades: in over 0.15 s, out over 0.3 s, then hidden. The
// widgets hold the returned object weakly; keep it as long as the window.
std::shared_ptr<AutoHidingChrome> attachAutoHidingChrome(Gtk::Widget& area, std::vector<Gtk::Widget*> chromeViews);

// Fades `widget` to fully shown or hidden over `seconds`; a hidden widget
// ends invisible, so it takes no clicks. A newer fade replaces an older one.
void fadeWidget(Gtk::Widget& widget, bool shown, double seconds);

// A translucent rounded panel to put controls on: dark glass with a faint
// white edge in the dark theme, light glass with a faint dark edge otherwise
// (the theme as read once, when it is made).
Gtk::Box* makeGlassBackground(int cornerRadius, bool dark, Gtk::Orientation orientation = Gtk::Orientation::HORIZONTAL);

// The 26-pixel round button of the picture-in-picture panels: a white
// symbol on half-transparent black.
Gtk::Button* makeRoundPanelButton(const std::string& symbol, std::function<void()> action);

}  // namespace orvik
