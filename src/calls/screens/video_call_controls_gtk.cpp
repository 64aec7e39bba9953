#include "calls/screens/video_call_controls_gtk.h"

#include <gtkmm/eventcontrollermotion.h>

#include "calls/screens/call_avatar_view.h"
#include "calls/screens/call_icon.h"
#include "calls/screens/call_screen_css.h"
#include "calls/screens/gold_subscriber_badge.h"
#include "calls/screens/video_call_view_model.h"

namespace orvik {

std::string videoGlassCapsuleCss(const std::string& selector, bool dark, const Rgba& darkTint, const Rgba& lightTint,
                                 std::optional<Rgba> darkBorder, std::optional<Rgba> lightBorder, bool shadow) {
  std::string css = selector + " { border-radius: 9999px; background-color: " + cssColor(dark ? darkTint : lightTint) +
                    ";";
  const auto border = dark ? darkBorder : lightBorder;
  if (border) css += " border: 1px solid " + cssColor(*border) + ";";
  if (shadow) css += " box-shadow: 0 8px 16px " + cssColor(Rgba::black(dark ? 0.5 : 0.15)) + ";";
  return css + " }";
}

VideoBtn::VideoBtn(const VideoControlButton& button, double size, bool isDarkMode)
    : button_(button), size_(size), isDarkMode_(isDarkMode) {
  set_name("video-btn-" + button.icon);
  gtk_accessible_update_property(GTK_ACCESSIBLE(gobj()), GTK_ACCESSIBLE_PROPERTY_LABEL,
                                 videoControlLabel(button.control), -1);
  set_has_frame(false);
  set_focus_on_click(false);
  set_size_request(static_cast<int>(size), static_cast<int>(size));
  set_valign(Gtk::Align::CENTER);
  icon_ = Gtk::make_managed<CallIcon>(button.icon, static_cast<int>(size * 0.35 + 0.5), Rgba::white());
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

VideoBtnLook VideoBtn::look() const {
  return videoBtnLook({button_.isActive, button_.isDanger, isDarkMode_, hovered_, button_.dangerColor}, size_);
}

void VideoBtn::setState(const VideoControlButton& button, bool isDarkMode) {
  const bool same = button == button_ && isDarkMode == isDarkMode_;
  button_ = button;
  isDarkMode_ = isDarkMode;
  if (same) return;
  icon_->setSymbol(button.icon);
  restyle();
}

void VideoBtn::restyle() {
  const VideoBtnLook l = look();
  icon_->setColour(l.icon);
  setWidgetCss(*this, "button { min-width: " + cssPixels(size_) + "; min-height: " + cssPixels(size_) +
                          "; padding: 0; border: none; border-radius: 9999px; background: " + cssColor(l.fill) +
                          "; box-shadow: 0 4px " + cssPixels(l.shadowRadius) + " " + cssColor(l.shadow) +
                          "; transition: transform 120ms ease-in-out, background 150ms ease-in-out; }"
                          " button:active { transform: scale(0.91); }");
}

VideoControlsBar::VideoControlsBar(VideoCallViewModel& model, Actions actions)
    : Gtk::Box(Gtk::Orientation::HORIZONTAL, 8), model_(model), actions_(std::move(actions)) {
  set_name("video-controls-bar");
  set_halign(Gtk::Align::CENTER);
  subscription_ = model_.addObserver([this] { render(); });
  render();
}

VideoBtn* VideoControlsBar::button(VideoControl control) const {
  for (auto* b : buttons_) {
    if (b->button().control == control) return b;
  }
  return nullptr;
}

void VideoControlsBar::render() {
  const auto wanted = videoControlsBarButtons(model_.fields());
  const bool dark = model_->isDarkMode;
  setWidgetCss(*this, videoGlassCapsuleCss("box", dark, callcolors::darkGlassTint, Rgba::white(0.55),
                                           Rgba::white(0.08), Rgba::black(0.08), true) +
                          " box { padding: 10px 18px; }");
  bool sameSet = wanted.size() == shown_.size();
  for (std::size_t i = 0; sameSet && i < wanted.size(); ++i) sameSet = wanted[i].control == shown_[i].control;
  if (sameSet) {
    for (std::size_t i = 0; i < wanted.size(); ++i) buttons_[i]->setState(wanted[i], dark);
    shown_ = wanted;
    return;
  }
  for (auto* b : buttons_) remove(*b);
  buttons_.clear();
  for (const auto& button : wanted) {
    auto* b = Gtk::make_managed<VideoBtn>(button, kVideoControlsBarButtonSize, dark);
    const VideoControl control = button.control;
    b->signal_clicked().connect([this, control] {
      const std::function<void()>* action = nullptr;
      switch (control) {
        case VideoControl::mute: action = &actions_.onMuteToggle; break;
        case VideoControl::camera: action = &actions_.onCameraToggle; break;
        case VideoControl::speaker: action = &actions_.onSpeakerPick; break;
        case VideoControl::screenShare: action = &actions_.onScreenShareToggle; break;
        case VideoControl::end: action = &actions_.onEndCall; break;
        default: break;
      }
      if (action && *action) (*action)();
    });
    append(*b);
    buttons_.push_back(b);
  }
  shown_ = wanted;
  shownDark_ = dark;
}

IncomingVideoControlsBar::IncomingVideoControlsBar(std::function<void()> onAccept, std::function<void()> onReject,
                                                   bool isDarkMode)
    : Gtk::Box(Gtk::Orientation::HORIZONTAL, 32) {
  set_name("incoming-video-controls-bar");
  set_halign(Gtk::Align::CENTER);
  const auto specs = incomingVideoControlsBarButtons();
  reject_ = Gtk::make_managed<VideoBtn>(specs[0], kIncomingVideoButtonSize, isDarkMode);
  accept_ = Gtk::make_managed<VideoBtn>(specs[1], kIncomingVideoButtonSize, isDarkMode);
  reject_->signal_clicked().connect([onReject] {
    if (onReject) onReject();
  });
  accept_->signal_clicked().connect([onAccept] {
    if (onAccept) onAccept();
  });
  append(*reject_);
  append(*accept_);
  setDarkMode(isDarkMode);
}

void IncomingVideoControlsBar::setDarkMode(bool dark) {
  setWidgetCss(*this, videoGlassCapsuleCss("box", dark, callcolors::darkGlassTint, Rgba::white(0.55),
                                           Rgba::white(0.08), Rgba::black(0.08), true) +
                          " box { padding: 10px 32px; }");
  reject_->setState(reject_->button(), dark);
  accept_->setState(accept_->button(), dark);
}

VideoCalleeChip::VideoCalleeChip(const CallStrings& strings, const std::string& defaultAvatarURL,
                                 const std::string& subscriberBadgeURL)
    : Gtk::Box(Gtk::Orientation::HORIZONTAL, 10), strings_(strings) {
  set_name("video-callee-chip");
  set_halign(Gtk::Align::START);
  set_valign(Gtk::Align::START);
  avatar_ = Gtk::make_managed<CallAvatarView>(36, defaultAvatarURL);
  avatarGroup_.set_child(*avatar_);
  ring_.set_can_target(false);
  avatarGroup_.add_overlay(ring_);
  badge_ = Gtk::make_managed<GoldSubscriberBadge>(15, subscriberBadgeURL);
  badge_->set_halign(Gtk::Align::END);
  badge_->set_valign(Gtk::Align::END);
  badge_->set_margin_end(-2);
  badge_->set_margin_bottom(-2);
  avatarGroup_.add_overlay(*badge_);
  append(avatarGroup_);
  auto* column = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 2);
  column->set_valign(Gtk::Align::CENTER);
  name_.set_name("video-chip-name");
  name_.set_xalign(0);
  name_.set_single_line_mode(true);
  name_.set_ellipsize(Pango::EllipsizeMode::END);
  idLine_.set_name("video-chip-id");
  idLine_.set_xalign(0);
  column->append(name_);
  column->append(idLine_);
  append(*column);
}

void VideoCalleeChip::setContent(const VideoCalleeChipContent& c) {
  if (rendered_ && c == content_) return;
  rendered_ = true;
  content_ = c;
  const bool dark = c.isDarkMode;
  const Rgba ink = callcolors::ink;
  avatar_->setParty(c.imageUrl, c.calleeName, false);
  const Rgba ring = c.isSubscribed ? callcolors::gold : dark ? Rgba::white(0.28) : Rgba::black(0.15);
  setWidgetCss(ring_, "box { border-radius: 9999px; border: 2px solid " + cssColor(ring) + "; }");
  badge_->set_visible(c.isSubscribed);
  name_.set_text(c.calleeName);
  setWidgetCss(name_, "label { font-size: 13pt; font-weight: 600; color: " + cssColor(dark ? Rgba::white() : ink) +
                          "; }");
  const auto idLine = videoCalleeChipIdLine(c.calleeOrvikID, strings_);
  idLine_.set_visible(idLine.has_value());
  idLine_.set_text(idLine.value_or(""));
  setWidgetCss(idLine_, "label { font-size: 10pt; color: " +
                            cssColor(dark ? Rgba::white(0.5) : ink.withAlpha(0.55)) + "; }");
  setWidgetCss(*this, videoGlassCapsuleCss("box", dark, callcolors::darkGlassTint, Rgba::white(0.55),
                                           Rgba::white(0.12), Rgba::black(0.08), false) +
                          " box { padding: 6px 16px 6px 6px; }");
}

VideoTimerPill::VideoTimerPill(const CallStrings& strings)
    : Gtk::Box(Gtk::Orientation::HORIZONTAL, 6), strings_(strings) {
  set_name("video-timer-pill");
  set_halign(Gtk::Align::CENTER);
  dot_.set_size_request(6, 6);
  dot_.set_valign(Gtk::Align::CENTER);
  text_.set_name("video-timer-text");
  append(dot_);
  append(text_);
}

void VideoTimerPill::setContent(const std::string& timerText, bool dark) {
  const Rgba ink = callcolors::ink;
  dot_.set_visible(videoTimerPillShowsDot(timerText));
  setWidgetCss(dot_, "box { min-width: 6px; min-height: 6px; border-radius: 9999px; background-color: " +
                         cssColor((dark ? Rgba::white() : ink).withAlpha(0.5)) + "; }");
  text_.set_text(videoTimerPillText(timerText, strings_));
  setWidgetCss(text_, "label { font-size: 13pt; font-weight: 300; letter-spacing: 1px;"
                      " font-feature-settings: \"tnum\"; color: " +
                          cssColor((dark ? Rgba::white() : ink).withAlpha(0.85)) + "; }");
  setWidgetCss(*this, videoGlassCapsuleCss("box", dark, Rgba::black(0.45), Rgba::white(0.6), std::nullopt,
                                           std::nullopt, false) +
                          " box { padding: 4px 14px; }");
}

}  // namespace orvik
