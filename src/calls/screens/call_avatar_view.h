// CallAvatarView: the round picture of a call party wherever there is no
// video: the party's picture from its web address, the subscribers' default
// picture with the initial over it, or the initial on a purple or gold
// gradient (chooseAvatarContent decides). Pictures load asynchronously; the
// gradient initials show while one loads and when it fails.
//
//   auto* avatar = Gtk::make_managed<CallAvatarView>(130, defaultAvatarPictureURL(service));
//   avatar->setParty(imageUrl, name, isSubscribed);
//
// Owner: its parent widget. THREAD-SAFETY: main thread only.
#pragma once

#include <string>

#include <gtkmm/box.h>
#include <gtkmm/label.h>
#include <gtkmm/overlay.h>
#include <gtkmm/picture.h>

#include "calls/screens/call_avatar_content.h"
#include "calls/screens/call_colors.h"
#include "calls/screens/call_image_loader.h"

namespace orvik {

// The two ends of an avatar's gradient, top left to bottom right.
struct AvatarGradientStops {
  Rgba from, to;
};
AvatarGradientStops avatarGradientStops(AvatarGradient gradient);

class CallAvatarView : public Gtk::Overlay {
 public:
  CallAvatarView(int size, std::string defaultPictureURL);

  // Loads again only when what is shown changes.
  void setParty(const std::string& imageUrl, const std::string& name, bool isSubscribed);

  const AvatarContent& content() const { return content_; }
  // Whether a loaded picture is shown now.
  bool showsPicture() const { return picture_.get_visible(); }
  const Gtk::Label& initialLabel() const { return initial_; }

 private:
  void showInitials();

  int size_;
  std::string defaultPictureURL_;
  bool hasContent_ = false;
  AvatarContent content_;
  Gtk::Box gradient_;
  Gtk::Picture picture_;
  Gtk::Label initial_;
  CallImageLoader::Handle loading_;
};

}  // namespace orvik
