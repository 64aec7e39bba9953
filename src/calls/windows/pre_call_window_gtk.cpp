#include "calls/windows/pre_call_window_gtk.h"

#include <gtkmm/snapshot.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <cmath>

#include "calls/control/call_strings.h"
#include "calls/screens/call_avatar_view.h"
#include "calls/screens/call_colors.h"
#include "calls/screens/call_icon.h"
#include "calls/screens/call_screen_css.h"
#include "calls/screens/camera_preview_view.h"
#include "calls/media/camera_source.h"
#include "platform/dispatch/task_queue.h"

namespace orvik {

namespace {

constexpr Rgba kBackground = Rgba::of255(16, 6, 36);
constexpr Rgba kRingPurple = {155 / 255.0, 48 / 255.0, 1.0, 1.0};
constexpr Rgba kEndRed = {0.88, 0.25, 0.25, 1.0};
constexpr Rgba kEndingRed = {1.0, 0.35, 0.35, 1.0};
constexpr Rgba kLiveDot = {0.9, 0.24, 0.24, 1.0};
constexpr Rgba kLiveDotRim = {0.08, 0.04, 0.16, 1.0};
constexpr double kAvatarSize = 110;
constexpr double kChipAvatarSize = 36;
constexpr const char* kCameraOff = "Camera off";
constexpr double kKeepClosedWindowSeconds = 1.0;

std::string labelCss(double size, int weight, const Rgba& colour, const std::string& extra = "") {
  return "label { font-size: " + cssPixels(size) + "; font-weight: " + std::to_string(weight) +
         "; color: " + cssColor(colour) + ";" + extra + " }";
}

// The capsule behind the controls bar and the callee chip: GTK cannot blur
// what lies behind, so the glass is its tint alone, with a thin light rim.
std::string glassCapsuleCss(double rimOpacity, const std::string& padding) {
  return "box { background-color: " + cssColor(callcolors::darkGlassTint) + "; border: 1px solid " +
         cssColor(Rgba::white(rimOpacity)) + "; border-radius: 9999px; padding: " + padding + "; }";
}

Gtk::Label* makeLabel(const std::string& name, const std::string& css) {
  auto* label = Gtk::make_managed<Gtk::Label>();
  label->set_name(name);
  label->set_single_line_mode(true);
  label->set_ellipsize(Pango::EllipsizeMode::END);
  setWidgetCss(*label, css);
  return label;
}

Gtk::Box* spacer(int height, bool expand) {
  auto* box = Gtk::make_managed<Gtk::Box>();
  box->set_size_request(-1, height);
  box->set_vexpand(expand);
  return box;
}

int buttonIndex(PreCallButton button) { return static_cast<int>(button); }

}  // namespace

// ---------------------------------------------------------------- PulsingRings

PulsingRings::PulsingRings(double baseSize) : baseSize_(baseSize) {
  set_name("precall-rings");
  set_can_target(false);
}

PulsingRings::~PulsingRings() {
  if (tick_) gtk_widget_remove_tick_callback(GTK_WIDGET(gobj()), tick_);
}

double PulsingRings::elapsed() const {
  return shownAt_ == 0 ? 0.0 : static_cast<double>(g_get_monotonic_time() - shownAt_) / G_USEC_PER_SEC;
}

void PulsingRings::measure_vfunc(Gtk::Orientation, int, int& minimum, int& natural, int& minimumBaseline,
                                 int& naturalBaseline) const {
  // The largest ring at rest: growing does not move what is around it.
  minimum = natural = static_cast<int>(std::ceil(pulsingRingAt(kPulsingRingCount - 1, 0, baseSize_).diameter));
  minimumBaseline = naturalBaseline = -1;
}

void PulsingRings::on_map() {
  Gtk::Widget::on_map();
  // Shown anew: the rings start again from rest.
  shownAt_ = g_get_monotonic_time();
  if (!tick_) {
    tick_ = gtk_widget_add_tick_callback(
        GTK_WIDGET(gobj()),
        [](GtkWidget* widget, GdkFrameClock*, gpointer) -> gboolean {
          gtk_widget_queue_draw(widget);
          return G_SOURCE_CONTINUE;
        },
        nullptr, nullptr);
  }
}

void PulsingRings::on_unmap() {
  if (tick_) gtk_widget_remove_tick_callback(GTK_WIDGET(gobj()), tick_);
  tick_ = 0;
  Gtk::Widget::on_unmap();
}

void PulsingRings::snapshot_vfunc(const Glib::RefPtr<Gtk::Snapshot>& snapshot) {
  const double width = get_width(), height = get_height();
  // Grown rings reach beyond the widget's own square.
  const double reach = std::max(width, height) * (kPulsingRingScale - 1) / 2 + 2;
  graphene_rect_t bounds = GRAPHENE_RECT_INIT(static_cast<float>(-reach), static_cast<float>(-reach),
                                              static_cast<float>(width + 2 * reach),
                                              static_cast<float>(height + 2 * reach));
  cairo_t* cr = gtk_snapshot_append_cairo(snapshot->gobj(), &bounds);
  const double t = elapsed();
  cairo_set_line_width(cr, 1.5);
  for (int ring = 0; ring < kPulsingRingCount; ++ring) {
    const PulsingRingLook look = pulsingRingAt(ring, t, baseSize_);
    cairo_set_source_rgba(cr, kRingPurple.r, kRingPurple.g, kRingPurple.b, look.opacity);
    cairo_new_sub_path(cr);
    cairo_arc(cr, width / 2, height / 2, look.diameter * look.scale / 2 - 0.75, 0, 2 * M_PI);
    cairo_stroke(cr);
  }
  cairo_destroy(cr);
}

// ---------------------------------------------------------------- the window

PreCallWindowGtk::PreCallWindowGtk(const Context& context, const PreCallWindowSpec& windowSpec, PreCallControlState& state,
                                   CaptureSessionBox& camera, PreCallActions actions,
                                   PreCallWindowDelegate& delegate)
    : strings_(context.strings),
      spec_(windowSpec),
      state_(state),
      camera_(camera),
      delegate_(delegate),
      defaultAvatarURL_(context.defaultAvatarURL) {
  window_.set_title(windowSpec.title);
  window_.set_name("pre-call-window");
  window_.set_default_size(windowSpec.width, windowSpec.height);
  setWidgetCss(window_, "window { background-color: " + cssColor(kBackground) + "; color: white; }");
  root_ = Gtk::make_managed<Gtk::Overlay>();
  root_->set_size_request(windowSpec.minWidth, windowSpec.minHeight);
  auto* background = Gtk::make_managed<Gtk::Box>();
  background->set_hexpand(true);
  background->set_vexpand(true);
  setWidgetCss(*background, "box { background-color: " + cssColor(kBackground) + "; }");
  root_->set_child(*background);
  window_.set_child(*root_);

  content_ = presentPreCall(spec_, state_, camera_.session() != nullptr, 1, strings_);
  if (windowSpec.isAudio) {
    buildAudio(*root_, std::move(actions));
  } else {
    buildVideo(*root_, std::move(actions));
  }

  dots_ = std::make_unique<PreCallDotCounter>(platform::mainQueue(), [this] { render(); });
  stateSeen_ = state_.addObserver([this] { render(); });
  cameraSeen_ = camera_.addObserver([this] { render(); });
  render();

  window_.signal_close_request().connect(
      [this] {
        if (!closing_) {
          closing_ = true;
          window_.set_visible(false);
          delegate_.windowWillClose();
        }
        // Hidden here; the controller destroys it on a later turn.
        return true;
      },
      false);
  window_.property_is_active().signal_changed().connect([this] {
    if (closing_) return;
    if (window_.is_active()) {
      delegate_.windowDidBecomeKey();
    } else {
      delegate_.windowDidResignKey();
    }
  });
}

PreCallWindowGtk::~PreCallWindowGtk() {
  closing_ = true;
  stateSeen_.reset();
  cameraSeen_.reset();
  dots_.reset();
  if (feed_) feed_->unbind();
  window_.set_visible(false);
  // A window destroyed soon after it was shown may still be called by the
  // frame clock's pending layout (GTK 4.8): the destroyed window object is
  // kept a moment longer, so that call finds it instead of freed memory.
  GObject* kept = G_OBJECT(g_object_ref(window_.gobj()));
  platform::mainQueue().postAfter(kKeepClosedWindowSeconds, [kept] { g_object_unref(kept); });
}

PreCallWindowFactory PreCallWindowGtk::factory(Context context) {
  return [context](const PreCallWindowSpec& windowSpec, PreCallControlState& state, CaptureSessionBox& camera,
                   PreCallActions actions, PreCallWindowDelegate& delegate) -> std::unique_ptr<PreCallWindowSurface> {
    return std::make_unique<PreCallWindowGtk>(context, windowSpec, state, camera, std::move(actions), delegate);
  };
}

Gtk::Button& PreCallWindowGtk::button(PreCallButton which) { return *buttons_[buttonIndex(which)].button; }

void PreCallWindowGtk::present() {
  // Presenting also asks the desktop to activate the program; where a new
  // window goes is the window manager's choice (GTK 4 places none itself).
  window_.present();
}

void PreCallWindowGtk::close() {
  if (closing_) return;
  closing_ = true;
  window_.set_visible(false);
}

// ---------------------------------------------------------------- parts

Gtk::Box* PreCallWindowGtk::buildStatusPill(bool large) {
  auto* pill = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 6);
  pill->set_name("precall-status-pill");
  pill->set_halign(Gtk::Align::CENTER);
  pill->set_valign(Gtk::Align::CENTER);
  setWidgetCss(*pill, "box { background-color: " + cssColor(Rgba::black(0.45)) +
                          "; border-radius: 9999px; padding: " + (large ? "6px" : "4px") + " 14px; }");
  statusDot_ = Gtk::make_managed<Gtk::Box>();
  statusDot_->set_size_request(6, 6);
  statusDot_->set_valign(Gtk::Align::CENTER);
  pill->append(*statusDot_);
  statusText_ = Gtk::make_managed<Gtk::Label>();
  statusText_->set_name("precall-status");
  pill->append(*statusText_);
  return pill;
}

