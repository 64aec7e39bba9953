#include <gdk/gdk.h>
#include <gtk/gtk.h>

#include "files/image_clipboard.h"

namespace orvik {
namespace {

class GtkImageClipboard final : public ImageClipboard {
 public:
  bool writeImage(const std::string& imageBytes, const std::optional<std::string>& text) override {
    GdkDisplay* display = gdk_display_get_default();
    if (!display) return false;
    GBytes* bytes = g_bytes_new(imageBytes.data(), imageBytes.size());
    GError* error = nullptr;
    GdkTexture* texture = gdk_texture_new_from_bytes(bytes, &error);
    g_bytes_unref(bytes);
    if (!texture) {
      g_clear_error(&error);
      return false;
    }
    // The texture provider offers every format GTK serialises textures to
    // (image/png first); the text goes beside it as its own representation.
    GdkContentProvider* image = gdk_content_provider_new_typed(GDK_TYPE_TEXTURE, texture);
    g_object_unref(texture);
    GdkContentProvider* content = image;
    if (text && !text->empty()) {
      GBytes* utf8 = g_bytes_new(text->data(), text->size());
      GdkContentProvider* parts[] = {image, gdk_content_provider_new_for_bytes("text/plain;charset=utf-8", utf8),
                                     gdk_content_provider_new_typed(G_TYPE_STRING, text->c_str())};
      g_bytes_unref(utf8);
      content = gdk_content_provider_new_union(parts, G_N_ELEMENTS(parts));
    }
    const gboolean stored = gdk_clipboard_set_content(gdk_display_get_clipboard(display), content);
    g_object_unref(content);
    return stored;
  }
};

}  // namespace

std::unique_ptr<ImageClipboard> makeGtkImageClipboard() { return std::make_unique<GtkImageClipboard>(); }

}  // namespace orvik
