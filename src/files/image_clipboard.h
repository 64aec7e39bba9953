// The desktop clipboard, for the images the page copies and the share menu's
// "Copy Image". The image and an optional text are offered together, so a
// receiver takes whichever it understands: the image in every format GTK can
// write (PNG among them) and the text as plain UTF-8.
// Linux backend: the default display's Gdk::Clipboard (image_clipboard_gtk.cpp).
// Test double: RecordingImageClipboard (recording_image_clipboard.h).
// THREAD-SAFETY: main queue.
#pragma once

#include <memory>
#include <optional>
#include <string>

namespace orvik {

class ImageClipboard {
 public:
  virtual ~ImageClipboard() = default;
  // Replaces the clipboard's content with the image encoded in `imageBytes`
  // (PNG, JPEG, GIF, WebP … whatever the image loaders read) and, when given
  // and not empty, `text`. False, and the clipboard left alone, when the bytes
  // are not an image.
  virtual bool writeImage(const std::string& imageBytes, const std::optional<std::string>& text) = 0;
};

std::unique_ptr<ImageClipboard> makeGtkImageClipboard();

}  // namespace orvik
