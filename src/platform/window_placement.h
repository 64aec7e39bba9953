// Where the program's floating windows stand among other windows: call
// windows that never take the keyboard focus from the main window, come to
// the front without activating the program and float above other windows
// while asked to. The X11 backend speaks EWMH to the window manager through
// the GDK X11 surface; on other displays (Wayland) the compositor decides,
// and the backend does the nearest thing GTK offers and says so once in the
// log.
//
//   auto placement = makeWindowPlacement();
//   placement->setNeverFocused(window);              // before it is first shown
//   placement->orderFrontWithoutActivating(window);  // shows or raises it
//   placement->setKeepAbove(window, true);
//
// Owner: the composition root, shared by the call windows.
// THREAD-SAFETY: main thread only.
#pragma once

#include <memory>

typedef struct _GtkWindow GtkWindow;

namespace orvik::platform {

class WindowPlacement {
 public:
  virtual ~WindowPlacement() = default;
  // The window does not take the focus when it is shown, nor when it is
  // clicked (its buttons still work), where the window system allows.
  virtual void setNeverFocused(GtkWindow* window) = 0;
  // Shows the window, or brings a shown one onto the current desktop and in
  // front of the others, without activating the program.
  virtual void orderFrontWithoutActivating(GtkWindow* window) = 0;
  // Floats the window above normal windows while true; kept across the
  // window being hidden and shown again.
  virtual void setKeepAbove(GtkWindow* window, bool above) = 0;
  // Shown on every desktop (workspace) while true; kept across hiding.
  virtual void setOnAllDesktops(GtkWindow* window, bool all) = 0;
  // Puts the window `margin` pixels inside the top-right corner of the work
  // area (the screen without panels and docks), now or when it is mapped.
  virtual void moveToWorkAreaTopRight(GtkWindow* window, int margin) = 0;
};

// The backend for the default display: X11 (EWMH) or the fallback.
std::unique_ptr<WindowPlacement> makeWindowPlacement();

}  // namespace orvik::platform
