#include "calls/screens/video_pip_view.h"

#include <gtkmm/eventcontrollermotion.h>

#include "calls/screens/call_avatar_view.h"
#include "calls/screens/call_colors.h"
#include "calls/screens/call_icon.h"
#include "calls/screens/call_screen_css.h"

namespace orvik {

namespace {
constexpr Rgba kPiPDanger{0.8980392156862745, 0.24313725490196078, 0.24313725490196078, 1};
constexpr Rgba kPiPDark{0.10196078431372549, 0.03529411764705882, 0.21568627450980393, 1};
constexpr Rgba kLocalBackdrop{0.0784313725490196, 0.0392156862745098, 0.1568627450980392, 1};
}  // namespace

PiPControlBtn::PiPControlBtn(const std::string& icon, bool isDanger) : isDanger_(isDanger) {
  set_name("pip-btn-" + icon);
  set_has_frame(false);
  set_focus_on_click(false);
  icon_ = Gtk::make_managed<CallIcon>(icon, 14, Rgba::white());
  set_child(*icon_);
  auto motion = Gtk::EventControllerMotion::create();
  motion->signal_enter().connect([this](double, double) {
    hovered_ = true;
    restyle();
  });
  motion->signal_leave().connect([this] {
    hovered_ = false;
    restyle();
  });
  add_controller(motion);
  restyle();
}

void PiPControlBtn::setState(const std::string& icon, bool isActive) {
  icon_->setSymbol(icon);
  if (isActive_ == isActive) return;
  isActive_ = isActive;
  restyle();
}

void PiPControlBtn::restyle() {
  std::string fill;
  if (isDanger_) {
    fill = "linear-gradient(to bottom, " + cssColor(kPiPDanger.withAlpha(0.95)) + ", " +
           cssColor(kPiPDanger.withAlpha(0.78)) + ")";
  } else if (isActive_) {
    fill = cssColor(Rgba::white(0.9));
  } else {
    fill = cssColor(Rgba::white(hovered_ ? 0.18 : 0.1));
  }
  icon_->setColour(isActive_ && !isDanger_ ? kPiPDark : Rgba::white());
  setWidgetCss(*this, "button { min-width: 40px; min-height: 40px; padding: 0; border-radius: 9999px; background: " +
                          fill + "; border: 1px solid " + cssColor(Rgba::white(isDanger_ ? 0.18 : 0.1)) +
                          "; box-shadow: 0 2px 4px " + cssColor(Rgba::black(0.28)) +
                          "; transition: transform 120ms ease-in-out; } button:active { transform: scale(0.91); }");
}

VideoPiPView::Slot VideoPiPView::makeSlot(int avatarSize, const std::string& defaultAvatarURL) {
  Slot slot;
  slot.root = Gtk::make_managed<Gtk::Overlay>();
  slot.backdrop = Gtk::make_managed<Gtk::Box>();
  slot.backdrop->set_hexpand(true);
  slot.backdrop->set_vexpand(true);
  slot.root->set_child(*slot.backdrop);
  slot.remote = Gtk::make_managed<RemoteVideoView>(*remote_);
  slot.screen = Gtk::make_managed<RemoteVideoView>(*screen_);
  slot.local = Gtk::make_managed<CameraPreviewView>(*camera_);
  for (Gtk::Widget* w : {slot.remote, slot.screen, slot.local}) slot.root->add_overlay(*w);
  slot.avatar = Gtk::make_managed<CallAvatarView>(avatarSize, defaultAvatarURL);
  slot.avatar->set_halign(Gtk::Align::CENTER);
  slot.avatar->set_valign(Gtk::Align::CENTER);
  slot.root->add_overlay(*slot.avatar);
  slot.root->set_overflow(Gtk::Overflow::HIDDEN);
  return slot;
}

VideoPiPView::VideoPiPView(VideoCallViewModel& model, Actions actions, CameraSourceResolver cameraSource,
                           const std::string& defaultAvatarURL)
    : model_(model),
      actions_(std::move(actions)),
      remote_(std::make_unique<RemoteVideoFeed>()),
      screen_(std::make_unique<RemoteVideoFeed>()),
      camera_(std::make_unique<CameraPreviewFeed>(std::move(cameraSource))) {
  set_name("video-pip-view");
  set_overflow(Gtk::Overflow::HIDDEN);
  setWidgetCss(*this, "overlay { border-radius: 20px; background-color: black; }");
  main_ = makeSlot(56, defaultAvatarURL);
  set_child(*main_.root);

  inset_ = makeSlot(30, defaultAvatarURL);
  inset_.root->set_size_request(68, 92);
  insetFrame_.set_name("video-pip-inset");
  insetFrame_.set_halign(Gtk::Align::END);
  insetFrame_.set_valign(Gtk::Align::END);
  insetFrame_.set_margin_end(10);
  insetFrame_.set_margin_top(10);
  insetFrame_.set_margin_bottom(54);
  insetFrame_.set_overflow(Gtk::Overflow::HIDDEN);
  insetFrame_.append(*inset_.root);
  setWidgetCss(insetFrame_, "box { border-radius: 10px; border: 1px solid " + cssColor(Rgba::white(0.12)) +
                                "; box-shadow: 0 2px 5px " + cssColor(Rgba::black(0.4)) + "; }");
  insetFrame_.set_can_target(false);
  add_overlay(insetFrame_);

  auto* top = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 2);
  top->set_valign(Gtk::Align::START);
  top->set_can_target(false);
  setWidgetCss(*top, "box { padding: 10px 12px 22px 12px; background-image: linear-gradient(to bottom, " +
                         cssColor(Rgba::black(0.6)) + ", transparent); }");
  name_.set_xalign(0);
  name_.set_single_line_mode(true);
  name_.set_ellipsize(Pango::EllipsizeMode::END);
  name_.set_name("video-pip-name");
  setWidgetCss(name_, "label { font-size: 13pt; font-weight: bold; color: white; }");
  timer_.set_xalign(0);
  timer_.set_single_line_mode(true);
  timer_.set_name("video-pip-timer");
  setWidgetCss(timer_, "label { font-size: 10pt; font-weight: 600; font-feature-settings: \"tnum\"; color: " +
                           cssColor(Rgba::white(0.85)) + "; }");
  top->append(name_);
  top->append(timer_);
  add_overlay(*top);

