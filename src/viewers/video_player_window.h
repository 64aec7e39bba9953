// The video player window: one received video in a window of its own above
// the main window (80 % of the screen, at most 960 × 600 at first, never
// under 360 × 260), titled with the file's name, with a download button when
// the page allows saving (offered as "orvik-video-<name>"). Its picture-in-
// picture button hides the window, releases the click blocker and hands the
// running player to the video panel; expanding the panel brings the window
// back, still playing, and takes the blocker again; closing the panel any
// other way closes the hidden window. One video window at a time: a new
// video replaces it. Every close tears the player down and releases the
// window's hold on the blocker.
// Widget names: "orvik-video-player" (window), "orvik-tool-download", and
// those of GlassVideoPlayerView.
// THREAD-SAFETY: GTK's thread (the main queue).
#pragma once

#include <gtkmm.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "viewers/media_viewers.h"

namespace orvik {

class GlassVideoPlayerView;
class NativeVideoPiPWindow;
class OrvikHelper;
class VideoPlayback;
class ViewerClickBlocker;
class ViewerToolbar;

class NativeVideoPlayerWindow final : public VideoPlayer,
                                      public std::enable_shared_from_this<NativeVideoPlayerWindow> {
 public:
  static constexpr int kMinimumWidth = 360;
  static constexpr int kMinimumHeight = 260;

  using PlaybackFactory = std::function<std::shared_ptr<VideoPlayback>(const std::string& path)>;
  struct Collaborators {
    ViewerClickBlocker& blocker;
    OrvikHelper* helper = nullptr;  // downloads; none: no saving
    std::function<bool()> isDarkMode;
    std::function<void()> closeImagePiP;
    std::weak_ptr<NativeVideoPiPWindow> videoPiP;
    PlaybackFactory makePlayback;  // none: GStreamer
  };
  explicit NativeVideoPlayerWindow(Collaborators collaborators);
  ~NativeVideoPlayerWindow() override;

  std::optional<std::string> currentFilePath() const override { return currentFilePath_; }
  void open(const std::string& path, bool downloadAllowed) override;
  void close() override;

  Gtk::Window* window() const { return window_.get(); }
  GlassVideoPlayerView* playerView() const { return playerView_; }
  bool downloadAllowed() const { return downloadAllowed_; }
  // The picture-in-picture button's hand-off.
  void enterPiP();

 private:
  void showWindow(const std::string& path);
  void returnFromPiP();
  void download();
  void onClosed();

  Collaborators c_;
  std::unique_ptr<Gtk::Window> window_;
  std::unique_ptr<ViewerToolbar> toolbar_;
  GlassVideoPlayerView* playerView_ = nullptr;
  bool downloadAllowed_ = false;
  std::optional<std::string> currentFilePath_;
};

}  // namespace orvik
