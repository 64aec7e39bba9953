#include "calls/screens/audio_call_elements.h"

#include "calls/screens/call_icon.h"
#include "calls/screens/call_screen_css.h"

namespace orvik {

std::string AudioCircleBtn::widgetName(CircleButtonLook::Role role) {
  switch (role) {
    case CircleButtonLook::Role::decline:
      return "audio-call-decline";
    case CircleButtonLook::Role::accept:
      return "audio-call-accept";
    case CircleButtonLook::Role::output:
      return "audio-call-output";
    case CircleButtonLook::Role::mute:
      return "audio-call-mute";
    case CircleButtonLook::Role::end:
      return "audio-call-end";
  }
  return "audio-call-button";
}

AudioCircleBtn::AudioCircleBtn(const CircleButtonLook& look) {
  icon_ = Gtk::make_managed<CallIcon>(look.icon, static_cast<int>(look.size * 0.32 + 0.5), look.iconColor);
  icon_->set_halign(Gtk::Align::CENTER);
  icon_->set_valign(Gtk::Align::CENTER);
  set_child(*icon_);
  set_halign(Gtk::Align::CENTER);
  set_valign(Gtk::Align::CENTER);
  set_focus_on_click(false);
  look_ = look;
  look_.size = -1;  // forces the first styling
  setLook(look);
}

void AudioCircleBtn::setLook(const CircleButtonLook& look) {
  if (look == look_) return;
  look_ = look;
  set_name(widgetName(look.role));
  icon_->setSymbol(look.icon);
  icon_->set_pixel_size(static_cast<int>(look.size * 0.32 + 0.5));
  icon_->setColour(look.iconColor);
  const std::string size = cssPixels(look.size);
  const std::string shadow = "0 4px " + cssPixels(look.shadowRadius) + " " + cssColor(look.shadow);
  setWidgetCss(*this, "button { min-width: " + size + "; min-height: " + size +
                          "; padding: 0; border: none; border-radius: 9999px; background-image: none;"
                          " background-color: " + cssColor(look.fill) + "; box-shadow: " + shadow +
                          "; transition: background-color 150ms ease-in-out, transform 120ms ease-in-out; }"
                          " button:hover { background-color: " + cssColor(look.hoverFill) + "; }"
                          " button:active { transform: scale(0.93); }");
}

PulsingDot::PulsingDot(double delaySeconds, const Rgba& colour) : delay_(delaySeconds) {
  set_size_request(7, 7);
  set_valign(Gtk::Align::CENTER);
  setColour(colour);
}

void PulsingDot::setColour(const Rgba& colour) {
  const std::string delay = std::to_string(static_cast<int>(delay_ * 1000)) + "ms";
  setWidgetCss(*this, "@keyframes orvik-pulse { from { transform: scale(0.7); opacity: 0.4; }"
                      " to { transform: scale(1.1); opacity: 1.0; } }"
                      " box { min-width: 7px; min-height: 7px; border-radius: 9999px; background-color: " +
                          cssColor(colour) + "; animation: orvik-pulse 1400ms ease-in-out " + delay +
                          " infinite alternate; }");
}

UpgradeStatusPill::UpgradeStatusPill(const std::string& text, bool isDarkMode, const Rgba& accent)
    : Gtk::Box(Gtk::Orientation::HORIZONTAL, 10), label_(text) {
  set_name("audio-call-upgrade-pill");
  set_halign(Gtk::Align::CENTER);
  append(*Gtk::make_managed<CallIcon>("video.fill", 12, accent));
  setWidgetCss(label_, std::string("label { font-size: 13px; font-weight: 500; color: ") +
                           cssColor(isDarkMode ? Rgba::white() : callcolors::ink) + "; }");
  append(label_);
  setWidgetCss(*this, "box { padding: 10px 16px; border-radius: 20px; background-color: " +
                          cssColor(isDarkMode ? Rgba::of255(16, 2, 46, 0.92) : Rgba::of255(250, 250, 252, 0.95)) +
                          "; border: 1px solid " + cssColor(accent.withAlpha(0.3)) + "; }");
}

namespace {

void styleBannerButton(Gtk::Button& button, const std::string& text, const Rgba& fill) {
  auto* label = Gtk::make_managed<Gtk::Label>(text);
  setWidgetCss(*label, "label { color: white; font-size: 13px; font-weight: 600; }");
  button.set_child(*label);
  button.set_focus_on_click(false);
  setWidgetCss(button, "button { background-image: none; background-color: " + cssColor(fill) +
                           "; border: none; box-shadow: none; border-radius: 14px; padding: 8px 18px; }");
}

}  // namespace

UpgradeRequestBanner::UpgradeRequestBanner(const std::string& text, bool isDarkMode, const Rgba& accent,
                                           const Rgba& danger, std::function<void()> onAccept,
                                           std::function<void()> onDecline)
    : Gtk::Box(Gtk::Orientation::VERTICAL, 10) {
  set_name("audio-call-upgrade-request");
  set_halign(Gtk::Align::CENTER);
  auto* title = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
  title->set_halign(Gtk::Align::CENTER);
  title->append(*Gtk::make_managed<CallIcon>("video.fill", 13, accent));
  auto* label = Gtk::make_managed<Gtk::Label>(text);
  label->set_single_line_mode(true);
  label->set_ellipsize(Pango::EllipsizeMode::END);
  setWidgetCss(*label, std::string("label { font-size: 13px; font-weight: 500; color: ") +
                           cssColor(isDarkMode ? Rgba::white() : callcolors::ink) + "; }");
  title->append(*label);
  append(*title);

  auto* buttons = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 12);
  buttons->set_halign(Gtk::Align::CENTER);
  styleBannerButton(decline_, audiocalltext::kDecline, danger);
  styleBannerButton(accept_, audiocalltext::kAccept, accent);
  decline_.set_name("audio-call-upgrade-decline");
  accept_.set_name("audio-call-upgrade-accept");
  decline_.signal_clicked().connect([onDecline] {
    if (onDecline) onDecline();
  });
  accept_.signal_clicked().connect([onAccept] {
    if (onAccept) onAccept();
  });
  buttons->append(decline_);
  buttons->append(accept_);
  append(*buttons);
  setWidgetCss(*this, "box { padding: 14px 18px; border-radius: 18px; background-color: " +
                          cssColor(isDarkMode ? Rgba::of255(16, 2, 46, 0.96) : Rgba::of255(250, 250, 252, 0.97)) +
                          "; border: 1px solid " + cssColor(accent.withAlpha(0.3)) + "; }");
}

}  // namespace orvik
