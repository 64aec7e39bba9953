// Pictures of the windows and displays the screen-share picker offers,
// captured off the main queue and handed back all at once, so no card shows
// a picture before every capture is done. X11ScreenShareThumbnailer reads
// each window's (and the whole screen's) pixels over an X connection of its
// own; a window that is gone or cannot be read simply has no picture.
//
//   thumbnailer.capture(content, [](ScreenShareThumbnails pictures) { … });   // main queue
//
// THREAD-SAFETY: capture on the main queue; `done` runs there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "calls/media/screen_source.h"

namespace orvik {

namespace platform {
class WorkerPool;
}  // namespace platform

// Straight (not premultiplied) B, G, R, A bytes, `width` × `height`.
struct ScreenShareThumbnail {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> bgra;
};

struct ScreenShareThumbnails {
  // By position in the content's lists.
  std::map<std::size_t, ScreenShareThumbnail> windows;
  std::map<std::size_t, ScreenShareThumbnail> displays;
};

class ScreenShareThumbnailer {
 public:
  virtual ~ScreenShareThumbnailer() = default;
  virtual void capture(const ShareableContent& content, std::function<void(ScreenShareThumbnails)> done) = 0;
};

class X11ScreenShareThumbnailer final : public ScreenShareThumbnailer {
 public:
  X11ScreenShareThumbnailer();
  ~X11ScreenShareThumbnailer() override;
  void capture(const ShareableContent& content, std::function<void(ScreenShareThumbnails)> done) override;

 private:
  std::unique_ptr<platform::WorkerPool> pool_;
};

}  // namespace orvik
