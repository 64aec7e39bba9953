#include "calls/screens/video_paintable.h"

#include <gtk/gtk.h>

namespace orvik {
namespace {

struct OrvikVideoPaintable {
  GObject parent;
  GdkTexture* texture;
  int rotation;
  int displayWidth;
  int displayHeight;
  gboolean fill;
  gboolean mirrored;
  guint64 frames;
};

struct OrvikVideoPaintableClass {
  GObjectClass parent;
};

void orvik_video_paintable_iface_init(GdkPaintableInterface* iface);

G_DEFINE_TYPE_WITH_CODE(OrvikVideoPaintable, orvik_video_paintable, G_TYPE_OBJECT,
                        G_IMPLEMENT_INTERFACE(GDK_TYPE_PAINTABLE, orvik_video_paintable_iface_init))

#define ORVIK_VIDEO_PAINTABLE(obj) (G_TYPE_CHECK_INSTANCE_CAST((obj), orvik_video_paintable_get_type(), OrvikVideoPaintable))

OrvikVideoPaintable* self(GdkPaintable* paintable) { return ORVIK_VIDEO_PAINTABLE(paintable); }

void snapshot(GdkPaintable* paintable, GdkSnapshot* gdkSnapshot, double width, double height) {
  OrvikVideoPaintable* p = self(paintable);
  if (!p->texture || width <= 0 || height <= 0) return;
  auto* snap = GTK_SNAPSHOT(gdkSnapshot);
  const StageRect content = videoContentRect({width, height}, {double(p->displayWidth), double(p->displayHeight)},
                                             p->fill);
  const bool quarter = p->rotation == 90 || p->rotation == 270;
  const double drawWidth = quarter ? content.height : content.width;
  const double drawHeight = quarter ? content.width : content.height;
  graphene_rect_t bounds = GRAPHENE_RECT_INIT(0, 0, static_cast<float>(width), static_cast<float>(height));
  gtk_snapshot_push_clip(snap, &bounds);
  gtk_snapshot_save(snap);
  graphene_point_t centre =
      GRAPHENE_POINT_INIT(static_cast<float>(content.x + content.width / 2), static_cast<float>(content.y + content.height / 2));
  gtk_snapshot_translate(snap, &centre);
  // The mirror acts on the upright picture, so it comes before the turn.
  if (p->mirrored) gtk_snapshot_scale(snap, -1, 1);
  if (p->rotation != 0) gtk_snapshot_rotate(snap, static_cast<float>(p->rotation));
  graphene_rect_t rect = GRAPHENE_RECT_INIT(static_cast<float>(-drawWidth / 2), static_cast<float>(-drawHeight / 2),
                                            static_cast<float>(drawWidth), static_cast<float>(drawHeight));
  gtk_snapshot_append_texture(snap, p->texture, &rect);
  gtk_snapshot_restore(snap);
  gtk_snapshot_pop(snap);
}

int intrinsicWidth(GdkPaintable* paintable) { return self(paintable)->displayWidth; }
int intrinsicHeight(GdkPaintable* paintable) { return self(paintable)->displayHeight; }
double intrinsicAspectRatio(GdkPaintable* paintable) {
  OrvikVideoPaintable* p = self(paintable);
  return p->displayHeight > 0 ? static_cast<double>(p->displayWidth) / p->displayHeight : 0;
}

void orvik_video_paintable_iface_init(GdkPaintableInterface* iface) {
  iface->snapshot = snapshot;
  iface->get_intrinsic_width = intrinsicWidth;
  iface->get_intrinsic_height = intrinsicHeight;
  iface->get_intrinsic_aspect_ratio = intrinsicAspectRatio;
}

void orvik_video_paintable_init(OrvikVideoPaintable* p) {
  p->texture = nullptr;
  p->rotation = 0;
  p->displayWidth = 0;
  p->displayHeight = 0;
  p->fill = FALSE;
  p->mirrored = FALSE;
  p->frames = 0;
}

void orvik_video_paintable_dispose(GObject* object) {
  g_clear_object(&ORVIK_VIDEO_PAINTABLE(object)->texture);
  G_OBJECT_CLASS(orvik_video_paintable_parent_class)->dispose(object);
}

void orvik_video_paintable_class_init(OrvikVideoPaintableClass* klass) {
  G_OBJECT_CLASS(klass)->dispose = orvik_video_paintable_dispose;
}

// The texture's bytes keep the picture (and so its pooled buffer) alive.
void releaseFrame(gpointer data) { delete static_cast<std::shared_ptr<const RgbaVideoFrame>*>(data); }

}  // namespace

GdkPaintable* videoPaintableNew() {
  return GDK_PAINTABLE(g_object_new(orvik_video_paintable_get_type(), nullptr));
}

bool isVideoPaintable(GdkPaintable* paintable) {
  return paintable && G_TYPE_CHECK_INSTANCE_TYPE(paintable, orvik_video_paintable_get_type());
}

void videoPaintableShowFrame(GdkPaintable* paintable, std::shared_ptr<const RgbaVideoFrame> frame) {
  g_return_if_fail(isVideoPaintable(paintable));
  if (!frame || !frame->pixels) return;
  OrvikVideoPaintable* p = self(paintable);
  const auto* data = frame->pixels->data();
  const gsize size = static_cast<gsize>(frame->stride) * frame->height;
  const int width = frame->width;
  const int height = frame->height;
  const int stride = frame->stride;
  const int rotation = frame->rotation;
  const StageSize display = frame->displaySize();
  GBytes* bytes =
      g_bytes_new_with_free_func(data, size, releaseFrame, new std::shared_ptr<const RgbaVideoFrame>(std::move(frame)));
  GdkTexture* texture = gdk_memory_texture_new(width, height, GDK_MEMORY_R8G8B8A8, bytes, stride);
  g_bytes_unref(bytes);
  const bool resized = display.width != p->displayWidth || display.height != p->displayHeight;
  g_clear_object(&p->texture);
  p->texture = texture;
  p->rotation = rotation;
  p->displayWidth = static_cast<int>(display.width);
  p->displayHeight = static_cast<int>(display.height);
  ++p->frames;
  if (resized) gdk_paintable_invalidate_size(paintable);
  gdk_paintable_invalidate_contents(paintable);
}

void videoPaintableClear(GdkPaintable* paintable) {
  g_return_if_fail(isVideoPaintable(paintable));
  OrvikVideoPaintable* p = self(paintable);
  if (!p->texture) return;
  g_clear_object(&p->texture);
  p->displayWidth = p->displayHeight = 0;
  gdk_paintable_invalidate_size(paintable);
  gdk_paintable_invalidate_contents(paintable);
}

void videoPaintableSetFill(GdkPaintable* paintable, bool fill) {
  g_return_if_fail(isVideoPaintable(paintable));
  OrvikVideoPaintable* p = self(paintable);
  if (bool(p->fill) == fill) return;
  p->fill = fill;
  gdk_paintable_invalidate_contents(paintable);
}

void videoPaintableSetMirrored(GdkPaintable* paintable, bool mirrored) {
  g_return_if_fail(isVideoPaintable(paintable));
  OrvikVideoPaintable* p = self(paintable);
  if (bool(p->mirrored) == mirrored) return;
  p->mirrored = mirrored;
  gdk_paintable_invalidate_contents(paintable);
}

GdkTexture* videoPaintableTexture(GdkPaintable* paintable) {
  return isVideoPaintable(paintable) ? self(paintable)->texture : nullptr;
}
int videoPaintableRotation(GdkPaintable* paintable) {
  return isVideoPaintable(paintable) ? self(paintable)->rotation : 0;
}
bool videoPaintableFills(GdkPaintable* paintable) { return isVideoPaintable(paintable) && self(paintable)->fill; }
bool videoPaintableIsMirrored(GdkPaintable* paintable) {
  return isVideoPaintable(paintable) && self(paintable)->mirrored;
}
std::uint64_t videoPaintableFrameCount(GdkPaintable* paintable) {
  return isVideoPaintable(paintable) ? self(paintable)->frames : 0;
}

}  // namespace orvik
