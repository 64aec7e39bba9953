#include "app/testing/x_screen.h"

#include <gdk/x11/gdkx.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>

namespace orvik::testing {
namespace {

std::vector<long> cardinals(Display* display, Window window, const char* name) {
  Atom type = None;
  int format = 0;
  unsigned long count = 0;
  unsigned long after = 0;
  unsigned char* data = nullptr;
  std::vector<long> values;
  if (XGetWindowProperty(display, window, XInternAtom(display, name, False), 0, 16, False, AnyPropertyType, &type,
                         &format, &count, &after, &data) == Success &&
      data && format == 32) {
    auto* longs = reinterpret_cast<long*>(data);
    values.assign(longs, longs + count);
  }
  if (data) XFree(data);
  return values;
}

}  // namespace

bool isX11Display(GdkDisplay* display) { return GDK_IS_X11_DISPLAY(display); }

bool hasWindowManager(GdkDisplay* display) {
  Display* x = gdk_x11_display_get_xdisplay(display);
  return !cardinals(x, DefaultRootWindow(x), "_NET_SUPPORTING_WM_CHECK").empty();
}

ScreenRect visibleFrame(GdkSurface* surface) {
  Display* x = gdk_x11_display_get_xdisplay(gdk_surface_get_display(surface));
  const Window window = gdk_x11_surface_get_xid(surface);
  XWindowAttributes attributes{};
  XGetWindowAttributes(x, window, &attributes);
  int left = 0;
  int top = 0;
  Window child = None;
  XTranslateCoordinates(x, window, DefaultRootWindow(x), 0, 0, &left, &top, &child);
  std::vector<long> extents = cardinals(x, window, "_GTK_FRAME_EXTENTS");  // left, right, top, bottom
  if (extents.size() != 4) extents = {0, 0, 0, 0};
  return {left + static_cast<int>(extents[0]), top + static_cast<int>(extents[2]),
          attributes.width - static_cast<int>(extents[0] + extents[1]),
          attributes.height - static_cast<int>(extents[2] + extents[3])};
}

std::string windowClass(GdkSurface* surface) {
  Display* x = gdk_x11_display_get_xdisplay(gdk_surface_get_display(surface));
  XClassHint hint{};
  if (!XGetClassHint(x, gdk_x11_surface_get_xid(surface), &hint)) return {};
  std::string result = hint.res_class ? hint.res_class : "";
  if (hint.res_name) XFree(hint.res_name);
  if (hint.res_class) XFree(hint.res_class);
  return result;
}

bool hasWindowIcon(GdkSurface* surface) {
  Display* x = gdk_x11_display_get_xdisplay(gdk_surface_get_display(surface));
  return cardinals(x, gdk_x11_surface_get_xid(surface), "_NET_WM_ICON").size() > 2;
}

std::vector<unsigned char> grabScreen(GdkDisplay* display, ScreenRect& rect) {
  Display* x = gdk_x11_display_get_xdisplay(display);
  XSync(x, False);
  const int screenWidth = DisplayWidth(x, DefaultScreen(x));
  const int screenHeight = DisplayHeight(x, DefaultScreen(x));
  const int right = std::min(screenWidth, rect.x + rect.width);
  const int bottom = std::min(screenHeight, rect.y + rect.height);
  rect.x = std::max(0, rect.x);
  rect.y = std::max(0, rect.y);
  rect.width = std::max(0, right - rect.x);
  rect.height = std::max(0, bottom - rect.y);
  std::vector<unsigned char> pixels;
  if (rect.width == 0 || rect.height == 0) return pixels;
  XImage* image = XGetImage(x, DefaultRootWindow(x), rect.x, rect.y, static_cast<unsigned>(rect.width),
                            static_cast<unsigned>(rect.height), AllPlanes, ZPixmap);
  if (!image) {
    rect.width = rect.height = 0;
    return pixels;
  }
  pixels.reserve(static_cast<std::size_t>(rect.width) * static_cast<std::size_t>(rect.height) * 3);
  for (int row = 0; row < rect.height; ++row) {
    for (int column = 0; column < rect.width; ++column) {
      const unsigned long pixel = XGetPixel(image, column, row);
      pixels.push_back(static_cast<unsigned char>((pixel & image->red_mask) >> 16));
      pixels.push_back(static_cast<unsigned char>((pixel & image->green_mask) >> 8));
      pixels.push_back(static_cast<unsigned char>(pixel & image->blue_mask));
    }
  }
  XDestroyImage(image);
  return pixels;
}

}  // namespace orvik::testing
