#include "calls/screens/screen_share_picker_view.h"

#include <gdk/gdk.h>
#include <gtkmm/adjustment.h>
#include <gtkmm/eventcontrollerkey.h>
#include <gtkmm/gestureclick.h>
#include <gtkmm/picture.h>
#include <gtkmm/separator.h>
#include <gtkmm/spinner.h>

#include "calls/screens/call_colors.h"
#include "calls/screens/call_screen_css.h"

namespace orvik {

ScreenShareOptionCard::ScreenShareOptionCard(const std::string& title, bool selected)
    : frame_(Gtk::Orientation::VERTICAL) {
  set_name("screen-share-card");
  set_has_frame(false);
  set_focus_on_click(false);
  auto* column = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 6);
  frame_.set_size_request(150, 100);
  auto* spinner = Gtk::make_managed<Gtk::Spinner>();
  spinner->set_spinning(true);
  spinner->set_vexpand(true);
  spinner->set_halign(Gtk::Align::CENTER);
  frame_.append(*spinner);
  column->append(frame_);
  title_.set_text(title);
  title_.set_single_line_mode(true);
  title_.set_ellipsize(Pango::EllipsizeMode::MIDDLE);
  title_.set_max_width_chars(20);
  setWidgetCss(title_, "label { font-size: 11pt; }");
  column->append(title_);
  set_child(*column);
  setWidgetCss(*this, "button { padding: 0; background: none; border: none; box-shadow: none; }");
  setSelected(selected);
}

void ScreenShareOptionCard::setSelected(bool selected) {
  set_name(selected ? "screen-share-card-selected" : "screen-share-card");
  setWidgetCss(frame_, "box { border-radius: 8px; background-color: " + cssColor(Rgba::black(0.15)) + "; border: " +
                           (selected ? std::string("3px solid @accent_bg_color") : "1px solid " + cssColor(Rgba::grey(0.5, 0.3))) +
                           "; }");
}

void ScreenShareOptionCard::setThumbnail(const ScreenShareThumbnail* thumbnail) {
  if (!thumbnail || thumbnail->bgra.empty()) return;
  while (auto* child = frame_.get_first_child()) frame_.remove(*child);
  GBytes* bytes = g_bytes_new(thumbnail->bgra.data(), thumbnail->bgra.size());
  GdkTexture* texture = gdk_memory_texture_new(thumbnail->width, thumbnail->height, GDK_MEMORY_B8G8R8A8, bytes,
                                               static_cast<gsize>(thumbnail->width) * 4);
  g_bytes_unref(bytes);
  auto* picture = Gtk::make_managed<Gtk::Picture>();
  gtk_picture_set_paintable(picture->gobj(), GDK_PAINTABLE(texture));
  g_object_unref(texture);
  picture->set_can_shrink(true);
  picture->set_keep_aspect_ratio(true);
  picture->set_vexpand(true);
  picture->set_margin_start(4);
  picture->set_margin_end(4);
  picture->set_margin_top(4);
  picture->set_margin_bottom(4);
  picture->set_size_request(-1, 92);
  frame_.append(*picture);
  hasThumbnail_ = true;
}

