// The picture-in-picture panel's content: the main picture (the other
// party, my camera, or my shared screen), the inset at the bottom right, the
// callee's name and timer on a dark gradient at the top, and three round
// buttons (mute, expand, end) at the bottom. What shows where is decided by
// videoPiPContent (video_pip_layout.h); the feeds are the view's own.
//
// THREAD-SAFETY: main thread only.
#pragma once

#include <functional>
#include <memory>

#include <gtkmm/box.h>
#include <gtkmm/button.h>
#include <gtkmm/label.h>
#include <gtkmm/overlay.h>

#include "calls/screens/camera_preview_view.h"
#include "calls/screens/remote_video_view.h"
#include "calls/screens/video_call_view_model.h"
#include "calls/screens/video_pip_layout.h"

namespace orvik {

class CallAvatarView;
class CallIcon;

class PiPControlBtn : public Gtk::Button {
 public:
  PiPControlBtn(const std::string& icon, bool isDanger);
  void setState(const std::string& icon, bool isActive);

 private:
  void restyle();
  bool isDanger_;
  bool isActive_ = false;
  bool hovered_ = false;
  CallIcon* icon_;
};

class VideoPiPView : public Gtk::Overlay {
 public:
  struct Actions {
    std::function<void()> onExpand;
    std::function<void()> onMute;
    std::function<void()> onEnd;
  };
  VideoPiPView(VideoCallViewModel& model, Actions actions, CameraSourceResolver cameraSource,
               const std::string& defaultAvatarURL);
  ~VideoPiPView() override;

  const PiPContent& content() const { return content_; }
  PiPControlBtn& muteButton() { return *mute_; }
  PiPControlBtn& expandButton() { return *expand_; }
  PiPControlBtn& endButton() { return *end_; }
  const RemoteVideoFeed& remoteFeed() const { return *remote_; }

 private:
  struct Slot {
    Gtk::Overlay* root = nullptr;
    Gtk::Box* backdrop = nullptr;
    Gtk::Widget* remote = nullptr;
    Gtk::Widget* local = nullptr;
    Gtk::Widget* screen = nullptr;
    CallAvatarView* avatar = nullptr;
  };
  Slot makeSlot(int avatarSize, const std::string& defaultAvatarURL);
  void showIn(Slot& slot, const PiPFeedLook& look);
  void render();

  VideoCallViewModel& model_;
  Actions actions_;
  PiPContent content_;
  Slot main_;
  Slot inset_;
  Gtk::Box insetFrame_;
  Gtk::Label name_;
  Gtk::Label timer_;
  PiPControlBtn* mute_;
  PiPControlBtn* expand_;
  PiPControlBtn* end_;
  platform::Subscription subscription_;
  // Last: they detach before the pictures go.
  std::unique_ptr<RemoteVideoFeed> remote_;
  std::unique_ptr<RemoteVideoFeed> screen_;
  std::unique_ptr<CameraPreviewFeed> camera_;
};

}  // namespace orvik
