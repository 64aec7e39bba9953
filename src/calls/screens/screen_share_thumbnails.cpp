#include "calls/screens/screen_share_thumbnails.h"

#include <mutex>
#include <optional>
#include <unordered_set>

#include "platform/dispatch/task_queue.h"
#include "platform/dispatch/worker_pool.h"

// Xlib last: its macros clash with everything above.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace orvik {

namespace {

// Errors on our own connections (a window closed between the listing and
// its capture) are expected and ignored; the others go to the handler that
// was there before.
std::mutex displaysMutex;
std::unordered_set<Display*>& ourDisplays() {
  static auto* displays = new std::unordered_set<Display*>;
  return *displays;
}
XErrorHandler previousHandler = nullptr;

int onXError(Display* display, XErrorEvent* event) {
  {
    std::lock_guard lock(displaysMutex);
    if (ourDisplays().contains(display)) return 0;
  }
  return previousHandler ? previousHandler(display, event) : 0;
}

Display* openDisplay() {
  static std::once_flag installed;
  std::call_once(installed, [] { previousHandler = XSetErrorHandler(onXError); });
  Display* display = XOpenDisplay(nullptr);
  if (display) {
    std::lock_guard lock(displaysMutex);
    ourDisplays().insert(display);
  }
  return display;
}

void closeDisplay(Display* display) {
  {
    std::lock_guard lock(displaysMutex);
    ourDisplays().erase(display);
  }
  XCloseDisplay(display);
}

int lowestBit(unsigned long mask) {
  int shift = 0;
  while (mask && !(mask & 1)) {
    mask >>= 1;
    ++shift;
  }
  return shift;
}

std::optional<ScreenShareThumbnail> grab(Display* display, ::Window window, int width, int height) {
  if (width <= 0 || height <= 0) return std::nullopt;
  XImage* image = XGetImage(display, window, 0, 0, static_cast<unsigned>(width), static_cast<unsigned>(height),
                            AllPlanes, ZPixmap);
  XSync(display, False);
  if (!image) return std::nullopt;
  ScreenShareThumbnail picture;
  picture.width = width;
  picture.height = height;
  picture.bgra.resize(static_cast<std::size_t>(width) * height * 4);
  const int rs = lowestBit(image->red_mask), gs = lowestBit(image->green_mask), bs = lowestBit(image->blue_mask);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const unsigned long pixel = XGetPixel(image, x, y);
      std::uint8_t* out = picture.bgra.data() + (static_cast<std::size_t>(y) * width + x) * 4;
      out[0] = static_cast<std::uint8_t>((pixel & image->blue_mask) >> bs);
      out[1] = static_cast<std::uint8_t>((pixel & image->green_mask) >> gs);
      out[2] = static_cast<std::uint8_t>((pixel & image->red_mask) >> rs);
      out[3] = 255;
    }
  }
  XDestroyImage(image);
  return picture;
}

std::optional<ScreenShareThumbnail> grabWindow(Display* display, ::Window window) {
  XWindowAttributes attributes{};
  if (!XGetWindowAttributes(display, window, &attributes) || attributes.map_state != IsViewable) {
    XSync(display, False);
    return std::nullopt;
  }
  return grab(display, window, attributes.width, attributes.height);
}

}  // namespace

X11ScreenShareThumbnailer::X11ScreenShareThumbnailer()
    : pool_(std::make_unique<platform::WorkerPool>("com.orvik.screenShare.thumbnails", 1)) {}

X11ScreenShareThumbnailer::~X11ScreenShareThumbnailer() = default;

void X11ScreenShareThumbnailer::capture(const ShareableContent& content,
                                        std::function<void(ScreenShareThumbnails)> done) {
  pool_->post([content, done = std::move(done)] {
    ScreenShareThumbnails pictures;
    if (Display* display = openDisplay()) {
      for (std::size_t i = 0; i < content.windows.size(); ++i) {
        if (auto picture = grabWindow(display, static_cast<::Window>(content.windows[i].id))) {
          pictures.windows.emplace(i, std::move(*picture));
        }
      }
      const int screen = DefaultScreen(display);
      for (std::size_t i = 0; i < content.displays.size(); ++i) {
        const auto& d = content.displays[i];
        if (auto picture = grab(display, DefaultRootWindow(display), d.width > 0 ? d.width : DisplayWidth(display, screen),
                                d.height > 0 ? d.height : DisplayHeight(display, screen))) {
          pictures.displays.emplace(i, std::move(*picture));
        }
      }
      closeDisplay(display);
    }
    platform::mainQueue().post([done, pictures = std::move(pictures)]() mutable { done(std::move(pictures)); });
  });
}

}  // namespace orvik