ScreenSharePickerOverlay::ScreenSharePickerOverlay(ShareableContent content, bool isDarkMode,
                                                   platform::UserDefaults& defaults,
                                                   ScreenShareThumbnailer* thumbnailer,
                                                   std::function<void(const ShareTarget&)> onShare,
                                                   std::function<void()> onCancel)
    : Gtk::Box(Gtk::Orientation::VERTICAL),
      picker_(std::move(content), defaults),
      onShare_(std::move(onShare)),
      onCancel_(std::move(onCancel)) {
  set_name("screen-share-picker");
  set_hexpand(true);
  set_vexpand(true);
  setWidgetCss(*this, "box#screen-share-picker { background-color: " + cssColor(Rgba::black(0.6)) + "; }");
  auto backdrop = Gtk::GestureClick::create();
  backdrop->signal_released().connect([this](int, double x, double y) {
    double px = 0, py = 0;
    if (translate_coordinates(panel_, x, y, px, py) && panel_.contains(px, py)) return;
    clickBackdrop();
  });
  add_controller(backdrop);
  auto keys = Gtk::EventControllerKey::create();
  keys->signal_key_pressed().connect(
      [this](guint key, guint, Gdk::ModifierType) {
        if (key != GDK_KEY_Return && key != GDK_KEY_KP_Enter) return false;
        activateDefault();
        return true;
      },
      false);
  add_controller(keys);

  panel_.set_name("screen-share-panel");
  panel_.set_size_request(540, -1);
  panel_.set_halign(Gtk::Align::CENTER);
  panel_.set_valign(Gtk::Align::CENTER);
  panel_.set_hexpand(true);
  panel_.set_vexpand(true);
  // The window background of the theme the call screen is in.
  setWidgetCss(panel_, "box { border-radius: 16px; background-color: " +
                           cssColor(isDarkMode ? Rgba::of255(36, 33, 44) : Rgba::of255(246, 245, 244)) +
                           "; color: " + (isDarkMode ? std::string("white") : cssColor(Rgba::of255(30, 30, 30))) +
                           "; border: 1px solid " + cssColor(Rgba::white(isDarkMode ? 0.12 : 0.08)) +
                           "; box-shadow: 0 12px 30px " + cssColor(Rgba::black(0.5)) + "; }");

  auto* title = Gtk::make_managed<Gtk::Label>(ScreenSharePickerModel::kTitle);
  title->set_margin_top(18);
  title->set_margin_bottom(14);
  setWidgetCss(*title, "label { font-size: 15pt; font-weight: 600; }");
  panel_.append(*title);

  auto* tabs = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 0);
  tabs->add_css_class("linked");
  tabs->set_halign(Gtk::Align::CENTER);
  tabs->set_size_request(240, -1);
  tabs->set_homogeneous(true);
  tabs->set_margin_bottom(16);
  windowTab_.set_label(ScreenSharePickerModel::kWindowTab);
  screenTab_.set_label(ScreenSharePickerModel::kScreenTab);
  screenTab_.set_group(windowTab_);
  tabs->append(windowTab_);
  tabs->append(screenTab_);
  panel_.append(*tabs);
  auto onTab = [this](ScreenSharePickerModel::Tab tab, Gtk::ToggleButton& button) {
    if (updatingTabs_ || !button.get_active() || picker_.tab() == tab) return;
    picker_.setTab(tab);
    rebuildGrid();
  };
  windowTab_.signal_toggled().connect([this, onTab] { onTab(ScreenSharePickerModel::Tab::window, windowTab_); });
  screenTab_.signal_toggled().connect([this, onTab] { onTab(ScreenSharePickerModel::Tab::screen, screenTab_); });

  grid_.set_selection_mode(Gtk::SelectionMode::NONE);
  grid_.set_homogeneous(true);
  grid_.set_min_children_per_line(3);
  grid_.set_max_children_per_line(3);
  grid_.set_column_spacing(14);
  grid_.set_row_spacing(14);
  grid_.set_valign(Gtk::Align::START);
  grid_.set_margin_start(20);
  grid_.set_margin_end(20);
  grid_.set_margin_top(20);
  grid_.set_margin_bottom(20);
  scroller_.set_child(grid_);
  scroller_.set_size_request(-1, 260);
  scroller_.set_policy(Gtk::PolicyType::NEVER, Gtk::PolicyType::AUTOMATIC);
  panel_.append(scroller_);
  panel_.append(*Gtk::make_managed<Gtk::Separator>(Gtk::Orientation::HORIZONTAL));

  auto* row = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
  row->set_margin_start(16);
  row->set_margin_end(16);
  row->set_margin_top(16);
  row->set_margin_bottom(16);
  auto* space = Gtk::make_managed<Gtk::Box>();
  space->set_hexpand(true);
  row->append(*space);
  cancel_.set_label(ScreenSharePickerModel::kCancel);
  cancel_.set_name("screen-share-cancel");
  cancel_.signal_clicked().connect([this] {
    if (onCancel_) onCancel_();
  });
  share_.set_label(ScreenSharePickerModel::kShare);
  share_.set_name("screen-share-share");
  share_.add_css_class("suggested-action");
  share_.signal_clicked().connect([this] { pressShare(); });
  row->append(cancel_);
  row->append(share_);
  panel_.append(*row);
  append(panel_);

  rebuildGrid();
  if (thumbnailer) {
    thumbnailer->capture(picker_.content(), [this, alive = std::weak_ptr<int>(alive_)](ScreenShareThumbnails pictures) {
      if (!alive.lock()) return;
      thumbnails_ = std::move(pictures);
      thumbnailsApplied_ = true;
      picker_.thumbnailsArrived();
      rebuildGrid();
    });
  }
}

ScreenSharePickerOverlay::~ScreenSharePickerOverlay() = default;

void ScreenSharePickerOverlay::rebuildGrid() {
  updatingTabs_ = true;
  windowTab_.set_active(picker_.tab() == ScreenSharePickerModel::Tab::window);
  screenTab_.set_active(picker_.tab() == ScreenSharePickerModel::Tab::screen);
  updatingTabs_ = false;
  while (auto* child = grid_.get_first_child()) grid_.remove(*child);
  cards_.clear();
  const auto titles = picker_.cardTitles();
  const auto selection = picker_.selection();
  const auto& pictures =
      picker_.tab() == ScreenSharePickerModel::Tab::window ? thumbnails_.windows : thumbnails_.displays;
  for (std::size_t i = 0; i < titles.size(); ++i) {
    auto* card = Gtk::make_managed<ScreenShareOptionCard>(titles[i], selection == i);
    if (const auto it = pictures.find(i); it != pictures.end()) card->setThumbnail(&it->second);
    card->signal_clicked().connect([this, i] {
      picker_.select(i);
      refresh();
    });
    grid_.append(*card);
    cards_.push_back(card);
  }
  scroller_.get_vadjustment()->set_value(0);
  refresh();
}

void ScreenSharePickerOverlay::refresh() {
  const auto selection = picker_.selection();
  for (std::size_t i = 0; i < cards_.size(); ++i) cards_[i]->setSelected(selection == i);
  share_.set_sensitive(picker_.canShare());
}

void ScreenSharePickerOverlay::pressShare() {
  if (auto target = picker_.share()) {
    if (onShare_) onShare_(*target);
  }
}

void ScreenSharePickerOverlay::activateDefault() {
  if (picker_.canShare()) pressShare();
}

void ScreenSharePickerOverlay::clickBackdrop() {
  if (onCancel_) onCancel_();
}

}  // namespace orvik