Gtk::Box* PreCallWindowGtk::buildControls(bool large, PreCallActions actions) {
  auto* bar = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, large ? 20 : 8);
  bar->set_name("precall-controls");
  bar->set_halign(Gtk::Align::CENTER);
  setWidgetCss(*bar, glassCapsuleCss(0.08, large ? "14px 28px" : "10px 18px"));
  auto add = [&](const PreCallButtonLook& look, std::function<void()> action) {
    static const char* const names[] = {"precall-mic", "precall-camera", "precall-speaker", "precall-hangup"};
    ButtonView& view = buttons_[buttonIndex(look.button)];
    view.button = Gtk::make_managed<Gtk::Button>();
    view.button->set_name(names[buttonIndex(look.button)]);
    view.button->set_focus_on_click(false);
    view.button->set_valign(Gtk::Align::CENTER);
    view.button->set_size_request(look.diameter, look.diameter);
    const bool end = look.button == PreCallButton::endCall;
    const int symbolSize = end ? (large ? 22 : 20) : static_cast<int>(std::lround(look.diameter * 0.38));
    view.icon = Gtk::make_managed<CallIcon>(look.symbol, symbolSize, Rgba::white());
    view.button->set_child(*view.icon);
    view.button->signal_clicked().connect([action = std::move(action)] {
      if (action) action();
    });
    bar->append(*view.button);
  };
  for (const PreCallButtonLook& look : content_.buttons) {
    switch (look.button) {
      case PreCallButton::microphone:
        add(look, actions.onMicToggle);
        break;
      case PreCallButton::camera:
        add(look, actions.onVideoToggle);
        break;
      case PreCallButton::speaker:
        add(look, actions.onSpeakerToggle);
        break;
      case PreCallButton::endCall:
        add(look, actions.onHangup);
        break;
    }
  }
  return bar;
}

