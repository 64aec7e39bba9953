#include "viewers/glass_video_player_view.h"

#include <algorithm>
#include <utility>

#include "platform/dispatch/task_queue.h"
#include "viewers/video_playback.h"
#include "viewers/viewer_toolbar.h"
#include "viewers/viewer_window_chrome.h"

namespace orvik {
namespace {

void ensurePlayerCss() {
  static bool loaded = false;
  if (loaded) return;
  loaded = true;
  auto css = Gtk::CssProvider::create();
  css->load_from_data(
      ".orvik-video-stage { background-color: black; }"
      ".orvik-video-bar button { color: white; background: none; border: none; box-shadow: none;"
      "  -gtk-icon-shadow: 0 0 3px rgba(0,0,0,0.6); min-width: 28px; min-height: 28px; padding: 2px; }"
      ".orvik-video-bar button.orvik-size-20 image { -gtk-icon-size: 20px; }"
      ".orvik-video-bar button.orvik-size-17 image { -gtk-icon-size: 17px; }"
      ".orvik-video-bar button.orvik-size-15 image { -gtk-icon-size: 15px; }"
      ".orvik-video-bar button.orvik-size-13 image { -gtk-icon-size: 13px; }"
      ".orvik-video-time { font-family: monospace; font-size: 11px; font-weight: 500; color: white; }"
      ".orvik-video-bar scale trough { min-height: 4px; background-color: rgba(255,255,255,0.28); border: none; }"
      ".orvik-video-bar scale highlight { background-color: white; border: none; margin: 0; }"
      ".orvik-video-bar scale slider { min-width: 12px; min-height: 12px; margin: -4px; background: white;"
      "  border: none; box-shadow: 0 0 3px rgba(0,0,0,0.45); }");
  Gtk::StyleContext::add_provider_for_display(Gdk::Display::get_default(), css,
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
}

Gtk::Scale* makeGlassSlider(const std::string& name, double value) {
  auto* scale = Gtk::make_managed<Gtk::Scale>(Gtk::Orientation::HORIZONTAL);
  scale->set_name(name);
  scale->set_range(0, 1);
  scale->set_increments(0.01, 0.1);
  scale->set_value(value);
  scale->set_draw_value(false);
  scale->set_valign(Gtk::Align::CENTER);
  return scale;
}

Gtk::Label* makeTimeLabel(const std::string& name) {
  auto* label = Gtk::make_managed<Gtk::Label>("0:00");
  label->set_name(name);
  label->add_css_class("orvik-video-time");
  label->set_xalign(1.0);
  label->set_size_request(44, -1);
  return label;
}

}  // namespace

GlassVideoPlayerView::GlassVideoPlayerView(std::shared_ptr<VideoPlayback> player) : player_(std::move(player)) {
  ensurePlayerCss();
  add_css_class("orvik-video-stage");
  picture_.set_name("orvik-video-picture");
  picture_.set_can_shrink(true);
  picture_.set_keep_aspect_ratio(true);
  picture_.set_hexpand(true);
  picture_.set_vexpand(true);
  set_child(picture_);

  bar_ = makeGlassBackground(18, true, Gtk::Orientation::VERTICAL);
  bar_->set_name("orvik-video-controls");
  bar_->add_css_class("orvik-video-bar");
  bar_->set_size_request(560, -1);
  bar_->set_halign(Gtk::Align::CENTER);
  bar_->set_valign(Gtk::Align::END);
  bar_->set_margin_bottom(22);
  bar_->set_margin_start(24);
  bar_->set_margin_end(24);

  auto* timeline = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
  timeline->set_margin_start(16);
  timeline->set_margin_end(16);
  timeline->set_margin_top(12);
  currentTime_ = makeTimeLabel("orvik-video-current-time");
  duration_ = makeTimeLabel("orvik-video-duration");
  scrubber_ = makeGlassSlider("orvik-video-scrubber", 0);
  scrubber_->set_hexpand(true);
  timeline->append(*currentTime_);
  timeline->append(*scrubber_);
  timeline->append(*duration_);

  auto* lower = Gtk::make_managed<Gtk::CenterBox>();
  lower->set_margin_start(16);
  lower->set_margin_end(16);
  lower->set_margin_top(10);
  lower->set_margin_bottom(14);
  auto* volumeRow = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 6);
  volumeButton_ = makeControlButton("orvik-video-mute", "speaker.wave.2.fill", 13, &VideoPlayerControls::toggleMute);
  volumeSlider_ = makeGlassSlider("orvik-video-volume", 1);
  volumeSlider_->set_size_request(70, -1);
  volumeRow->append(*volumeButton_);
  volumeRow->append(*volumeSlider_);
  auto* transport = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 20);
  transport->append(*makeControlButton("orvik-video-back", "gobackward.10", 17, &VideoPlayerControls::skipBackward));
  playPause_ = makeControlButton("orvik-video-play-pause", "pause.fill", 20, &VideoPlayerControls::togglePlayPause);
  transport->append(*playPause_);
  transport->append(*makeControlButton("orvik-video-forward", "goforward.10", 17, &VideoPlayerControls::skipForward));
  auto* pip = makeControlButton("orvik-video-pip", "pip.enter", 15, nullptr);
  pip->signal_clicked().connect([this] {
    if (onEnterPiP) onEnterPiP();
  });
  lower->set_start_widget(*volumeRow);
  lower->set_center_widget(*transport);
  lower->set_end_widget(*pip);
  bar_->append(*timeline);
  bar_->append(*lower);
  add_overlay(*bar_);

