// The program's video call window: a GTK window of 860 × 640 (never below
// 780 × 620) holding the VideoCallView, in the screen's background colour
// for the theme. It never takes the focus from the main window where the
// window system allows, comes to the front without activating the program,
// and floats above other windows while elevated (WindowPlacement). The close
// button asks the controller first.
//
// VideoPiPPanelGtk: the picture-in-picture panel, an undecorated 264 × 208
// window (at least 200 × 170) at the top right of the work area, above other
// windows and on every desktop, moved by dragging anywhere on its picture.
//
//   VideoCallWindowFactory factory = VideoCallWindowGtk::factory({placement, strings, …});
//
// Owner: NativeVideoCallWindow / NativeVideoPiP, through their surfaces.
// THREAD-SAFETY: main thread only.
#pragma once

#include <memory>

#include <gtkmm/window.h>

#include "calls/screens/video_call_view.h"
#include "calls/windows/video_call_window_surface.h"

namespace orvik {

class CallStrings;
class VideoPiPView;
namespace platform {
class WindowPlacement;
}  // namespace platform

class VideoCallWindowGtk final : public VideoCallWindowSurface {
 public:
  struct Context {
    platform::WindowPlacement& placement;
    const CallStrings& strings;
    VideoCallViewOptions view;
  };

  VideoCallWindowGtk(const Context& context, const VideoCallWindowSetup& setup, VideoCallViewModel& model,
                     VideoCallActions actions, VideoCallWindowDelegate& delegate);
  ~VideoCallWindowGtk() override;

  static VideoCallWindowFactory factory(Context context);

  void setDarkMode(bool dark) override;
  void orderFront() override;
  void bringToFront() override;
  void setElevated(bool elevated) override;
  void close() override;
  std::uint64_t windowNumber() const override;

  Gtk::Window& window() { return window_; }
  VideoCallView& view() { return *view_; }

 private:
  platform::WindowPlacement& placement_;
  VideoCallWindowDelegate& delegate_;
  Gtk::Window window_;
  VideoCallView* view_;
  bool closing_ = false;
};

class VideoPiPPanelGtk final : public VideoPiPSurface {
 public:
  struct Context {
    platform::WindowPlacement& placement;
    CameraSourceResolver cameraSource;
    std::string defaultAvatarURL;
  };

  VideoPiPPanelGtk(const Context& context, const VideoPiPSetup& setup, VideoCallViewModel& model,
                   VideoPiPActions actions);
  ~VideoPiPPanelGtk() override;

  static VideoPiPFactory factory(Context context);

  void orderFront() override;
  void orderOut() override;
  bool isShown() const override { return window_.get_visible(); }
  std::uint64_t windowNumber() const override;

  Gtk::Window& window() { return window_; }
  VideoPiPView& view() { return *view_; }

 private:
  platform::WindowPlacement& placement_;
  Gtk::Window window_;
  VideoPiPView* view_;
};

}  // namespace orvik
