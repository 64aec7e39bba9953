// The audio call window as its controller (NativeAudioCallWindow) drives
// it, so that the controller runs in tests without a display: a surface is
// one shown window; the controller is its delegate. AudioCallWindowGtk is
// the program's.
//
// THREAD-SAFETY: main queue only.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "calls/screens/audio_call_actions.h"

namespace orvik {

class AudioCallViewModel;

// What the window tells its controller.
class AudioCallWindowDelegate {
 public:
  virtual ~AudioCallWindowDelegate() = default;
  // The user asks to close the window (close button or shortcut); false
  // keeps it open.
  virtual bool windowShouldClose() = 0;
  // The window is closing, whoever closed it; the surface is dropped after.
  virtual void windowWillClose() = 0;
  virtual void windowDidBecomeKey() = 0;
  virtual void windowDidResignKey() = 0;
};

struct AudioCallWindowSetup {
  std::string title;
  bool isDarkMode = true;
  // Whether screen captures may show the window (the call manager's
  // screenshot-access flag, read once when the window is built).
  bool capturable = false;
};

class AudioCallWindowSurface {
 public:
  virtual ~AudioCallWindowSurface() = default;
  // Background and appearance.
  virtual void setDarkMode(bool dark) = 0;
  // Shows the window in front of the others without activating the program.
  virtual void orderFront() = 0;
  // Onto the current desktop and above the program's other windows.
  virtual void raiseAboveAppWindows() = 0;
  // Floats above other windows while true.
  virtual void setElevated(bool elevated) = 0;
  // Closes the window now; the delegate's windowWillClose runs inside.
  virtual void close() = 0;
};

// Builds and shows a window for `model` with the screen's `actions`.
using AudioCallWindowFactory = std::function<std::unique_ptr<AudioCallWindowSurface>(
    const AudioCallWindowSetup& setup, AudioCallViewModel& model, AudioCallActions actions,
    AudioCallWindowDelegate& delegate)>;

}  // namespace orvik