Gtk::Box* PreCallWindowGtk::buildCalleeChip() {
  auto* chip = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 10);
  chip->set_name("precall-chip");
  chip->set_halign(Gtk::Align::START);
  chip->set_valign(Gtk::Align::START);
  chip->set_margin_start(12);
  chip->set_margin_top(12);
  setWidgetCss(*chip, glassCapsuleCss(0.12, "6px 16px 6px 6px"));

  auto* picture = Gtk::make_managed<Gtk::Overlay>();
  auto* avatar = Gtk::make_managed<CallAvatarView>(static_cast<int>(kChipAvatarSize), defaultAvatarURL_);
  avatar->setParty(spec_.imageUrl, spec_.calleeName, false);
  picture->set_child(*avatar);
  auto* live = Gtk::make_managed<Gtk::Box>();
  live->set_size_request(9, 9);
  live->set_halign(Gtk::Align::END);
  live->set_valign(Gtk::Align::END);
  setWidgetCss(*live, "box { background-color: " + cssColor(kLiveDot) + "; border: 1.5px solid " +
                          cssColor(kLiveDotRim) + "; border-radius: 9999px; min-width: 6px; min-height: 6px; }");
  picture->add_overlay(*live);
  chip->append(*picture);

  auto* texts = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 2);
  texts->set_valign(Gtk::Align::CENTER);
  auto* name = makeLabel("precall-chip-name", labelCss(13, 600, Rgba::white()));
  name->set_text(content_.shownName);
  name->set_halign(Gtk::Align::START);
  texts->append(*name);
  chipOrvikId_ = makeLabel("precall-chip-orvikid", labelCss(10, 400, Rgba::white(0.5)));
  chipOrvikId_->set_halign(Gtk::Align::START);
  chipOrvikId_->set_text(content_.orvikIdLine.value_or(""));
  chipOrvikId_->set_visible(content_.orvikIdLine.has_value());
  texts->append(*chipOrvikId_);
  chip->append(*texts);
  return chip;
}

