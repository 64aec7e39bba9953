#include "calls/screens/test_support/widget_tree.h"

#include <gtk/gtk.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <utility>

#include <gtkmm/init.h>
#include <gtkmm/label.h>

namespace orvik::testing {
namespace {

void walk(Gtk::Widget& widget, const std::function<void(Gtk::Widget&)>& visit) {
  visit(widget);
  for (auto* child = widget.get_first_child(); child; child = child->get_next_sibling()) walk(*child, visit);
}

}  // namespace

bool startGtk() {
  static const bool started = [] {
    setenv("GSK_RENDERER", "cairo", 0);
    if (!gtk_init_check()) return false;
    Gtk::init_gtkmm_internals();
    return true;
  }();
  return started;
}

Gtk::Widget* findByName(Gtk::Widget& root, const std::string& name) {
  Gtk::Widget* found = nullptr;
  walk(root, [&](Gtk::Widget& widget) {
    if (!found && std::string(widget.get_name()) == name) found = &widget;
  });
  return found;
}

bool isShown(const Gtk::Widget& widget) {
  for (const Gtk::Widget* w = &widget; w; w = w->get_parent()) {
    if (!w->get_visible()) return false;
  }
  return true;
}

std::vector<std::string> shownTexts(Gtk::Widget& root) {
  std::vector<std::string> texts;
  walk(root, [&](Gtk::Widget& widget) {
    if (auto* label = dynamic_cast<Gtk::Label*>(&widget); label && isShown(*label) && !label->get_text().empty()) {
      texts.push_back(label->get_text());
    }
  });
  return texts;
}

std::vector<std::string> shownNames(Gtk::Widget& root, const std::string& prefix) {
  std::vector<std::string> names;
  walk(root, [&](Gtk::Widget& widget) {
    const std::string widgetName = widget.get_name();
    if (widgetName.rfind(prefix, 0) == 0 && isShown(widget)) names.push_back(widgetName);
  });
  return names;
}

void click(Gtk::Widget* button) {
  if (button && GTK_IS_BUTTON(button->gobj())) g_signal_emit_by_name(button->gobj(), "clicked");
}

bool iterateUntil(const std::function<bool()>& done, double seconds) {
  const gint64 deadline = g_get_monotonic_time() + static_cast<gint64>(seconds * G_USEC_PER_SEC);
  while (!done() && g_get_monotonic_time() < deadline) {
    if (!g_main_context_iteration(nullptr, FALSE)) g_usleep(2000);
  }
  return done();
}

void settle(Gtk::Widget& widget) {
  const gint64 until = g_get_monotonic_time() + G_USEC_PER_SEC / 5;
  widget.queue_draw();
  while (g_get_monotonic_time() < until) {
    if (!g_main_context_iteration(nullptr, FALSE)) g_usleep(2000);
  }
}

WidgetPicture::WidgetPicture(Gtk::Widget& widget) : width_(widget.get_width()), height_(widget.get_height()) {
  if (width_ <= 0 || height_ <= 0) return;
  GdkPaintable* paintable = gtk_widget_paintable_new(widget.gobj());
  GtkSnapshot* snapshot = gtk_snapshot_new();
  gdk_paintable_snapshot(paintable, snapshot, width_, height_);
  GskRenderNode* node = gtk_snapshot_free_to_node(snapshot);
  g_object_unref(paintable);
  GtkNative* native = gtk_widget_get_native(widget.gobj());
  GskRenderer* renderer = native ? gtk_native_get_renderer(native) : nullptr;
  if (node && renderer) {
    graphene_rect_t bounds;
    graphene_rect_init(&bounds, 0, 0, static_cast<float>(width_), static_cast<float>(height_));
    texture_ = gsk_renderer_render_texture(renderer, node, &bounds);
  }
  if (node) gsk_render_node_unref(node);
  if (texture_) {
    pixels_.resize(static_cast<std::size_t>(width_) * height_ * 4);
    gdk_texture_download(texture_, pixels_.data(), static_cast<gsize>(width_) * 4);
  }
}

WidgetPicture::~WidgetPicture() {
  if (texture_) g_object_unref(texture_);
}

WidgetPicture::WidgetPicture(WidgetPicture&& other) noexcept
    : width_(other.width_),
      height_(other.height_),
      texture_(std::exchange(other.texture_, nullptr)),
      pixels_(std::move(other.pixels_)) {}

WidgetPicture& WidgetPicture::operator=(WidgetPicture&& other) noexcept {
  if (this != &other) {
    if (texture_) g_object_unref(texture_);
    width_ = other.width_;
    height_ = other.height_;
    texture_ = std::exchange(other.texture_, nullptr);
    pixels_ = std::move(other.pixels_);
  }
  return *this;
}

BarColour WidgetPicture::at(double x, double y) const {
  const std::uint8_t* p =
      pixels_.data() + (static_cast<std::size_t>(y) * width_ + static_cast<std::size_t>(x)) * 4;
  return {p[2], p[1], p[0]};
}

bool WidgetPicture::save(const std::filesystem::path& file) const {
  std::error_code ec;
  std::filesystem::create_directories(file.parent_path(), ec);
  return texture_ && gdk_texture_save_to_png(texture_, file.c_str());
}

std::filesystem::path saveScreenshot(Gtk::Widget& widget, const std::string& suite, const std::string& name) {
  const auto file = std::filesystem::path(ORVIK_BINARY_DIR) / "test-output" / suite / (name + ".png");
  return WidgetPicture(widget).save(file) ? file : std::filesystem::path();
}

int colourDistance(BarColour a, BarColour b) {
  return std::abs(a.r - b.r) + std::abs(a.g - b.g) + std::abs(a.b - b.b);
}

int nearestBar(BarColour colour) {
  int best = 0;
  for (int i = 1; i < static_cast<int>(kColourBars.size()); ++i) {
    if (colourDistance(colour, kColourBars[i]) < colourDistance(colour, kColourBars[best])) best = i;
  }
  return best;
}

}  // namespace orvik::testing
