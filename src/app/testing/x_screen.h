// What an X display shows, for tests that look at windows as a person would.
// Kept apart from the tests themselves: Xlib's macros clash with gtkmm's and
// GoogleTest's names.
#pragma once

#include <gdk/gdk.h>

#include <string>
#include <vector>

namespace orvik::testing {

struct ScreenRect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

bool isX11Display(GdkDisplay* display);

// Whether a window manager has taken the display (EWMH's supporting check).
bool hasWindowManager(GdkDisplay* display);

// Where the window of `surface` is on screen, without the shadow that a
// client-side decorated window draws around itself when composited.
ScreenRect visibleFrame(GdkSurface* surface);

// The class part of the window's WM_CLASS, which desktops match with a
// desktop entry's StartupWMClass; and whether the window carries an icon.
std::string windowClass(GdkSurface* surface);
bool hasWindowIcon(GdkSurface* surface);

// The screen's pixels in `rect` (cut to the screen), RGB, row after row;
// `rect` is updated to what was taken.
std::vector<unsigned char> grabScreen(GdkDisplay* display, ScreenRect& rect);

}  // namespace orvik::testing
