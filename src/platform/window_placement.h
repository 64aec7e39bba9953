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
//   auto stack = placement->onScreenWindows();       // front to back, with frames
//
// Owner: the composition root, shared by the call windows.
// THREAD-SAFETY: main thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/observer_list.h"
#include "platform/window_stacking.h"

typedef struct _GtkWindow GtkWindow;

namespace orvik::platform {

// What changed among the desktop's windows.
enum class StackingChange {
  order,           // the stacking order or the active window
  currentDesktop,  // the user switched to another desktop (workspace)
};

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

  // What the program reads of the desktop's windows. The defaults are those
  // of a display that tells nothing.
  //
  // The window's number among the desktop's windows (X11: its XID); 0 while
  // it has none.
  virtual std::uint64_t windowNumber(GtkWindow* /*window*/) { return 0; }
  // The windows of every program on the current desktop that are mapped and
  // not minimised, front to back, with their frames on the screen; none when
  // the display does not say.
  virtual std::optional<std::vector<StackedWindow>> onScreenWindows() { return std::nullopt; }
  // `changed` runs on the main thread after each change, for as long as the
  // subscription lives; a display that tells nothing never calls it.
  [[nodiscard]] virtual Subscription observeStacking(std::function<void(StackingChange)> /*changed*/) { return {}; }
};

// The backend for the default display: X11 (EWMH) or the fallback.
std::unique_ptr<WindowPlacement> makeWindowPlacement();
// The nearest thing GTK offers on any display (Wayland's backend): windows
// are shown and presented, nothing more; the first request it cannot honour
// logs kFallbackPlacementLog once.
std::unique_ptr<WindowPlacement> makeFallbackWindowPlacement();
inline constexpr const char* kFallbackPlacementLog =
    "[WindowPlacement] this display (no X11) cannot keep call windows above other windows, on every desktop, at a "
    "screen corner or out of the focus, nor tell which windows cover them";

}  // namespace orvik::platform