  // User changes only: the controls' own updates of the sliders do not come
  // back as changes.
  volumeSlider_->signal_change_value().connect(
      [this](Gtk::ScrollType, double value) {
        controls_->volumeChanged(std::clamp(value, 0.0, 1.0));
        return false;
      },
      false);
  scrubber_->signal_change_value().connect(
      [this](Gtk::ScrollType, double value) {
        controls_->scrubberChanged(std::clamp(value, 0.0, 1.0));
        return false;
      },
      false);
  // A drag of the scrubber suspends the bar's hiding until it is released.
  // gtkmm 4.8 has no wrapper for the legacy controller, which sees the
  // press and the release whichever gesture of the scale claims the drag.
  GtkEventController* scrub = gtk_event_controller_legacy_new();
  gtk_event_controller_set_propagation_phase(scrub, GTK_PHASE_CAPTURE);
  g_signal_connect(scrub, "event", G_CALLBACK(+[](GtkEventControllerLegacy*, GdkEvent* event, gpointer data) {
                     auto* self = static_cast<GlassVideoPlayerView*>(data);
                     if (!self->controls_) return gboolean(FALSE);
                     if (gdk_event_get_event_type(event) == GDK_BUTTON_PRESS) self->controls_->scrubStart();
                     if (gdk_event_get_event_type(event) == GDK_BUTTON_RELEASE) self->controls_->scrubEnd();
                     return gboolean(FALSE);
                   }),
                   this);
  gtk_widget_add_controller(GTK_WIDGET(scrubber_->gobj()), scrub);

  auto click = Gtk::GestureClick::create();
  click->signal_pressed().connect([this](int, double, double) { controls_->togglePlayPause(); });
  picture_.add_controller(click);

  auto motion = Gtk::EventControllerMotion::create();
  motion->set_propagation_phase(Gtk::PropagationPhase::CAPTURE);
  motion->signal_enter().connect([this](double x, double y) {
    pointerInside_ = true;
    pointerX_ = x;
    pointerY_ = y;
    controls_->pointerEntered();
  });
  motion->signal_motion().connect([this](double x, double y) {
    pointerInside_ = true;
    pointerX_ = x;
    pointerY_ = y;
    controls_->pointerMoved();
  });
  motion->signal_leave().connect([this] {
    pointerInside_ = false;
    controls_->pointerExited();
  });
  add_controller(motion);

