#include "calls/screens/audio_call_view.h"

#include <gtkmm/image.h>
#include <gtkmm/window.h>

#include "calls/screens/audio_call_elements.h"
#include "calls/screens/call_avatar_view.h"
#include "calls/screens/call_icon.h"
#include "calls/screens/call_limit_warning_banner.h"
#include "calls/screens/call_screen_css.h"
#include "calls/screens/gold_subscriber_badge.h"
#include "calls/screens/output_device_picker.h"
#include "calls/screens/output_device_picker_dialog.h"
#include "platform/dispatch/task_queue.h"

namespace orvik {
namespace {

constexpr int kAvatarSize = 130;

std::string ringCss(int side, const Rgba& colour) {
  return "box { min-width: " + cssPixels(side) + "; min-height: " + cssPixels(side) +
         "; border-radius: 9999px; border: 3px solid " + cssColor(colour) + "; }";
}

Gtk::Box* spacer() {
  auto* box = Gtk::make_managed<Gtk::Box>();
  box->set_vexpand(true);
  return box;
}

}  // namespace

AudioCallView::AudioCallView(AudioCallViewModel& model, const CallStrings& strings, AudioCallActions actions,
                             AudioCallViewOptions options)
    : model_(model), strings_(strings), actions_(std::move(actions)), options_(std::move(options)) {
  set_name("audio-call-view");
  set_hexpand(true);
  set_vexpand(true);
  CallIcon::registerIcons();

  column_.set_name("audio-call-column");
  column_.set_hexpand(true);
  column_.set_vexpand(true);
  set_child(column_);

  auto* content = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL);
  content->set_margin_start(24);
  content->set_margin_end(24);
  content->set_vexpand(true);
  column_.append(*content);

  if (!options_.logoFile.empty()) {
    auto* logo = Gtk::make_managed<Gtk::Image>(options_.logoFile.string());
    logo->set_pixel_size(16);
    logo->set_margin_top(22);
    logo->set_halign(Gtk::Align::CENTER);
    logo->set_name("audio-call-logo");
    content->append(*logo);
  }
  content->append(*spacer());

  auto* party = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 12);
  party->set_halign(Gtk::Align::CENTER);
  content->append(*party);

  // The avatar group: glow, rings, avatar, badge.
  avatarGroup_.set_halign(Gtk::Align::CENTER);
  avatarGroup_.set_margin_bottom(4);
  avatarGroup_.set_size_request(150, 150);
  glow_.set_size_request(150, 150);
  avatarGroup_.set_child(glow_);
  for (Gtk::Box* ring : {&outerRing_, &innerRing_}) {
    ring->set_halign(Gtk::Align::CENTER);
    ring->set_valign(Gtk::Align::CENTER);
    ring->set_can_target(false);
    avatarGroup_.add_overlay(*ring);
  }
  avatar_ = Gtk::make_managed<CallAvatarView>(kAvatarSize, options_.defaultAvatarURL);
  avatarGroup_.add_overlay(*avatar_);
  party->append(avatarGroup_);

  name_.set_name("audio-call-name");
  name_.set_wrap(true);
  name_.set_justify(Gtk::Justification::CENTER);
  party->append(name_);
  idLine_.set_name("audio-call-id");
  party->append(idLine_);

  auto* status = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 8);
  status->set_size_request(-1, 52);
  status->set_margin_top(8);
  status->set_halign(Gtk::Align::CENTER);
  timer_.set_name("audio-call-timer");
  status->append(timer_);
  dots_.set_halign(Gtk::Align::CENTER);
  dots_.set_name("audio-call-dots");
  for (int i = 0; i < 3; ++i) dots_.append(*Gtk::make_managed<PulsingDot>(i * 0.25, Rgba::white(0.4)));
  status->append(dots_);
  mutedPill_.set_name("audio-call-muted-pill");
  mutedPill_.set_halign(Gtk::Align::CENTER);
  mutedPill_.append(*Gtk::make_managed<CallIcon>("microphone.slash.fill", 11, Rgba::white(0.85)));
  auto* muted = Gtk::make_managed<Gtk::Label>(audiocalltext::kMuted);
  setWidgetCss(*muted, "label { font-size: 12px; font-weight: 500; color: " + cssColor(Rgba::white(0.85)) + "; }");
  mutedPill_.append(*muted);
  setWidgetCss(mutedPill_, "box { padding: 4px 12px; border-radius: 9999px; background-color: " +
                               cssColor(callcolors::danger.withAlpha(0.5)) + "; }");
  status->append(mutedPill_);
  party->append(*status);

  content->append(*spacer());
  secureNotice_.set_name("audio-call-secure-notice");
  secureNotice_.set_justify(Gtk::Justification::CENTER);
  secureNotice_.set_margin_bottom(16);
  content->append(secureNotice_);
  controls_.set_name("audio-call-controls");
  controls_.set_halign(Gtk::Align::CENTER);
  controls_.set_margin_bottom(28);
  content->append(controls_);

  upgradeLayer_.set_valign(Gtk::Align::START);
  upgradeLayer_.set_halign(Gtk::Align::CENTER);
  upgradeLayer_.set_margin_top(52);
  upgradeLayer_.set_can_target(true);
  add_overlay(upgradeLayer_);

  limitBanner_ = Gtk::make_managed<CallLimitWarningBanner>();
  limitBanner_->onExtend = [this] {
    if (actions_.onExtendCall) actions_.onExtendCall();
  };
  limitBanner_->onClose = [this] {
    if (actions_.onCloseLimitBanner) actions_.onCloseLimitBanner();
  };
  limitBanner_->set_visible(false);
  add_overlay(*limitBanner_);

  if (options_.outputRouting) {
    picker_ = std::make_unique<OutputDevicePicker>(
        *options_.outputRouting, platform::mainQueue(),
        OutputDevicePicker::Hooks{actions_.onOutputPickerDismissed, actions_.onOutputPickerElevate,
                                  actions_.setFloatingPanelSuppressed});
  }

  modelSubscription_ = model_.addObserver([this] { render(); });
  render();
  // The glow starts breathing once the avatar is shown.
  signal_map().connect([this] {
    if (glowing_) return;
    glowing_ = true;
    setWidgetCss(glow_, "@keyframes orvik-glow { from { transform: scale(1.0); opacity: 0.6; }"
                        " to { transform: scale(1.15); opacity: 0.2; } }"
                        " box { border-radius: 9999px; background-color: " +
                            cssColor(callcolors::accentPurple.withAlpha(0.15)) +
                            "; animation: orvik-glow 2200ms ease-in-out infinite alternate; }");
  });
}

