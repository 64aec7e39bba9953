// The video call window and its picture-in-picture panel as their
// controllers (NativeVideoCallWindow, NativeVideoPiP) drive them, so that the
// controllers run in tests without a display. VideoCallWindowGtk and
// VideoPiPPanelGtk are the program's.
//
// THREAD-SAFETY: main queue only.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "calls/screens/video_call_actions.h"
#include "calls/screens/video_stage_layout.h"

namespace orvik {

class VideoCallViewModel;

// What the window tells its controller.
class VideoCallWindowDelegate {
 public:
  virtual ~VideoCallWindowDelegate() = default;
  // The user asks to close the window; false keeps it open.
  virtual bool windowShouldClose() = 0;
  // The window is closing, whoever closed it; the surface is dropped after.
  virtual void windowWillClose() = 0;
  virtual void windowDidBecomeKey() = 0;
  virtual void windowDidResignKey() = 0;
};

struct VideoCallWindowSetup {
  std::string title;
  bool isDarkMode = true;
  // Whether screen captures may show the window (read once, when built).
  bool capturable = false;
};

class VideoCallWindowSurface {
 public:
  virtual ~VideoCallWindowSurface() = default;
  virtual void setDarkMode(bool dark) = 0;
  // Shows the window in front of the others without activating the program.
  virtual void orderFront() = 0;
  // Onto the current desktop, in front, and above the program's other
  // windows.
  virtual void bringToFront() = 0;
  virtual void setElevated(bool elevated) = 0;
  // Closes the window now; the delegate's windowWillClose runs inside.
  virtual void close() = 0;
  // The window system's number of the window (X11: its id); 0 when unknown.
  virtual std::uint64_t windowNumber() const = 0;
};

using VideoCallWindowFactory = std::function<std::unique_ptr<VideoCallWindowSurface>(
    const VideoCallWindowSetup& setup, VideoCallViewModel& model, VideoCallActions actions,
    VideoCallWindowDelegate& delegate)>;

struct VideoPiPActions {
  std::function<void()> onExpand;
  std::function<void()> onMute;
  std::function<void()> onEnd;
};

struct VideoPiPSetup {
  // Where the panel stands (videoPiPFrame of the work area).
  StageRect frame;
  bool capturable = false;
};

class VideoPiPSurface {
 public:
  virtual ~VideoPiPSurface() = default;
  // Shows the panel in front without activating the program.
  virtual void orderFront() = 0;
  // Hides it; it stays built.
  virtual void orderOut() = 0;
  virtual bool isShown() const = 0;
  virtual std::uint64_t windowNumber() const = 0;
};

using VideoPiPFactory = std::function<std::unique_ptr<VideoPiPSurface>(
    const VideoPiPSetup& setup, VideoCallViewModel& model, VideoPiPActions actions)>;

}  // namespace orvik
