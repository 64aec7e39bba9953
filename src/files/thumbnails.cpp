#include "files/thumbnails.h"

#include <cairo.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gst/gst.h>
#include <gst/video/video.h>
#include <poppler.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>

#include "core/native_logger.h"
#include "files/documents_folder.h"
#include "platform/file_io.h"

namespace orvik {
namespace fs = std::filesystem;
namespace {

// GObject references owned by a unique_ptr.
struct ObjectUnref {
  void operator()(gpointer object) const {
    if (object) g_object_unref(object);
  }
};
template <typename T>
using Ref = std::unique_ptr<T, ObjectUnref>;

struct ErrorFree {
  void operator()(GError* error) const { g_error_free(error); }
};
using ErrorPtr = std::unique_ptr<GError, ErrorFree>;

// Reading an image: at most this much of the file is fed to the loader at a
// time.
constexpr std::size_t kLoaderChunk = 256 * 1024;
// A video that does not preroll or seek in this time is given up; a stuck
// decoder must not hold the thumbnail queue for ever.
constexpr GstClockTime kVideoStepTimeout = 20 * GST_SECOND;

void onSizePrepared(GdkPixbufLoader* loader, int width, int height, gpointer) {
  const PixelSize target = scaledThumbnailSize({width, height});
  if (target.width != width || target.height != height) gdk_pixbuf_loader_set_size(loader, target.width, target.height);
}

Ref<GdkPixbuf> loadScaledImage(const fs::path& source) {
  std::ifstream in(source, std::ios::binary);
  if (!in) return nullptr;
  Ref<GdkPixbufLoader> loader(gdk_pixbuf_loader_new());
  g_signal_connect(loader.get(), "size-prepared", G_CALLBACK(onSizePrepared), nullptr);
  std::string chunk(kLoaderChunk, '\0');
  bool ok = true;
  while (ok && in) {
    in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
    const auto got = static_cast<gsize>(in.gcount());
    if (got == 0) break;
    ok = gdk_pixbuf_loader_write(loader.get(), reinterpret_cast<const guchar*>(chunk.data()), got, nullptr);
  }
  // Close in every case: a loader left open warns when it is finalised.
  const bool closed = gdk_pixbuf_loader_close(loader.get(), nullptr);
  if (!ok || !closed) return nullptr;
  GdkPixbuf* loaded = gdk_pixbuf_loader_get_pixbuf(loader.get());
  if (!loaded) return nullptr;
  return Ref<GdkPixbuf>(gdk_pixbuf_apply_embedded_orientation(loaded));
}

bool startsWithPdfSignature(const fs::path& source) {
  std::ifstream in(source, std::ios::binary);
  char head[5] = {};
  in.read(head, sizeof head);
  return in.gcount() == 5 && std::string_view(head, 5) == "%PDF-";
}

// Cairo's ARGB32 (native-endian, premultiplied; opaque here) to an RGB pixbuf.
Ref<GdkPixbuf> pixbufFromOpaqueSurface(cairo_surface_t* surface) {
  cairo_surface_flush(surface);
  const int width = cairo_image_surface_get_width(surface);
  const int height = cairo_image_surface_get_height(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  const unsigned char* pixels = cairo_image_surface_get_data(surface);
  Ref<GdkPixbuf> pixbuf(gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, width, height));
  if (!pixbuf || !pixels) return nullptr;
  guchar* out = gdk_pixbuf_get_pixels(pixbuf.get());
  const int outStride = gdk_pixbuf_get_rowstride(pixbuf.get());
  for (int y = 0; y < height; ++y) {
    const auto* row = reinterpret_cast<const std::uint32_t*>(pixels + static_cast<std::ptrdiff_t>(y) * stride);
    guchar* target = out + static_cast<std::ptrdiff_t>(y) * outStride;
    for (int x = 0; x < width; ++x) {
      target[3 * x] = static_cast<guchar>(row[x] >> 16);
      target[3 * x + 1] = static_cast<guchar>(row[x] >> 8);
      target[3 * x + 2] = static_cast<guchar>(row[x]);
    }
  }
  return pixbuf;
}

Ref<GdkPixbuf> renderPdfFirstPage(const fs::path& source) {
  GError* rawError = nullptr;
  char* uri = g_filename_to_uri(source.c_str(), nullptr, nullptr);
  if (!uri) return nullptr;
  Ref<PopplerDocument> document(poppler_document_new_from_file(uri, nullptr, &rawError));
  g_free(uri);
  ErrorPtr error(rawError);
  if (!document || poppler_document_get_n_pages(document.get()) < 1) return nullptr;
  Ref<PopplerPage> page(poppler_document_get_page(document.get(), 0));
  if (!page) return nullptr;
  double width = 0, height = 0;
  poppler_page_get_size(page.get(), &width, &height);
  if (!(width >= 1 && height >= 1) || width > 1e6 || height > 1e6) return nullptr;
  // A page point counts as a pixel, as an image loader renders a PDF.
  const PixelSize target = scaledThumbnailSize({static_cast<int>(std::ceil(width)), static_cast<int>(std::ceil(height))});
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, target.width, target.height);
  cairo_t* cr = cairo_create(surface);
  cairo_set_source_rgb(cr, 1, 1, 1);
  cairo_paint(cr);
  cairo_scale(cr, target.width / width, target.height / height);
  poppler_page_render(page.get(), cr);
  const bool drawn = cairo_status(cr) == CAIRO_STATUS_SUCCESS;
  cairo_destroy(cr);
  Ref<GdkPixbuf> pixbuf = drawn ? pixbufFromOpaqueSurface(surface) : nullptr;
  cairo_surface_destroy(surface);
  return pixbuf;
}

// JPEG has no alpha: transparent parts are laid on white, not on whatever
// colour their invisible pixels happen to hold.
Ref<GdkPixbuf> opaque(Ref<GdkPixbuf> pixbuf) {
  if (!gdk_pixbuf_get_has_alpha(pixbuf.get())) return pixbuf;
  const int width = gdk_pixbuf_get_width(pixbuf.get());
  const int height = gdk_pixbuf_get_height(pixbuf.get());
  Ref<GdkPixbuf> white(gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, width, height));
  if (!white) return nullptr;
  gdk_pixbuf_fill(white.get(), 0xFFFFFFFF);
  gdk_pixbuf_composite(pixbuf.get(), white.get(), 0, 0, width, height, 0, 0, 1, 1, GDK_INTERP_NEAREST, 255);
  Ref<GdkPixbuf> rgb(gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, width, height));
  if (!rgb) return nullptr;
  // Dropping the (now fully opaque) alpha channel.
  const guchar* in = gdk_pixbuf_read_pixels(white.get());
  guchar* out = gdk_pixbuf_get_pixels(rgb.get());
  const int inStride = gdk_pixbuf_get_rowstride(white.get());
  const int outStride = gdk_pixbuf_get_rowstride(rgb.get());
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      std::copy_n(in + static_cast<std::ptrdiff_t>(y) * inStride + 4 * x, 3,
                  out + static_cast<std::ptrdiff_t>(y) * outStride + 3 * x);
    }
  }
  return rgb;
}