AudioCallView::~AudioCallView() {
  if (dialog_) {
    dialog_->onClosed = nullptr;
    dialog_.reset();
  }
}

void AudioCallView::render() {
  const AudioCallPresentation p = presentAudioCall(model_.state(), strings_);
  if (rendered_ && p == shown_) return;
  const bool first = !rendered_;
  rendered_ = true;

  if (first || p.background != shown_.background || p.radialGlow != shown_.radialGlow) {
    std::string css = "box { background-color: " + cssColor(p.background) + ";";
    if (p.radialGlow) {
      css += " background-image: radial-gradient(circle 380px at 50% -10%, " +
             cssColor(Rgba::of255(100, 40, 180, 0.45)) + ", " + cssColor(Rgba::of255(30, 10, 60, 0.95)) +
             " 50%, transparent 100%);";
    }
    setWidgetCss(column_, css + " }");
  }
  if (first || p.ringColor != shown_.ringColor) {
    setWidgetCss(outerRing_, ringCss(142, p.ringColor.withAlpha(0.25 * p.ringColor.a)));
    setWidgetCss(innerRing_, ringCss(136, p.ringColor));
  }
  if (first || p.avatarShadow != shown_.avatarShadow) {
    setWidgetCss(*avatar_, "overlay { border-radius: 9999px; box-shadow: 0 8px 16px " + cssColor(p.avatarShadow) +
                               "; }");
  }
  const AudioCallViewState& s = model_.state();
  avatar_->setParty(s.imageUrl, s.calleeName, s.isSubscribed);
  if (p.showSubscriberBadge && !badge_) {
    badge_ = Gtk::make_managed<GoldSubscriberBadge>(34, options_.subscriberBadgeURL);
    // Over the avatar's lower right edge, 2 points right and 12 down.
    badge_->set_halign(Gtk::Align::END);
    badge_->set_valign(Gtk::Align::END);
    badge_->set_margin_end(10 - 2);
    badge_->set_margin_bottom(std::max(0, 10 - 12));
    avatarGroup_.add_overlay(*badge_);
  }
  if (badge_) badge_->set_visible(p.showSubscriberBadge);

  name_.set_text(p.name);
  if (first || p.nameColor != shown_.nameColor) {
    setWidgetCss(name_, "label { font-size: 24px; font-weight: bold; color: " + cssColor(p.nameColor) + "; }");
  }
  idLine_.set_visible(p.idLine.has_value());
  idLine_.set_text(p.idLine.value_or(""));
  if (first || p.idColor != shown_.idColor) {
    setWidgetCss(idLine_, "label { font-size: 12px; letter-spacing: 0.5px; color: " + cssColor(p.idColor) + "; }");
  }
  timer_.set_text(p.timerText);
  if (first || p.timerColor != shown_.timerColor || p.timerLetterSpacing != shown_.timerLetterSpacing) {
    setWidgetCss(timer_, "label { font-size: 15px; font-feature-settings: \"tnum\"; color: " +
                             cssColor(p.timerColor) + "; letter-spacing: " + cssPixels(p.timerLetterSpacing) +
                             "; transition: color 300ms ease-in-out, letter-spacing 300ms ease-in-out; }");
  }
  dots_.set_visible(p.showPulsingDots);
  if (first || p.dotColor != shown_.dotColor) {
    for (auto* child = dots_.get_first_child(); child; child = child->get_next_sibling()) {
      if (auto* dot = dynamic_cast<PulsingDot*>(child)) dot->setColour(p.dotColor);
    }
  }
  mutedPill_.set_visible(p.showMutedPill);
  secureNotice_.set_text(p.secureNotice);
  if (first || p.secureNoticeColor != shown_.secureNoticeColor) {
    setWidgetCss(secureNotice_, "label { font-size: 11px; color: " + cssColor(p.secureNoticeColor) + "; }");
  }

  if (first || p.buttons != shown_.buttons || p.controls != shown_.controls) renderControls(p);
  if (first || p.upgrade != shown_.upgrade || p.upgradeText != shown_.upgradeText ||
      p.isDarkMode != shown_.isDarkMode) {
    renderUpgrade(p);
  }
  limitBanner_->set_visible(p.limitWarning.has_value());
  if (p.limitWarning) limitBanner_->setContent(*p.limitWarning, p.limitCanExtend);
  shown_ = p;
}

