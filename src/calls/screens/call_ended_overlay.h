// The end-of-call card over the whole video call window: the other party's
// avatar with a glowing ring (gold for a subscriber, with the badge), the
// name ("Call" when empty), a "Call Ended" pill and the closing line of
// thanks, on the theme's gradient. It keeps no state and calls nothing back.
//
// THREAD-SAFETY: main thread only.
#pragma once

#include <string>

#include <gtkmm/box.h>
#include <gtkmm/label.h>
#include <gtkmm/overlay.h>

namespace orvik {

class CallAvatarView;
class GoldSubscriberBadge;

struct CallEndedContent {
  std::string imageUrl;
  std::string name;
  bool isSubscribed = false;
  bool isDarkMode = true;
  bool operator==(const CallEndedContent&) const = default;
};

class CallEndedOverlay : public Gtk::Box {
 public:
  static constexpr const char* kCallEnded = "Call Ended";
  static constexpr const char* kThanks = "Thank you for using Orvik Reveraraz";

  CallEndedOverlay(const std::string& defaultAvatarURL, const std::string& subscriberBadgeURL);
  void setContent(const CallEndedContent& content);
  std::string nameText() const { return name_.get_text(); }

 private:
  CallEndedContent content_;
  bool rendered_ = false;
  Gtk::Overlay cluster_;
  Gtk::Box glow_;
  Gtk::Box ring_;
  CallAvatarView* avatar_;
  GoldSubscriberBadge* badge_;
  Gtk::Label name_;
  Gtk::Box pill_{Gtk::Orientation::HORIZONTAL, 7};
  Gtk::Label pillText_;
  Gtk::Label thanks_;
};

}  // namespace orvik
