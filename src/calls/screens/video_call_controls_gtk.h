// The floating controls of the video call window as GTK widgets: the round
// VideoBtn, the in-call VideoControlsBar, the IncomingVideoControlsBar, the
// VideoCalleeChip and the VideoTimerPill. What each shows is decided in
// video_call_controls.h; these draw it (glass capsules in the window's theme)
// and report clicks.
//
// THREAD-SAFETY: main thread only.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <gtkmm/box.h>
#include <gtkmm/button.h>
#include <gtkmm/label.h>
#include <gtkmm/overlay.h>

#include "calls/screens/video_call_controls.h"
#include "platform/observer_list.h"

namespace orvik {

class CallAvatarView;
class CallIcon;
class CallStrings;
class GoldSubscriberBadge;
class VideoCallViewModel;

class VideoBtn : public Gtk::Button {
 public:
  VideoBtn(const VideoControlButton& button, double size, bool isDarkMode);
  void setState(const VideoControlButton& button, bool isDarkMode);
  const VideoControlButton& button() const { return button_; }
  bool isHovered() const { return hovered_; }
  VideoBtnLook look() const;

 private:
  void restyle();

  VideoControlButton button_;
  double size_;
  bool isDarkMode_;
  bool hovered_ = false;
  CallIcon* icon_;
};

// Mute, camera, speaker, share (while connected) and end, over the model.
class VideoControlsBar : public Gtk::Box {
 public:
  struct Actions {
    std::function<void()> onMuteToggle;
    std::function<void()> onCameraToggle;
    std::function<void()> onSpeakerPick;
    std::function<void()> onScreenShareToggle;
    std::function<void()> onEndCall;
  };
  VideoControlsBar(VideoCallViewModel& model, Actions actions);
  const std::vector<VideoBtn*>& buttons() const { return buttons_; }
  VideoBtn* button(VideoControl control) const;

 private:
  void render();
  VideoCallViewModel& model_;
  Actions actions_;
  platform::Subscription subscription_;
  std::vector<VideoControlButton> shown_;
  bool shownDark_ = true;
  std::vector<VideoBtn*> buttons_;
};

class IncomingVideoControlsBar : public Gtk::Box {
 public:
  IncomingVideoControlsBar(std::function<void()> onAccept, std::function<void()> onReject, bool isDarkMode);
  void setDarkMode(bool dark);
  VideoBtn& rejectButton() { return *reject_; }
  VideoBtn& acceptButton() { return *accept_; }

 private:
  VideoBtn* reject_;
  VideoBtn* accept_;
};

struct VideoCalleeChipContent {
  std::string calleeName;
  std::string calleeOrvikID;
  std::string imageUrl;
  bool isSubscribed = false;
  bool isDarkMode = true;
  bool operator==(const VideoCalleeChipContent&) const = default;
};

class VideoCalleeChip : public Gtk::Box {
 public:
  VideoCalleeChip(const CallStrings& strings, const std::string& defaultAvatarURL,
                  const std::string& subscriberBadgeURL);
  void setContent(const VideoCalleeChipContent& content);

 private:
  const CallStrings& strings_;
  VideoCalleeChipContent content_;
  bool rendered_ = false;
  Gtk::Overlay avatarGroup_;
  CallAvatarView* avatar_;
  Gtk::Box ring_;
  GoldSubscriberBadge* badge_;
  Gtk::Label name_;
  Gtk::Label idLine_;
};

class VideoTimerPill : public Gtk::Box {
 public:
  explicit VideoTimerPill(const CallStrings& strings);
  void setContent(const std::string& timerText, bool isDarkMode);
  bool showsDot() const { return dot_.get_visible(); }
  std::string text() const { return text_.get_text(); }

 private:
  const CallStrings& strings_;
  Gtk::Box dot_;
  Gtk::Label text_;
};

// The glass capsule's CSS for `selector` in the theme.
std::string videoGlassCapsuleCss(const std::string& selector, bool dark, const Rgba& darkTint, const Rgba& lightTint,
                                 std::optional<Rgba> darkBorder, std::optional<Rgba> lightBorder, bool shadow);

}  // namespace orvik
