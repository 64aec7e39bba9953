#include <gdk/gdk.h>
#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>
#include <gtk/gtk.h>

#include <cmath>
#include <limits>
#include <mutex>
#include <utility>

#include "platform/dispatch/task_queue.h"
#include "viewers/video_playback.h"

namespace orvik {
namespace {

constexpr double kUnknown = std::numeric_limits<double>::quiet_NaN();

// The paintable every picture of the player shows: the newest texture,
// drawn at the size it is given (the GtkPicture keeps the aspect ratio).
struct OrvikPlaybackPaintable {
  GObject parent;
  GdkTexture* texture;
};
struct OrvikPlaybackPaintableClass {
  GObjectClass parent;
};

void orvik_playback_paintable_iface_init(GdkPaintableInterface* iface);
G_DEFINE_TYPE_WITH_CODE(OrvikPlaybackPaintable, orvik_playback_paintable, G_TYPE_OBJECT,
                        G_IMPLEMENT_INTERFACE(GDK_TYPE_PAINTABLE, orvik_playback_paintable_iface_init))

OrvikPlaybackPaintable* paintableSelf(GdkPaintable* paintable) {
  return G_TYPE_CHECK_INSTANCE_CAST(paintable, orvik_playback_paintable_get_type(), OrvikPlaybackPaintable);
}

void paintableSnapshot(GdkPaintable* paintable, GdkSnapshot* snapshot, double width, double height) {
  OrvikPlaybackPaintable* self = paintableSelf(paintable);
  if (self->texture) gdk_paintable_snapshot(GDK_PAINTABLE(self->texture), snapshot, width, height);
}
int paintableWidth(GdkPaintable* paintable) {
  auto* texture = paintableSelf(paintable)->texture;
  return texture ? gdk_texture_get_width(texture) : 0;
}
int paintableHeight(GdkPaintable* paintable) {
  auto* texture = paintableSelf(paintable)->texture;
  return texture ? gdk_texture_get_height(texture) : 0;
}
void orvik_playback_paintable_iface_init(GdkPaintableInterface* iface) {
  iface->snapshot = paintableSnapshot;
  iface->get_intrinsic_width = paintableWidth;
  iface->get_intrinsic_height = paintableHeight;
}
void orvik_playback_paintable_init(OrvikPlaybackPaintable* self) { self->texture = nullptr; }
void orvik_playback_paintable_dispose(GObject* object) {
  g_clear_object(&paintableSelf(GDK_PAINTABLE(object))->texture);
  G_OBJECT_CLASS(orvik_playback_paintable_parent_class)->dispose(object);
}
void orvik_playback_paintable_class_init(OrvikPlaybackPaintableClass* klass) {
  G_OBJECT_CLASS(klass)->dispose = orvik_playback_paintable_dispose;
}

void showTexture(GdkPaintable* paintable, GdkTexture* texture) {
  OrvikPlaybackPaintable* self = paintableSelf(paintable);
  const bool resized = !self->texture || gdk_texture_get_width(self->texture) != gdk_texture_get_width(texture) ||
                       gdk_texture_get_height(self->texture) != gdk_texture_get_height(texture);
  g_set_object(&self->texture, texture);
  if (resized) gdk_paintable_invalidate_size(paintable);
  gdk_paintable_invalidate_contents(paintable);
}

// A mapped buffer that a texture's bytes keep until GTK lets them go.
struct MappedBuffer {
  GstBuffer* buffer;
  GstMapInfo map;
};
void releaseMapped(gpointer data) {
  auto* mapped = static_cast<MappedBuffer*>(data);
  gst_buffer_unmap(mapped->buffer, &mapped->map);
  gst_buffer_unref(mapped->buffer);
  delete mapped;
}

GdkTexture* textureFromSample(GstSample* sample) {
  GstVideoInfo info;
  GstCaps* caps = gst_sample_get_caps(sample);
  GstBuffer* buffer = gst_sample_get_buffer(sample);
  if (!caps || !buffer || !gst_video_info_from_caps(&info, caps)) return nullptr;
  auto* mapped = new MappedBuffer{gst_buffer_ref(buffer), {}};
  if (!gst_buffer_map(mapped->buffer, &mapped->map, GST_MAP_READ)) {
    gst_buffer_unref(mapped->buffer);
    delete mapped;
    return nullptr;
  }
  const int width = GST_VIDEO_INFO_WIDTH(&info), height = GST_VIDEO_INFO_HEIGHT(&info);
  const gsize stride = GST_VIDEO_INFO_PLANE_STRIDE(&info, 0);
  if (width <= 0 || height <= 0 || mapped->map.size < stride * gsize(height)) {
    releaseMapped(mapped);
    return nullptr;
  }
  GBytes* bytes = g_bytes_new_with_free_func(mapped->map.data, stride * height, releaseMapped, mapped);
  GdkTexture* texture = gdk_memory_texture_new(width, height, GDK_MEMORY_R8G8B8A8, bytes, stride);
  g_bytes_unref(bytes);
  return texture;
}

class GstVideoPlayback final : public VideoPlayback, public std::enable_shared_from_this<GstVideoPlayback> {
 public:
  explicit GstVideoPlayback(const std::string& path)
      : paintable_(GDK_PAINTABLE(g_object_new(orvik_playback_paintable_get_type(), nullptr))) {
    static const bool initialised = gst_init_check(nullptr, nullptr, nullptr);
    if (!initialised) return;
    playbin_ = gst_element_factory_make("playbin", nullptr);
    GstElement* sink = gst_element_factory_make("appsink", nullptr);
    if (!playbin_ || !sink) {
      if (sink) gst_object_unref(sink);
      return;
    }
    gst_object_ref_sink(playbin_);
    GstCaps* caps = gst_caps_from_string("video/x-raw,format=RGBA");
    g_object_set(sink, "caps", caps, "max-buffers", 2u, "drop", TRUE, nullptr);
    gst_caps_unref(caps);
    sink_ = GST_APP_SINK(gst_object_ref(sink));
    gchar* uri = gst_filename_to_uri(path.c_str(), nullptr);
    g_object_set(playbin_, "uri", uri, "video-sink", sink, nullptr);
    g_free(uri);
  }

