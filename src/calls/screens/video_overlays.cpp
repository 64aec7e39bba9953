#include "calls/screens/video_overlays.h"

#include <gtkmm/snapshot.h>

#include <cmath>
#include <vector>

#include "calls/screens/call_avatar_content.h"
#include "calls/screens/call_avatar_view.h"
#include "calls/screens/call_colors.h"
#include "calls/screens/call_icon.h"
#include "calls/screens/format_user_number.h"
#include "calls/screens/video_call_view_model.h"

namespace orvik {
namespace {

GdkRGBA rgba(double r, double g, double b, double a) {
  return {static_cast<float>(r), static_cast<float>(g), static_cast<float>(b), static_cast<float>(a)};
}
GdkRGBA white(double a) { return rgba(1, 1, 1, a); }
const GdkRGBA kBadgeRed = rgba(229 / 255.0, 62 / 255.0, 62 / 255.0, 1);
const GdkRGBA kGold = rgba(201 / 255.0, 168 / 255.0, 76 / 255.0, 1);

graphene_rect_t grect(double x, double y, double w, double h) {
  return GRAPHENE_RECT_INIT(static_cast<float>(x), static_cast<float>(y), static_cast<float>(w), static_cast<float>(h));
}

GskRoundedRect rounded(double x, double y, double w, double h, double radius) {
  GskRoundedRect r;
  graphene_rect_t bounds = grect(x, y, w, h);
  const float c = static_cast<float>(std::min(radius, std::min(w, h) / 2));
  graphene_size_t corner = GRAPHENE_SIZE_INIT(c, c);
  gsk_rounded_rect_init(&r, &bounds, &corner, &corner, &corner, &corner);
  return r;
}

void fillRounded(GtkSnapshot* s, double x, double y, double w, double h, double radius, GdkRGBA color) {
  GskRoundedRect r = rounded(x, y, w, h, radius);
  gtk_snapshot_push_rounded_clip(s, &r);
  graphene_rect_t bounds = grect(x, y, w, h);
  gtk_snapshot_append_color(s, &color, &bounds);
  gtk_snapshot_pop(s);
}

void strokeRounded(GtkSnapshot* s, double x, double y, double w, double h, double radius, double line, GdkRGBA color) {
  GskRoundedRect r = rounded(x, y, w, h, radius);
  const float widths[4] = {static_cast<float>(line), static_cast<float>(line), static_cast<float>(line),
                           static_cast<float>(line)};
  const GdkRGBA colors[4] = {color, color, color, color};
  gtk_snapshot_append_border(s, &r, widths, colors);
}

struct TextStyle {
  double size;
  PangoWeight weight = PANGO_WEIGHT_NORMAL;
  GdkRGBA color = white(1);
  double letterSpacing = 0;
};

PangoLayout* makeLayout(GtkWidget* widget, const std::string& text, const TextStyle& style) {
  PangoLayout* layout = gtk_widget_create_pango_layout(widget, text.c_str());
  PangoFontDescription* font = pango_font_description_new();
  pango_font_description_set_family(font, "sans");
  pango_font_description_set_absolute_size(font, style.size * PANGO_SCALE);
  pango_font_description_set_weight(font, style.weight);
  pango_layout_set_font_description(layout, font);
  pango_font_description_free(font);
  if (style.letterSpacing != 0) {
    PangoAttrList* attrs = pango_attr_list_new();
    pango_attr_list_insert(attrs, pango_attr_letter_spacing_new(static_cast<int>(style.letterSpacing * PANGO_SCALE)));
    pango_layout_set_attributes(layout, attrs);
    pango_attr_list_unref(attrs);
  }
  pango_layout_set_alignment(layout, PANGO_ALIGN_CENTER);
  return layout;
}

StageSize textSize(PangoLayout* layout) {
  int w = 0, h = 0;
  pango_layout_get_pixel_size(layout, &w, &h);
  return {double(w), double(h)};
}

void drawLayout(GtkSnapshot* s, PangoLayout* layout, double x, double y, GdkRGBA color) {
  gtk_snapshot_save(s);
  graphene_point_t at = GRAPHENE_POINT_INIT(static_cast<float>(x), static_cast<float>(y));
  gtk_snapshot_translate(s, &at);
  gtk_snapshot_append_layout(s, layout, &color);
  gtk_snapshot_restore(s);
}

// A column of centred items, measured first and then drawn.
struct ColumnItem {
  double height;
  std::function<void(double top)> draw;
};

void drawColumn(const std::vector<ColumnItem>& items, double spacing, StageRect rect) {
  double total = 0;
  for (const auto& item : items) total += item.height;
  if (!items.empty()) total += spacing * static_cast<double>(items.size() - 1);
  double top = rect.y + (rect.height - total) / 2;
  for (const auto& item : items) {
    item.draw(top);
    top += item.height + spacing;
  }
}

// One of the call screens' symbols (CallIcon's), `size` square with its
// top-left corner at (x, y), in `color`.
void drawSymbol(GtkWidget* widget, GtkSnapshot* s, const std::string& symbol, double x, double y, double size,
                GdkRGBA color) {
  CallIcon::registerIcons();
  GtkIconTheme* theme = gtk_icon_theme_get_for_display(gtk_widget_get_display(widget));
  GtkIconPaintable* icon =
      gtk_icon_theme_lookup_icon(theme, CallIcon::iconNameFor(symbol).c_str(), nullptr, static_cast<int>(size), 1,
                                 GTK_TEXT_DIR_NONE, GTK_ICON_LOOKUP_FORCE_SYMBOLIC);
  if (!icon) return;
  graphene_point_t at = GRAPHENE_POINT_INIT(static_cast<float>(x), static_cast<float>(y));
  gtk_snapshot_save(s);
  gtk_snapshot_translate(s, &at);
  gtk_symbolic_paintable_snapshot_symbolic(GTK_SYMBOLIC_PAINTABLE(icon), GDK_SNAPSHOT(s), size, size, &color, 1);
  gtk_snapshot_restore(s);
  g_object_unref(icon);
}

}  // namespace

void snapshotStagePurple(GtkSnapshot* s, StageRect rect) {
  const GskColorStop stops[2] = {{0, rgba(26 / 255.0, 6 / 255.0, 53 / 255.0, 1)},
                                 {1, rgba(13 / 255.0, 1 / 255.0, 34 / 255.0, 1)}};
  graphene_rect_t bounds = grect(rect.x, rect.y, rect.width, rect.height);
  graphene_point_t from = GRAPHENE_POINT_INIT(static_cast<float>(rect.x), static_cast<float>(rect.y));
  graphene_point_t to =
      GRAPHENE_POINT_INIT(static_cast<float>(rect.x + rect.width), static_cast<float>(rect.y + rect.height));
  gtk_snapshot_append_linear_gradient(s, &bounds, &from, &to, stops, 2);
}

void snapshotTopVideoGradient(GtkSnapshot* s, StageSize stage) {
  const GskColorStop stops[2] = {{0, rgba(0, 0, 0, 0.65)}, {1, rgba(0, 0, 0, 0)}};
  graphene_rect_t bounds = grect(0, 0, stage.width, 110);
  graphene_point_t from = GRAPHENE_POINT_INIT(0, 0);
  graphene_point_t to = GRAPHENE_POINT_INIT(0, 110);
  gtk_snapshot_append_linear_gradient(s, &bounds, &from, &to, stops, 2);
}

void snapshotBottomVideoGradient(GtkSnapshot* s, StageSize stage) {
  const GskColorStop stops[2] = {{0, rgba(0, 0, 0, 0)}, {1, rgba(0, 0, 0, 0.7)}};
  const double top = stage.height - 130;
  graphene_rect_t bounds = grect(0, top, stage.width, 130);
  graphene_point_t from = GRAPHENE_POINT_INIT(0, static_cast<float>(top));
  graphene_point_t to = GRAPHENE_POINT_INIT(0, static_cast<float>(stage.height));
  gtk_snapshot_append_linear_gradient(s, &bounds, &from, &to, stops, 2);
}

void snapshotCameraOff(GtkWidget* widget, GtkSnapshot* s, StageRect rect, const CameraOffContent& content) {
  snapshotStagePurple(s, rect);
  const CameraOffLayout look = cameraOffLayout({rect.width, rect.height}, content.showsName, !content.orvikID.empty());
  const StageRect inner{rect.x + 8, rect.y + 8, rect.width - 16, rect.height - 16};
  const double centreX = rect.x + rect.width / 2;
  const std::string shortName = shortCallName(content.name);

  std::vector<ColumnItem> items;
  const AvatarContent avatar = chooseAvatarContent(content.imageUrl, content.name, look.avatarSize, content.isSubscribed,
                                                   content.pictures ? content.pictures->defaultAvatarURL() : "");
  GdkTexture* picture = avatar.pictureURL && content.pictures ? content.pictures->avatar(*avatar.pictureURL) : nullptr;
  GdkTexture* badge = content.isSubscribed && content.pictures ? content.pictures->badge() : nullptr;
  items.push_back({look.avatarSize, [&](double top) {
                     const double x = centreX - look.avatarSize / 2;
                     const double d = look.avatarSize;
                     GskRoundedRect circle = rounded(x, top, d, d, d / 2);
                     graphene_rect_t bounds = grect(x, top, d, d);
                     gtk_snapshot_push_rounded_clip(s, &circle);
                     if (picture) {
                       gtk_snapshot_append_texture(s, picture, &bounds);
                     } else {
                       const AvatarGradientStops ends = avatarGradientStops(avatar.gradient);
                       const GskColorStop stops[2] = {{0, rgba(ends.from.r, ends.from.g, ends.from.b, ends.from.a)},
                                                      {1, rgba(ends.to.r, ends.to.g, ends.to.b, ends.to.a)}};
                       graphene_point_t from = GRAPHENE_POINT_INIT(static_cast<float>(x), static_cast<float>(top));
                       graphene_point_t to = GRAPHENE_POINT_INIT(static_cast<float>(x + d), static_cast<float>(top + d));
                       gtk_snapshot_append_linear_gradient(s, &bounds, &from, &to, stops, 2);
                     }
                     // A party's own picture stands alone; the default picture
                     // and the gradient carry the initial.
                     if (!picture || avatar.initialOverPicture) {
                       PangoLayout* layout = makeLayout(widget, avatar.initial, {avatar.initialPointSize, PANGO_WEIGHT_BOLD});
                       const StageSize size = textSize(layout);
                       drawLayout(s, layout, centreX - size.width / 2, top + (d - size.height) / 2, white(1));
                       g_object_unref(layout);
                     }
                     gtk_snapshot_pop(s);
                     const GdkRGBA ring = content.isSubscribed ? kGold : rgba(0, 0, 0, 0);
                     strokeRounded(s, x, top, d, d, d / 2, look.ringWidth, ring);
                     if (content.isSubscribed) {
                       const double b = look.badgeSize;
                       const double bx = x + d - b + 2;
                       const double by = top + d - b + 2;
                       if (badge) {
                         graphene_rect_t badgeBounds = grect(bx, by, b, b);
                         gtk_snapshot_append_texture(s, badge, &badgeBounds);
                       } else {
                         fillRounded(s, bx, by, b, b, b / 2, kGold);
                         const double crown = b * 0.48;
                         drawSymbol(widget, s, "crown.fill", bx + (b - crown) / 2, by + (b - crown) / 2, crown, white(1));
                       }
                     }
                   }});
  PangoLayout* nameLayout = nullptr;
  if (look.showsName) {
    nameLayout = makeLayout(widget, shortName, {look.nameFontSize, PANGO_WEIGHT_BOLD});
    pango_layout_set_width(nameLayout, static_cast<int>(std::max(0.0, inner.width) * PANGO_SCALE));
    pango_layout_set_ellipsize(nameLayout, PANGO_ELLIPSIZE_END);
    const StageSize size = textSize(nameLayout);
    // The layout spans the inner width and centres its line itself.
    items.push_back({size.height, [&, size](double top) { drawLayout(s, nameLayout, inner.x, top, white(1)); }});
  }
  PangoLayout* idLayout = nullptr;
  if (look.showsIdLine) {
    idLayout = makeLayout(widget, content.orvikIdLabel + " " + formatUserNumber(content.orvikID), {12, PANGO_WEIGHT_NORMAL, white(0.45), 0.5});
    const StageSize size = textSize(idLayout);
    items.push_back({size.height, [&, size](double top) {
                       drawLayout(s, idLayout, centreX - size.width / 2, top, white(0.45));
                     }});
  }
  const double iconSize = look.compact ? 10 : 13;
  PangoLayout* offLayout = look.showsCameraOffText ? makeLayout(widget, "Camera off", {14, PANGO_WEIGHT_NORMAL, white(0.6)}) : nullptr;
  const StageSize offSize = offLayout ? textSize(offLayout) : StageSize{};
  const double rowSpacing = look.compact ? 5 : 8;
  const double rowTop = look.compact ? 0 : 2;
  items.push_back({rowTop + std::max(iconSize, offSize.height), [&](double top) {
                     const double rowWidth = iconSize + (offLayout ? rowSpacing + offSize.width : 0);
                     const double x = centreX - rowWidth / 2;
                     const double rowHeight = std::max(iconSize, offSize.height);
                     drawSymbol(widget, s, "video.slash.fill", x, top + rowTop + (rowHeight - iconSize) / 2, iconSize,
                                white(0.6));
                     if (offLayout) drawLayout(s, offLayout, x + iconSize + rowSpacing, top + rowTop + (rowHeight - offSize.height) / 2, white(0.6));
                   }});
  graphene_rect_t clip = grect(rect.x, rect.y, rect.width, rect.height);
  gtk_snapshot_push_clip(s, &clip);
  drawColumn(items, look.spacing, inner);
  gtk_snapshot_pop(s);
  if (nameLayout) g_object_unref(nameLayout);
  if (idLayout) g_object_unref(idLayout);
  if (offLayout) g_object_unref(offLayout);
}

void snapshotScreenSharingIndicator(GtkWidget* widget, GtkSnapshot* s, StageRect rect) {
  snapshotStagePurple(s, rect);
  const ScreenSharingIndicatorLayout look = screenSharingIndicatorLayout({rect.width, rect.height});
  const double centreX = rect.x + rect.width / 2;
  std::vector<ColumnItem> items;
  items.push_back({look.symbolSize, [&](double top) {
                     drawSymbol(widget, s, "rectangle.on.rectangle", centreX - look.symbolSize / 2, top,
                                look.symbolSize, white(1));
                   }});
  PangoLayout* text = look.showsText ? makeLayout(widget, "Sharing your screen", {13, PANGO_WEIGHT_MEDIUM, white(0.85)}) : nullptr;
  if (text) {
    const StageSize size = textSize(text);
    items.push_back({size.height, [&, size](double top) { drawLayout(s, text, centreX - size.width / 2, top, white(0.85)); }});
  }
  drawColumn(items, look.spacing, rect);
  if (text) g_object_unref(text);
}

void snapshotPiPMuteBadge(GtkWidget* widget, GtkSnapshot* s, double x, double y) {
  const double size = kPiPMuteBadgeSize;
  GdkRGBA red = kBadgeRed;
  red.alpha = 0.92f;
  fillRounded(s, x, y, size, size, size / 2, red);
  strokeRounded(s, x, y, size, size, size / 2, 1, white(0.25));
  drawSymbol(widget, s, "microphone.slash.fill", x + 7, y + 7, 11, white(1));
}

CameraOffPictures::CameraOffPictures(std::string defaultAvatarURL, std::string badgeURL, std::function<void()> changed)
    : defaultAvatarURL_(std::move(defaultAvatarURL)), badgeURL_(std::move(badgeURL)), changed_(std::move(changed)) {}

GdkTexture* CameraOffPictures::texture(const std::string& url) {
  if (url.empty()) return nullptr;
  auto [entry, added] = entries_.try_emplace(url);
  if (added) {
    // The handle lives in the entry: the load ends with this object.
    entry->second.loading = CallImageLoader::shared().load(url, [this, url](Glib::RefPtr<Gdk::Texture> loaded) {
      if (!loaded) return;  // the initial or the crown stays
      entries_[url].texture = loaded;
      if (changed_) changed_();
    });
  }
  return entry->second.texture ? entry->second.texture->gobj() : nullptr;
}

RemoteCameraOffView::RemoteCameraOffView(CameraOffContent content) : content_(std::move(content)) {
  set_can_target(false);
}

void RemoteCameraOffView::setContent(CameraOffContent content) {
  content_ = std::move(content);
  queue_draw();
}

void RemoteCameraOffView::snapshot_vfunc(const Glib::RefPtr<Gtk::Snapshot>& snapshot) {
  snapshotCameraOff(GTK_WIDGET(gobj()), snapshot->gobj(), {0, 0, double(get_width()), double(get_height())}, content_);
}

ScreenSharingIndicatorView::ScreenSharingIndicatorView() { set_can_target(false); }

void ScreenSharingIndicatorView::snapshot_vfunc(const Glib::RefPtr<Gtk::Snapshot>& snapshot) {
  snapshotScreenSharingIndicator(GTK_WIDGET(gobj()), snapshot->gobj(), {0, 0, double(get_width()), double(get_height())});
}

PiPMuteBadge::PiPMuteBadge() { set_can_target(false); }

void PiPMuteBadge::measure_vfunc(Gtk::Orientation, int, int& minimum, int& natural, int& minimumBaseline,
                                 int& naturalBaseline) const {
  minimum = natural = static_cast<int>(kPiPMuteBadgeSize);
  minimumBaseline = naturalBaseline = -1;
}

void PiPMuteBadge::snapshot_vfunc(const Glib::RefPtr<Gtk::Snapshot>& snapshot) {
  snapshotPiPMuteBadge(GTK_WIDGET(gobj()), snapshot->gobj(), 0, 0);
}

RemoteMutedBadge::RemoteMutedBadge(std::string name) : text_(remoteMutedText(name)) { set_can_target(false); }

void RemoteMutedBadge::setName(std::string name) {
  text_ = remoteMutedText(name);
  queue_resize();
}

void RemoteMutedBadge::measure_vfunc(Gtk::Orientation orientation, int, int& minimum, int& natural,
                                     int& minimumBaseline, int& naturalBaseline) const {
  PangoLayout* layout = makeLayout(const_cast<GtkWidget*>(GTK_WIDGET(gobj())), text_, {12, PANGO_WEIGHT_MEDIUM});
  const StageSize size = textSize(layout);
  g_object_unref(layout);
  // Icon 11, spacing 6, text; 12 pt either side, 4 pt above and below.
  natural = minimum = orientation == Gtk::Orientation::HORIZONTAL ? static_cast<int>(std::ceil(24 + 11 + 6 + size.width))
                                                                  : static_cast<int>(std::ceil(8 + std::max(11.0, size.height)));
  minimumBaseline = naturalBaseline = -1;
}

void RemoteMutedBadge::snapshot_vfunc(const Glib::RefPtr<Gtk::Snapshot>& snapshot) {
  GtkSnapshot* s = snapshot->gobj();
  const double w = get_width();
  const double h = get_height();
  // The glass backdrop (GlassBackground's tint), then the red tint over it.
  const Rgba glass = callcolors::darkGlassTint;
  fillRounded(s, 0, 0, w, h, h / 2, rgba(glass.r, glass.g, glass.b, glass.a));
  GdkRGBA tint = kBadgeRed;
  tint.alpha = 0.55f;
  fillRounded(s, 0, 0, w, h, h / 2, tint);
  strokeRounded(s, 0, 0, w, h, h / 2, 1, white(0.12));
  drawSymbol(GTK_WIDGET(gobj()), s, "microphone.slash.fill", 12, (h - 11) / 2, 11, white(0.9));
  PangoLayout* layout = makeLayout(GTK_WIDGET(gobj()), text_, {12, PANGO_WEIGHT_MEDIUM, white(0.85)});
  const StageSize size = textSize(layout);
  drawLayout(s, layout, 12 + 11 + 6, (h - size.height) / 2, white(0.85));
  g_object_unref(layout);
}

StatusDotLook videoStatusDotLook(double seconds, double delay) {
  const double t = seconds - delay;
  if (t <= 0) return {0.7, 0.4};
  // One swing takes 1.4 s; the next one goes back.
  const double swings = t / 1.4;
  const double within = swings - std::floor(swings);
  const bool back = static_cast<long long>(std::floor(swings)) % 2 == 1;
  const double p = easeInOut(back ? 1 - within : within);
  return {0.7 + 0.4 * p, 0.4 + 0.6 * p};
}

VideoCallingStateOverlay::VideoCallingStateOverlay(VideoCallViewModel& model, std::string callingText)
    : model_(model), callingText_(std::move(callingText)) {
  set_can_target(false);
  modelChanged_ = model_.addObserver([this] { queue_draw(); });
  tick_ = gtk_widget_add_tick_callback(
      GTK_WIDGET(gobj()),
      [](GtkWidget* widget, GdkFrameClock*, gpointer) -> gboolean {
        gtk_widget_queue_draw(widget);
        return G_SOURCE_CONTINUE;
      },
      nullptr, nullptr);
}

VideoCallingStateOverlay::~VideoCallingStateOverlay() {
  // A widget destroyed with its window has lost its GTK object (and the
  // callback with it) before this runs.
  if (tick_ && gobj()) gtk_widget_remove_tick_callback(GTK_WIDGET(gobj()), tick_);
}

std::string VideoCallingStateOverlay::statusText() const {
  return callingStatusText(model_->timerText, callingText_);
}

void VideoCallingStateOverlay::snapshot_vfunc(const Glib::RefPtr<Gtk::Snapshot>& snapshot) {
  GtkSnapshot* s = snapshot->gobj();
  GtkWidget* widget = GTK_WIDGET(gobj());
  const double centreX = get_width() / 2.0;
  GdkFrameClock* clock = gtk_widget_get_frame_clock(widget);
  const gint64 now = clock ? gdk_frame_clock_get_frame_time(clock) : g_get_monotonic_time();
  if (shownAt_ == 0) shownAt_ = now;
  const double seconds = double(now - shownAt_) / G_USEC_PER_SEC;

  PangoLayout* name = makeLayout(widget, model_->calleeName, {20, PANGO_WEIGHT_BOLD});
  pango_layout_set_width(name, static_cast<int>(std::max(0, get_width() - 32) * PANGO_SCALE));
  pango_layout_set_wrap(name, PANGO_WRAP_WORD_CHAR);
  PangoLayout* status = makeLayout(widget, statusText(), {13, PANGO_WEIGHT_NORMAL, white(0.8), 0.4});
  const StageSize nameSize = textSize(name);
  const StageSize statusSize = textSize(status);
  // One shadow under the group: black 55 %, radius 5, 1 pt down.
  const GskShadow shadow{rgba(0, 0, 0, 0.55), 0, 1, 5};
  gtk_snapshot_push_shadow(s, &shadow, 1);
  double top = 70;
  drawLayout(s, name, 16, top, white(1));  // spans the width less 16 pt each side, centred
  top += nameSize.height + 10;
  drawLayout(s, status, centreX - statusSize.width / 2, top, white(0.8));
  top += statusSize.height + 10;
  const double dot = 7;
  const double rowWidth = 3 * dot + 2 * 6;
  for (int i = 0; i < 3; ++i) {
    const StatusDotLook look = videoStatusDotLook(seconds, i * 0.25);
    const double size = dot * look.scale;
    const double cx = centreX - rowWidth / 2 + i * (dot + 6) + dot / 2;
    const double cy = top + dot / 2;
    fillRounded(s, cx - size / 2, cy - size / 2, size, size, size / 2, white(0.45 * look.opacity));
  }
  gtk_snapshot_pop(s);
  g_object_unref(name);
  g_object_unref(status);
}

}  // namespace orvik
