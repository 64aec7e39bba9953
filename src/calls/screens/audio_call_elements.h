// The small views the audio call screen is built from:
//   AudioCircleBtn        a round call button drawn from a CircleButtonLook
//                         (fill, hover fill, shadow, pressed scale);
//   PulsingDot            one dot of the "still connecting" row;
//   UpgradeStatusPill     a switch to video under way;
//   UpgradeRequestBanner  the other party asks to switch to video.
//
// Owner: AudioCallView. THREAD-SAFETY: main thread only.
#pragma once

#include <functional>
#include <string>

#include <gtkmm/box.h>
#include <gtkmm/button.h>
#include <gtkmm/label.h>

#include "calls/screens/audio_call_presenter.h"

namespace orvik {

class CallIcon;

class AudioCircleBtn : public Gtk::Button {
 public:
  explicit AudioCircleBtn(const CircleButtonLook& look);
  void setLook(const CircleButtonLook& look);
  const CircleButtonLook& look() const { return look_; }
  const CallIcon& icon() const { return *icon_; }

  // "audio-call-decline", "audio-call-mute", …
  static std::string widgetName(CircleButtonLook::Role role);

 private:
  CircleButtonLook look_;
  CallIcon* icon_;
};

class PulsingDot : public Gtk::Box {
 public:
  PulsingDot(double delaySeconds, const Rgba& colour);
  void setColour(const Rgba& colour);

 private:
  double delay_;
};

class UpgradeStatusPill : public Gtk::Box {
 public:
  UpgradeStatusPill(const std::string& text, bool isDarkMode, const Rgba& accent);
  const Gtk::Label& label() const { return label_; }

 private:
  Gtk::Label label_;
};

class UpgradeRequestBanner : public Gtk::Box {
 public:
  UpgradeRequestBanner(const std::string& text, bool isDarkMode, const Rgba& accent, const Rgba& danger,
                       std::function<void()> onAccept, std::function<void()> onDecline);
  Gtk::Button& acceptButton() { return accept_; }
  Gtk::Button& declineButton() { return decline_; }

 private:
  Gtk::Button decline_;
  Gtk::Button accept_;
};

}  // namespace orvik