  ~GstVideoPlayback() override {
    if (playbin_) {
      GstBus* bus = gst_element_get_bus(playbin_);
      gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
      gst_object_unref(bus);
      gst_element_set_state(playbin_, GST_STATE_NULL);
      gst_object_unref(playbin_);
    }
    if (sink_) gst_object_unref(sink_);
    {
      std::lock_guard lock(frameMutex_);
      if (pendingFrame_) gst_sample_unref(pendingFrame_);
      pendingFrame_ = nullptr;
    }
    g_object_unref(paintable_);
  }

  // Wires the streaming threads' hops (they hold the player weakly) and
  // prerolls the first picture.
  void start() {
    if (!playbin_) return;
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = [](GstAppSink* sink, gpointer data) {
      static_cast<GstVideoPlayback*>(data)->takeSample(gst_app_sink_pull_sample(sink));
      return GST_FLOW_OK;
    };
    callbacks.new_preroll = [](GstAppSink* sink, gpointer data) {
      static_cast<GstVideoPlayback*>(data)->takeSample(gst_app_sink_pull_preroll(sink));
      return GST_FLOW_OK;
    };
    // The sink's callbacks end with the pipeline, which the destructor stops
    // before `this` goes; they only park the sample and hop.
    gst_app_sink_set_callbacks(sink_, &callbacks, this, nullptr);
    GstBus* bus = gst_element_get_bus(playbin_);
    gst_bus_set_sync_handler(bus, &GstVideoPlayback::onBusMessage,
                             new std::weak_ptr<GstVideoPlayback>(weak_from_this()),
                             [](gpointer data) { delete static_cast<std::weak_ptr<GstVideoPlayback>*>(data); });
    gst_object_unref(bus);
    gst_element_set_state(playbin_, GST_STATE_PAUSED);
  }

  void play() override {
    playing_ = true;
    if (playbin_) gst_element_set_state(playbin_, GST_STATE_PLAYING);
  }
  void pause() override {
    playing_ = false;
    if (playbin_) gst_element_set_state(playbin_, GST_STATE_PAUSED);
  }
  bool isPaused() const override { return !playing_; }