Gtk::Box* PreCallWindowGtk::buildCameraOffCentre() {
  auto* centre = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 14);
  centre->set_name("precall-camera-off");
  centre->set_valign(Gtk::Align::CENTER);
  centre->set_halign(Gtk::Align::CENTER);
  centre->set_margin_bottom(100);
  centre->set_can_target(false);

  auto* stage = Gtk::make_managed<Gtk::Overlay>();
  stage->set_child(*Gtk::make_managed<PulsingRings>(kAvatarSize));
  auto* avatar = Gtk::make_managed<CallAvatarView>(static_cast<int>(kAvatarSize), defaultAvatarURL_);
  avatar->setParty(spec_.imageUrl, spec_.calleeName, false);
  stage->add_overlay(*avatar);
  centre->append(*stage);

  auto* name = makeLabel("precall-name", labelCss(18, 600, Rgba::white()));
  name->set_text(content_.shownName);
  centre->append(*name);
  orvikId_ = makeLabel("precall-orvikid", labelCss(12, 400, Rgba::white(0.4)));
  centre->append(*orvikId_);

  auto* badge = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 5);
  badge->set_name("precall-camera-off-badge");
  badge->set_halign(Gtk::Align::CENTER);
  setWidgetCss(*badge, "box { padding: 5px 12px; background-color: " + cssColor(Rgba::white(0.08)) +
                           "; border: 0.5px solid " + cssColor(Rgba::white(0.12)) + "; border-radius: 9999px; }");
  badge->append(*Gtk::make_managed<CallIcon>("video.slash.fill", 11, Rgba::white(0.55)));
  auto* text = makeLabel("precall-camera-off-text", labelCss(12, 400, Rgba::white(0.55)));
  text->set_text(kCameraOff);
  badge->append(*text);
  centre->append(*badge);
  return centre;
}

void PreCallWindowGtk::buildAudio(Gtk::Overlay& root, PreCallActions actions) {
  auto* column = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 0);
  column->set_halign(Gtk::Align::FILL);
  column->set_valign(Gtk::Align::FILL);
  column->append(*spacer(0, true));
  auto* avatar = Gtk::make_managed<CallAvatarView>(static_cast<int>(kAvatarSize), defaultAvatarURL_);
  avatar->setParty(spec_.imageUrl, spec_.calleeName, false);
  column->append(*avatar);
  column->append(*spacer(16, false));
  auto* name = makeLabel("precall-name", labelCss(22, 700, Rgba::white()));
  name->set_text(content_.shownName);
  column->append(*name);
  column->append(*spacer(4, false));
  orvikId_ = makeLabel("precall-orvikid", labelCss(13, 400, Rgba::white(0.45)));
  column->append(*orvikId_);
  column->append(*spacer(12, false));
  column->append(*buildStatusPill(true));
  column->append(*spacer(0, true));
  auto* controls = buildControls(true, std::move(actions));
  controls->set_margin_bottom(40);
  column->append(*controls);
  root.add_overlay(*column);
}

