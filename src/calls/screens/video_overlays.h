// The small pictures the video call screen lays over or in place of its
// feeds: the camera-off placeholder, the screen-sharing indicator, the mute
// badge of the tile, the stage's gradients, the remote party's muted badge
// and the calling overlay with its three pulsing dots.
//
// Each is a drawing function (the stage draws the placeholders into its feed
// slots itself) and, where a screen places it on its own, a widget that
// calls the same function. What each shows and when it goes compact is
// decided by video_stage_layout.h.
//
// THREAD-SAFETY: main queue (GTK's thread) only.
#pragma once

#include <gtk/gtk.h>
#include <gtkmm/widget.h>

#include <functional>
#include <map>
#include <string>

#include <gdkmm/texture.h>

#include "calls/screens/call_image_loader.h"
#include "calls/screens/video_stage_layout.h"
#include "platform/observer_list.h"

namespace orvik {

class VideoCallViewModel;

// The pictures a drawn camera-off placeholder shows: the party's avatar (or
// the subscribers' default picture) and the subscriber badge, each loaded
// once per address. `changed` runs when one arrives, for the owner to redraw.
class CameraOffPictures {
 public:
  CameraOffPictures(std::string defaultAvatarURL, std::string badgeURL, std::function<void()> changed);
  const std::string& defaultAvatarURL() const { return defaultAvatarURL_; }
  // Null while it loads, and when it cannot be loaded.
  GdkTexture* avatar(const std::string& url) { return texture(url); }
  GdkTexture* badge() { return texture(badgeURL_); }

 private:
  struct Entry {
    Glib::RefPtr<Gdk::Texture> texture;
    CallImageLoader::Handle loading;
  };
  GdkTexture* texture(const std::string& url);

  std::string defaultAvatarURL_;
  std::string badgeURL_;
  std::function<void()> changed_;
  std::map<std::string, Entry> entries_;
};

struct CameraOffContent {
  std::string name;
  std::string orvikID;
  std::string imageUrl;
  bool isSubscribed = false;
  bool showsName = true;
  // The label before the OrvikID ("OrvikID:" or the page's text).
  std::string orvikIdLabel = "OrvikID:";
  // Without it the avatar is the initial on its gradient and the badge the
  // crown on gold.
  CameraOffPictures* pictures = nullptr;
};

// The stage's purple gradient over `rect`.
void snapshotStagePurple(GtkSnapshot* snapshot, StageRect rect);
// Black 0.65 → clear over the top 110 pt; clear → black 0.7 over the bottom
// 130 pt.
void snapshotTopVideoGradient(GtkSnapshot* snapshot, StageSize stage);
void snapshotBottomVideoGradient(GtkSnapshot* snapshot, StageSize stage);
void snapshotCameraOff(GtkWidget* widget, GtkSnapshot* snapshot, StageRect rect, const CameraOffContent& content);
void snapshotScreenSharingIndicator(GtkWidget* widget, GtkSnapshot* snapshot, StageRect rect);
// The red microphone-off badge with its top-left corner at (x, y).
void snapshotPiPMuteBadge(GtkWidget* widget, GtkSnapshot* snapshot, double x, double y);
inline constexpr double kPiPMuteBadgeSize = 25;  // 11 pt glyph, 7 pt around it

class RemoteCameraOffView : public Gtk::Widget {
 public:
  explicit RemoteCameraOffView(CameraOffContent content);
  void setContent(CameraOffContent content);

 protected:
  void snapshot_vfunc(const Glib::RefPtr<Gtk::Snapshot>& snapshot) override;

 private:
  CameraOffContent content_;
};

class ScreenSharingIndicatorView : public Gtk::Widget {
 public:
  ScreenSharingIndicatorView();

 protected:
  void snapshot_vfunc(const Glib::RefPtr<Gtk::Snapshot>& snapshot) override;
};

class PiPMuteBadge : public Gtk::Widget {
 public:
  PiPMuteBadge();

 protected:
  void measure_vfunc(Gtk::Orientation orientation, int forSize, int& minimum, int& natural, int& minimumBaseline,
                     int& naturalBaseline) const override;
  void snapshot_vfunc(const Glib::RefPtr<Gtk::Snapshot>& snapshot) override;
};

// The capsule "<short name> muted" beside the call timer.
class RemoteMutedBadge : public Gtk::Widget {
 public:
  explicit RemoteMutedBadge(std::string name);
  void setName(std::string name);
  const std::string& text() const { return text_; }

 protected:
  void measure_vfunc(Gtk::Orientation orientation, int forSize, int& minimum, int& natural, int& minimumBaseline,
                     int& naturalBaseline) const override;
  void snapshot_vfunc(const Glib::RefPtr<Gtk::Snapshot>& snapshot) override;

 private:
  std::string text_;
};

// The callee's name, the status line and three dots pulsing out of step,
// over the stage until the call connects. Clicks pass through it.
class VideoCallingStateOverlay : public Gtk::Widget {
 public:
  // `callingText`: the call-screen text "calling" shown for an empty timer.
  VideoCallingStateOverlay(VideoCallViewModel& model, std::string callingText);
  ~VideoCallingStateOverlay() override;

  std::string statusText() const;

 protected:
  void snapshot_vfunc(const Glib::RefPtr<Gtk::Snapshot>& snapshot) override;

 private:
  VideoCallViewModel& model_;
  std::string callingText_;
  platform::Subscription modelChanged_;
  guint tick_ = 0;
  gint64 shownAt_ = 0;
};

// A dot's scale and opacity `seconds` after the dots appeared: it waits for
// its `delay`, then swings between 0.7 / 0.4 and 1.1 / 1.0 every 1.4 s.
struct StatusDotLook {
  double scale;
  double opacity;
};
StatusDotLook videoStatusDotLook(double seconds, double delay);

}  // namespace orvik