// Encodes at quality 82 and puts the file in place by renaming a complete
// temporary file over it.
bool writeThumbnailJPEG(GdkPixbuf* pixbuf, const fs::path& destination) {
  gchar* buffer = nullptr;
  gsize size = 0;
  if (!gdk_pixbuf_save_to_buffer(pixbuf, &buffer, &size, "jpeg", nullptr, "quality", "82", nullptr)) return false;
  const bool written = platform::writeFileAtomically(destination, std::string_view(buffer, size));
  g_free(buffer);
  return written;
}

void ensureGstreamer() {
  static std::once_flag once;
  std::call_once(once, [] { gst_init_check(nullptr, nullptr, nullptr); });
}

struct ElementDeleter {
  void operator()(GstElement* element) const {
    gst_element_set_state(element, GST_STATE_NULL);
    gst_object_unref(element);
  }
};

// Waits for the pipeline to settle after a state change or a seek; the
// error's text when it fails instead.
std::optional<std::string> waitForPreroll(GstElement* pipeline) {
  GstBus* bus = gst_element_get_bus(pipeline);
  GstMessage* message = gst_bus_timed_pop_filtered(
      bus, kVideoStepTimeout, static_cast<GstMessageType>(GST_MESSAGE_ASYNC_DONE | GST_MESSAGE_ERROR));
  gst_object_unref(bus);
  if (!message) return std::string("timed out");
  std::optional<std::string> failure;
  if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
    GError* error = nullptr;
    gst_message_parse_error(message, &error, nullptr);
    failure = error && error->message ? error->message : "unknown";
    if (error) g_error_free(error);
  }
  gst_message_unref(message);
  return failure;
}