  auto zoom = Gtk::GestureZoom::create();
  zoom->signal_begin().connect([this](Gdk::EventSequence*) {
    pinchScale_ = 1;
    controls_->pinchBegan();
  });
  zoom->signal_scale_changed().connect([this](double scale) {
    controls_->pinchChanged(scale - pinchScale_);
    pinchScale_ = scale;
  });
  zoom->signal_end().connect([this](Gdk::EventSequence*) { controls_->pinchEnded(0); });
  add_controller(zoom);

  controls_ = std::make_unique<VideoPlayerControls>(platform::mainQueue(), player_, *this);
  attachPlayer();
}

GlassVideoPlayerView::~GlassVideoPlayerView() { teardown(); }

Gtk::Button* GlassVideoPlayerView::makeControlButton(const std::string& name, const std::string& symbol,
                                                     int pixelSize, void (VideoPlayerControls::*action)()) {
  auto* button = Gtk::make_managed<Gtk::Button>();
  button->set_name(name);
  button->set_icon_name(ViewerToolbar::iconFor(symbol));
  button->add_css_class("orvik-size-" + std::to_string(pixelSize));
  button->set_focus_on_click(false);
  button->set_valign(Gtk::Align::CENTER);
  if (action) {
    button->signal_clicked().connect([this, action] { (controls_.get()->*action)(); });
  }
  return button;
}

void GlassVideoPlayerView::teardown() {
  if (controls_) controls_->teardown();
  detachPlayer();
}

void GlassVideoPlayerView::attachPlayer() { gtk_picture_set_paintable(picture_.gobj(), player_->paintable()); }

void GlassVideoPlayerView::detachPlayer() { gtk_picture_set_paintable(picture_.gobj(), nullptr); }

void GlassVideoPlayerView::setPlayPauseSymbol(const std::string& symbol) {
  playPauseSymbol_ = symbol;
  playPause_->set_icon_name(ViewerToolbar::iconFor(symbol));
}

void GlassVideoPlayerView::setVolumeSymbol(const std::string& symbol) {
  volumeSymbol_ = symbol;
  volumeButton_->set_icon_name(ViewerToolbar::iconFor(symbol));
}

void GlassVideoPlayerView::setVolumeSlider(double value) { volumeSlider_->set_value(value); }
void GlassVideoPlayerView::setScrubber(double fraction) { scrubber_->set_value(fraction); }
void GlassVideoPlayerView::setCurrentTimeText(const std::string& text) { currentTime_->set_text(text); }
void GlassVideoPlayerView::setDurationText(const std::string& text) { duration_->set_text(text); }

void GlassVideoPlayerView::setBarVisible(bool visible) { fadeWidget(*bar_, visible, visible ? 0.18 : 0.35); }

bool GlassVideoPlayerView::isPointerOverBar() const {
  if (!pointerInside_ || !get_root()) return false;
  graphene_rect_t bounds;
  if (!gtk_widget_compute_bounds(GTK_WIDGET(bar_->gobj()), GTK_WIDGET(const_cast<GtkOverlay*>(gobj())), &bounds)) {
    return false;
  }
  graphene_point_t point = GRAPHENE_POINT_INIT(float(pointerX_), float(pointerY_));
  return graphene_rect_contains_point(&bounds, &point);
}

bool GlassVideoPlayerView::isFullScreen() const {
  auto* window = dynamic_cast<const Gtk::Window*>(get_root());
  return window && window->is_fullscreen();
}

void GlassVideoPlayerView::setFullScreen(bool fullScreen) {
  auto* window = dynamic_cast<Gtk::Window*>(get_root());
  if (!window) return;
  if (fullScreen) {
    window->fullscreen();
  } else {
    window->unfullscreen();
  }
}

}  // namespace orvik