  double currentTime() const override {
    gint64 position = 0;
    if (!playbin_ || !gst_element_query_position(playbin_, GST_FORMAT_TIME, &position) || position < 0) {
      return pendingSeek_ >= 0 ? pendingSeek_ : kUnknown;
    }
    return double(position) / GST_SECOND;
  }
  double duration() const override {
    gint64 duration = 0;
    if (!playbin_ || !gst_element_query_duration(playbin_, GST_FORMAT_TIME, &duration) || duration <= 0) {
      return kUnknown;
    }
    return double(duration) / GST_SECOND;
  }

  void seekExact(double seconds) override {
    if (!playbin_ || !std::isfinite(seconds)) return;
    seconds = std::max(0.0, seconds);
    const auto flags = GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE);
    // Before the first picture is ready a seek is refused: it waits for it.
    if (gst_element_seek_simple(playbin_, GST_FORMAT_TIME, flags, gint64(seconds * GST_SECOND))) {
      pendingSeek_ = -1;
    } else {
      pendingSeek_ = seconds;
    }
  }

  float volume() const override { return volume_; }
  void setVolume(float volume) override {
    volume_ = volume;
    if (playbin_) g_object_set(playbin_, "volume", double(volume), nullptr);
  }
  bool isMuted() const override { return muted_; }
  void setMuted(bool muted) override {
    muted_ = muted;
    if (playbin_) g_object_set(playbin_, "mute", gboolean(muted), nullptr);
  }
  GdkPaintable* paintable() const override { return paintable_; }

 private:
  // Streaming thread: keep only the newest picture; one hop shows it.
  void takeSample(GstSample* sample) {
    if (!sample) return;
    bool post = false;
    {
      std::lock_guard lock(frameMutex_);
      if (pendingFrame_) gst_sample_unref(pendingFrame_);
      pendingFrame_ = sample;
      post = !framePosted_;
      framePosted_ = true;
    }
    if (!post) return;
    platform::mainQueue().post([weak = weak_from_this()] {
      if (auto self = weak.lock()) self->showPendingFrame();
    });
  }

  void showPendingFrame() {
    GstSample* sample = nullptr;
    {
      std::lock_guard lock(frameMutex_);
      sample = std::exchange(pendingFrame_, nullptr);
      framePosted_ = false;
    }
    if (!sample) return;
    if (GdkTexture* texture = textureFromSample(sample)) {
      showTexture(paintable_, texture);
      g_object_unref(texture);
    }
    gst_sample_unref(sample);
  }

  // Any GStreamer thread.
  static GstBusSyncReply onBusMessage(GstBus*, GstMessage* message, gpointer data) {
    const auto& weak = *static_cast<std::weak_ptr<GstVideoPlayback>*>(data);
    switch (GST_MESSAGE_TYPE(message)) {
      case GST_MESSAGE_EOS:
        platform::mainQueue().post([weak] {
          if (auto self = weak.lock()) self->reachedEnd();
        });
        break;
      case GST_MESSAGE_ASYNC_DONE:
        platform::mainQueue().post([weak] {
          if (auto self = weak.lock(); self && self->pendingSeek_ >= 0) self->seekExact(self->pendingSeek_);
        });
        break;
      default:
        break;
    }
    return GST_BUS_DROP;
  }

  void reachedEnd() {
    playing_ = false;
    if (playbin_) gst_element_set_state(playbin_, GST_STATE_PAUSED);
    if (onEnded) onEnded();
  }

  GdkPaintable* paintable_;
  GstElement* playbin_ = nullptr;
  GstAppSink* sink_ = nullptr;
  bool playing_ = false;
  double pendingSeek_ = -1;
  float volume_ = 1.0f;
  bool muted_ = false;
  std::mutex frameMutex_;
  GstSample* pendingFrame_ = nullptr;
  bool framePosted_ = false;
};

}  // namespace

std::shared_ptr<VideoPlayback> makeGstVideoPlayback(const std::string& path) {
  auto playback = std::make_shared<GstVideoPlayback>(path);
  playback->start();
  return playback;
}

}  // namespace orvik