void AudioCallView::renderControls(const AudioCallPresentation& p) {
  const bool sameRoles = buttons_.size() == p.buttons.size() && [&] {
    for (std::size_t i = 0; i < buttons_.size(); ++i) {
      if (buttons_[i]->look().role != p.buttons[i].role) return false;
    }
    return true;
  }();
  if (sameRoles) {
    for (std::size_t i = 0; i < buttons_.size(); ++i) buttons_[i]->setLook(p.buttons[i]);
    return;
  }
  for (auto* button : buttons_) controls_.remove(*button);
  buttons_.clear();
  controls_.set_spacing(p.controls == AudioCallPresentation::Controls::ringing ? 32 : 20);
  for (const auto& look : p.buttons) {
    auto* button = Gtk::make_managed<AudioCircleBtn>(look);
    const auto role = look.role;
    button->signal_clicked().connect([this, role] { onControl(role); });
    controls_.append(*button);
    buttons_.push_back(button);
  }
}

void AudioCallView::onControl(CircleButtonLook::Role role) {
  auto run = [](const std::function<void()>& action) {
    if (action) action();
  };
  switch (role) {
    case CircleButtonLook::Role::decline:
      run(actions_.onReject);
      break;
    case CircleButtonLook::Role::accept:
      run(actions_.onAccept);
      break;
    case CircleButtonLook::Role::output:
      openOutputPicker();
      break;
    case CircleButtonLook::Role::mute:
      run(actions_.onMuteToggle);
      break;
    case CircleButtonLook::Role::end:
      run(actions_.onEndCall);
      break;
  }
}

void AudioCallView::renderUpgrade(const AudioCallPresentation& p) {
  if (upgradeElement_) {
    upgradeLayer_.remove(*upgradeElement_);
    upgradeElement_ = nullptr;
  }
  switch (p.upgrade) {
    case AudioCallPresentation::Upgrade::none:
      return;
    case AudioCallPresentation::Upgrade::pill:
      upgradeElement_ = Gtk::make_managed<UpgradeStatusPill>(p.upgradeText, p.isDarkMode, callcolors::accentPurple);
      break;
    case AudioCallPresentation::Upgrade::requestBanner:
      upgradeElement_ = Gtk::make_managed<UpgradeRequestBanner>(
          p.upgradeText, p.isDarkMode, callcolors::accentPurple, callcolors::danger,
          [this] {
            if (actions_.onAcceptVideoUpgrade) actions_.onAcceptVideoUpgrade();
          },
          [this] {
            if (actions_.onDeclineVideoUpgrade) actions_.onDeclineVideoUpgrade();
          });
      break;
  }
  upgradeLayer_.append(*upgradeElement_);
}

void AudioCallView::openOutputPicker() {
  if (!picker_ || showOutputPicker_) return;
  showOutputPicker_ = true;
  auto* parent = dynamic_cast<Gtk::Window*>(get_root());
  dialog_ = std::make_unique<OutputDevicePickerDialog>(*picker_, parent);
  dialog_->onClosed = [this] {
    showOutputPicker_ = false;
    // The dialog is inside its own close: it goes once that has returned.
    platform::mainQueue().post([this, alive = std::weak_ptr<int>(alive_)] {
      if (alive.lock() && !showOutputPicker_) dialog_.reset();
    });
  };
  dialog_->present();
}

}  // namespace orvik
