// The click blocker's cover in GTK: a transparent layer added over the main
// window's content (the overlay that holds the page), which takes every
// press of any button while it is there. Also the watch that tells the
// blocker when the program has lost the focus: no window of the program is
// active any more.
// THREAD-SAFETY: GTK's thread.
#pragma once

#include <gtkmm.h>

#include <functional>
#include <memory>

#include "viewers/viewer_click_blocker.h"

namespace orvik {

// `overlay` names the main window's content overlay when it exists.
std::unique_ptr<BlockerSurface> makeGtkBlockerSurface(std::function<Gtk::Overlay*()> overlay);

// Calls blocker.applicationDeactivated() when focus leaves every window of
// the program while the blocker covers the main window. Lives as long as the
// returned object.
std::shared_ptr<void> watchApplicationFocus(ViewerClickBlocker& blocker);

}  // namespace orvik
