// Thumbnails of the images, videos and PDF documents the page hands over: a
// JPEG (quality 82) of at most 800 pixels on the longer side, written into the
// documents folder as "thumb_" + name + ".jpg" through a temporary file that
// is renamed into place, so a half-written thumbnail is never served.
//
// Images are read with gdk-pixbuf, downscaled while they load and turned
// upright by their orientation tag; a PDF gives its first page (poppler);
// videos give the frame at 1.0 s, else the one at 0.0 s (GStreamer), upright
// by the stream's orientation tag.
//
// THREAD-SAFETY: the routines are synchronous and block for decoding and
// encoding: call them off the main queue (any thread, several at once).
#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

namespace orvik {

struct PixelSize {
  int width = 0;
  int height = 0;
  bool operator==(const PixelSize&) const = default;
};

inline constexpr int kThumbnailMaxSide = 800;

// The size an image of `source` pixels gets: unchanged when neither side
// exceeds 800, else scaled to fit 800 × 800 with the aspect ratio kept,
// rounded down, and never below 1 pixel a side.
PixelSize scaledThumbnailSize(PixelSize source);

// "thumb_" + name + ".jpg" in the documents folder; none when `name` breaks
// the transfer-id rule.
std::optional<std::filesystem::path> thumbnailPath(std::string_view name);

// Whether the path's lower-cased extension names a video (mp4, mov, avi,
// webm, mkv, m4v, 3gp); everything else is thumbnailed as an image.
bool isVideoPath(std::string_view path);

// The thumbnail's path, or none when the source cannot be read or the
// thumbnail cannot be written.
std::optional<std::filesystem::path> makeImageThumbnail(const std::filesystem::path& source, std::string_view name);
std::optional<std::filesystem::path> makeVideoThumbnail(const std::filesystem::path& source, std::string_view name);

}  // namespace orvik