// The frame the video sink holds now, as an RGB pixbuf with square pixels.
Ref<GdkPixbuf> currentFrame(GstElement* playbin) {
  GstCaps* caps = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "RGB", "pixel-aspect-ratio",
                                      GST_TYPE_FRACTION, 1, 1, nullptr);
  GstSample* sample = nullptr;
  g_signal_emit_by_name(playbin, "convert-sample", caps, &sample);
  gst_caps_unref(caps);
  if (!sample) return nullptr;
  Ref<GdkPixbuf> pixbuf;
  GstVideoInfo info;
  GstBuffer* buffer = gst_sample_get_buffer(sample);
  GstMapInfo map;
  if (buffer && gst_video_info_from_caps(&info, gst_sample_get_caps(sample)) &&
      gst_buffer_map(buffer, &map, GST_MAP_READ)) {
    const int width = GST_VIDEO_INFO_WIDTH(&info);
    const int height = GST_VIDEO_INFO_HEIGHT(&info);
    const int stride = GST_VIDEO_INFO_PLANE_STRIDE(&info, 0);
    if (width > 0 && height > 0 && map.size >= static_cast<gsize>(stride) * static_cast<gsize>(height)) {
      pixbuf.reset(gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, width, height));
      if (pixbuf) {
        guchar* out = gdk_pixbuf_get_pixels(pixbuf.get());
        const int outStride = gdk_pixbuf_get_rowstride(pixbuf.get());
        for (int y = 0; y < height; ++y) {
          std::copy_n(map.data + static_cast<std::ptrdiff_t>(y) * stride, 3 * width,
                      out + static_cast<std::ptrdiff_t>(y) * outStride);
        }
      }
    }
    gst_buffer_unmap(buffer, &map);
  }
  gst_sample_unref(sample);
  return pixbuf;
}

struct FrameGrab {
  Ref<GdkPixbuf> frame;
  std::string error;  // why the last attempt failed
};

FrameGrab grabFrame(const fs::path& source) {
  ensureGstreamer();
  FrameGrab grab{nullptr, "unknown"};
  GstElement* raw = gst_element_factory_make("playbin", nullptr);
  if (!raw) {
    grab.error = "no playbin element";
    return grab;
  }
  std::unique_ptr<GstElement, ElementDeleter> playbin(GST_ELEMENT(gst_object_ref_sink(raw)));
  char* uri = g_filename_to_uri(source.c_str(), nullptr, nullptr);
  if (!uri) {
    grab.error = "not a file path";
    return grab;
  }
  constexpr int kPlayFlagVideo = 1 << 0;  // video only: no audio decoding or output
  g_object_set(playbin.get(), "uri", uri, "flags", kPlayFlagVideo, nullptr);
  g_free(uri);
  GstElement* videoSink = gst_element_factory_make("fakesink", nullptr);
  GstElement* audioSink = gst_element_factory_make("fakesink", nullptr);
  if (videoSink) g_object_set(videoSink, "sync", FALSE, nullptr);
  g_object_set(playbin.get(), "video-sink", videoSink, "audio-sink", audioSink, nullptr);
  // The stream's orientation tag turns the frame upright, as a player shows it.
  if (GstElement* flip = gst_element_factory_make("videoflip", nullptr)) {
    gst_util_set_object_arg(G_OBJECT(flip), "video-direction", "auto");
    g_object_set(playbin.get(), "video-filter", flip, nullptr);
  }

  gst_element_set_state(playbin.get(), GST_STATE_PAUSED);
  if (auto failure = waitForPreroll(playbin.get())) {
    grab.error = *failure;
    return grab;
  }
  gint64 duration = -1;
  const bool knowsDuration = gst_element_query_duration(playbin.get(), GST_FORMAT_TIME, &duration);
  for (const GstClockTime at : {GstClockTime(GST_SECOND), GstClockTime(0)}) {
    // A clip shorter than a second has no frame at 1.0 s.
    if (at > 0 && knowsDuration && duration >= 0 && static_cast<GstClockTime>(duration) <= at) continue;
    // Key-unit seeking takes the nearest frame that is quick to decode.
    if (!gst_element_seek_simple(playbin.get(), GST_FORMAT_TIME,
                                 static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_KEY_UNIT),
                                 static_cast<gint64>(at))) {
      grab.error = "seek refused";
      continue;
    }
    if (auto failure = waitForPreroll(playbin.get())) {
      grab.error = *failure;
      continue;
    }
    grab.frame = currentFrame(playbin.get());
    if (grab.frame) return grab;
    grab.error = "no frame";
  }
  return grab;
}

}  // namespace