void PreCallWindowGtk::buildVideo(Gtk::Overlay& root, PreCallActions actions) {
  feed_ = std::make_unique<CameraPreviewFeed>(
      [](const CameraSessionHandle& session) -> VideoSourceHandle { return session ? session->preview : nullptr; },
      &platform::mainQueue());
  preview_ = Gtk::make_managed<CameraPreviewView>(*feed_);
  preview_->set_name("precall-preview");
  preview_->set_hexpand(true);
  preview_->set_vexpand(true);
  root.add_overlay(*preview_);

  auto* centre = buildCameraOffCentre();
  cameraOffCentre_ = centre;
  root.add_overlay(*centre);

  auto* chip = buildCalleeChip();
  calleeChip_ = chip;
  root.add_overlay(*chip);

  auto* controls = buildControls(false, std::move(actions));
  controls->set_valign(Gtk::Align::END);
  controls->set_margin_bottom(22);
  root.add_overlay(*controls);

  auto* pill = buildStatusPill(false);
  pill->set_valign(Gtk::Align::START);
  pill->set_margin_top(14);
  root.add_overlay(*pill);
}

// ---------------------------------------------------------------- rendering

void PreCallWindowGtk::render() {
  content_ = presentPreCall(spec_, state_, camera_.session() != nullptr, dots_ ? dots_->count() : 1, strings_);

  if (statusText_) {
    statusText_->set_text(content_.statusText);
    if (styledEnding_ != content_.statusIsEnding) {
      styledEnding_ = content_.statusIsEnding;
      const bool large = spec_.isAudio;
      const Rgba colour = content_.statusIsEnding ? kEndingRed : Rgba::white(0.85);
      setWidgetCss(*statusText_,
                   labelCss(large ? 15 : 13, large ? 400 : 300, colour, " font-feature-settings: \"tnum\";"));
      setWidgetCss(*statusDot_, "box { background-color: " +
                                    cssColor(content_.statusIsEnding ? kEndingRed : Rgba::white(0.5)) +
                                    "; border-radius: 9999px; min-width: 6px; min-height: 6px; }");
    }
  }
  if (orvikId_) {
    orvikId_->set_text(content_.orvikIdLine.value_or(""));
    orvikId_->set_visible(content_.orvikIdLine.has_value());
  }

  if (!spec_.isAudio) {
    feed_->update(content_.showsCamera ? camera_.session() : nullptr, true);
    preview_->set_visible(content_.showsCamera);
    cameraOffCentre_->set_visible(content_.showsCameraOffCentre);
    calleeChip_->set_visible(content_.showsCalleeChip);
  }

  if (styledButtons_ == content_.buttons) return;
  styledButtons_ = content_.buttons;
  for (const PreCallButtonLook& look : content_.buttons) {
    ButtonView& view = buttons_[buttonIndex(look.button)];
    if (!view.button) continue;
    view.icon->setSymbol(look.symbol);
    const bool end = look.button == PreCallButton::endCall;
    const Rgba fill = end ? kEndRed : Rgba::white(look.active ? 0.92 : 0.15);
    view.icon->setColour(end ? Rgba::white() : look.active ? callcolors::ink : Rgba::white(0.9));
    const std::string size = cssPixels(look.diameter);
    // The platform's plain button: no hover or press look of its own. A
    // toggle eases into its new look; the end-call button never changes.
    const std::string transition = end ? "" : " transition: background-color 150ms ease-in-out;";
    setWidgetCss(*view.button, "button, button:hover, button:active { background: none; background-color: " +
                                   cssColor(fill) + "; border-radius: 9999px; min-width: " + size +
                                   "; min-height: " + size + "; padding: 0; border: none; box-shadow: none;" +
                                   transition + " }");
  }
}

}  // namespace orvik