  auto* bar = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 14);
  bar->set_valign(Gtk::Align::END);
  setWidgetCss(*bar, "box { padding: 26px 0 12px 0; background-image: linear-gradient(to bottom, transparent, " +
                         cssColor(Rgba::black(0.6)) + "); }");
  auto* row = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 14);
  row->set_hexpand(true);
  row->set_halign(Gtk::Align::CENTER);
  mute_ = Gtk::make_managed<PiPControlBtn>("microphone.fill", false);
  expand_ = Gtk::make_managed<PiPControlBtn>("arrow.up.left.and.arrow.down.right", false);
  end_ = Gtk::make_managed<PiPControlBtn>("phone.down.fill", true);
  mute_->signal_clicked().connect([this] {
    if (actions_.onMute) actions_.onMute();
  });
  expand_->signal_clicked().connect([this] {
    if (actions_.onExpand) actions_.onExpand();
  });
  end_->signal_clicked().connect([this] {
    if (actions_.onEnd) actions_.onEnd();
  });
  row->append(*mute_);
  row->append(*expand_);
  row->append(*end_);
  bar->append(*row);
  add_overlay(*bar);

  subscription_ = model_.addObserver([this] { render(); });
  render();
}

VideoPiPView::~VideoPiPView() {
  remote_->detach();
  screen_->detach();
  camera_->unbind();
}

void VideoPiPView::showIn(Slot& slot, const PiPFeedLook& look) {
  const VideoCallFields& f = model_.fields();
  slot.remote->set_visible(look.feed == PiPFeed::remote && look.showsVideo);
  slot.screen->set_visible(look.feed == PiPFeed::localScreenShare);
  slot.local->set_visible(look.feed == PiPFeed::local && look.showsVideo);
  const bool avatar = !look.showsVideo && look.feed != PiPFeed::localScreenShare;
  slot.avatar->set_visible(avatar);
  if (look.feed == PiPFeed::local) {
    slot.avatar->setParty(f.localImageUrl, f.localName, false);
    setWidgetCss(*slot.backdrop, "box { background-color: " + cssColor(kLocalBackdrop) + "; }");
  } else {
    slot.avatar->setParty(f.imageUrl, f.calleeName, f.isSubscribed);
    setWidgetCss(*slot.backdrop, "box { background-color: black; }");
  }
  if (look.feed == PiPFeed::remote) remote_->setFill(look.fills);
}

void VideoPiPView::render() {
  const VideoCallFields& f = model_.fields();
  remote_->attach(f.hasRemoteVideo ? model_.remoteVideoTrack() : nullptr);
  screen_->attach(f.isScreenSharing ? model_.localScreenTrack() : nullptr);
  screen_->setFill(false);
  camera_->update(f.isCameraOff ? nullptr : f.cameraSession, true);
  content_ = videoPiPContent(f, model_.remoteVideoTrack() != nullptr, model_.localScreenTrack() != nullptr);
  showIn(main_, content_.main);
  showIn(inset_, content_.inset);
  inset_.root->set_opacity(content_.insetOpacity);
  name_.set_text(videoPiPTitle(f));
  timer_.set_text(videoPiPTimer(f));
  mute_->setState(videoPiPMuteIcon(f), f.isMuted);
}

}  // namespace orvik
