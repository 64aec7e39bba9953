// The window lists the window manager keeps as properties on X11 windows
// (_NET_CLIENT_LIST, _NET_CLIENT_LIST_STACKING, _NET_WM_STATE, ...), read
// by the window tests to see what the desktop made of our windows.
#pragma once

#include <vector>

#include <X11/Xlib.h>

namespace orvik::testing {

// The 32-bit items of `property` on `window`; empty when it is not set.
inline std::vector<unsigned long> windowList(::Display* display, ::Window window, const char* property,
                                             ::Atom type) {
  ::Atom actual = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  std::vector<unsigned long> values;
  if (XGetWindowProperty(display, window, XInternAtom(display, property, False), 0, 1024, False, type, &actual,
                         &format, &count, &after, &data) == Success &&
      data && format == 32) {
    const auto* items = reinterpret_cast<unsigned long*>(data);
    values.assign(items, items + count);
  }
  if (data) XFree(data);
  return values;
}

}  // namespace orvik::testing