PixelSize scaledThumbnailSize(PixelSize source) {
  if (source.width <= kThumbnailMaxSide && source.height <= kThumbnailMaxSide) return source;
  const double scale = std::min(static_cast<double>(kThumbnailMaxSide) / source.width,
                                static_cast<double>(kThumbnailMaxSide) / source.height);
  return {std::max(1, static_cast<int>(std::floor(scale * source.width))),
          std::max(1, static_cast<int>(std::floor(scale * source.height)))};
}

std::optional<fs::path> thumbnailPath(std::string_view name) {
  if (!isValidTransferId(name)) return std::nullopt;
  return documentsDirectory() / ("thumb_" + std::string(name) + ".jpg");
}

bool isVideoPath(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  const std::string_view file = slash == std::string_view::npos ? path : path.substr(slash + 1);
  const std::size_t dot = file.rfind('.');
  if (dot == std::string_view::npos) return false;
  std::string extension(file.substr(dot + 1));
  for (char& c : extension) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  for (const char* video : {"mp4", "mov", "avi", "webm", "mkv", "m4v", "3gp"}) {
    if (extension == video) return true;
  }
  return false;
}

std::optional<fs::path> makeImageThumbnail(const fs::path& source, std::string_view name) {
  const std::optional<fs::path> destination = thumbnailPath(name);
  if (!destination) return std::nullopt;
  Ref<GdkPixbuf> image = startsWithPdfSignature(source) ? renderPdfFirstPage(source) : loadScaledImage(source);
  if (!image) return std::nullopt;
  // Loaders that cannot scale while decoding hand back the full size.
  const PixelSize size{gdk_pixbuf_get_width(image.get()), gdk_pixbuf_get_height(image.get())};
  const PixelSize target = scaledThumbnailSize(size);
  if (target != size) image.reset(gdk_pixbuf_scale_simple(image.get(), target.width, target.height, GDK_INTERP_BILINEAR));
  if (!image) return std::nullopt;
  image = opaque(std::move(image));
  if (!image || !writeThumbnailJPEG(image.get(), *destination)) return std::nullopt;
  return destination;
}

std::optional<fs::path> makeVideoThumbnail(const fs::path& source, std::string_view name) {
  const std::optional<fs::path> destination = thumbnailPath(name);
  if (!destination) return std::nullopt;
  FrameGrab grab = grabFrame(source);
  if (!grab.frame) {
    nativeLog("[THUMB] video thumbnail failed (" + source.filename().string() + "): " + grab.error);
    return std::nullopt;
  }
  const PixelSize size{gdk_pixbuf_get_width(grab.frame.get()), gdk_pixbuf_get_height(grab.frame.get())};
  const PixelSize target = scaledThumbnailSize(size);
  if (target != size) {
    grab.frame.reset(gdk_pixbuf_scale_simple(grab.frame.get(), target.width, target.height, GDK_INTERP_BILINEAR));
  }
  if (!grab.frame || !writeThumbnailJPEG(grab.frame.get(), *destination)) return std::nullopt;
  return destination;
}

}  // namespace orvik
