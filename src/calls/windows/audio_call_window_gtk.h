// The program's audio call window: a GTK window of 620 × 570 (never below
// 560 × 560) holding the AudioCallView, in the call screen's background
// colour for the theme. It never takes the focus from the main window where
// the window system allows, comes to the front without activating the
// program, and floats above other windows while elevated (WindowPlacement).
// The close button asks the controller first.
//
//   AudioCallWindowFactory factory = AudioCallWindowGtk::factory({placement, strings, …});
//
// Owner: NativeAudioCallWindow, through AudioCallWindowSurface.
// THREAD-SAFETY: main thread only.
#pragma once

#include <memory>

#include <gtkmm/window.h>

#include "calls/screens/audio_call_view.h"
#include "calls/windows/audio_call_window_surface.h"

namespace orvik {

class CallStrings;
namespace platform {
class WindowPlacement;
}  // namespace platform

class AudioCallWindowGtk final : public AudioCallWindowSurface {
 public:
  struct Context {
    platform::WindowPlacement& placement;
    const CallStrings& strings;
    AudioCallViewOptions view;
  };

  AudioCallWindowGtk(const Context& context, const AudioCallWindowSetup& setup, AudioCallViewModel& model,
                     AudioCallActions actions, AudioCallWindowDelegate& delegate);
  ~AudioCallWindowGtk() override;

  static AudioCallWindowFactory factory(Context context);

  void setDarkMode(bool dark) override;
  void orderFront() override;
  void raiseAboveAppWindows() override;
  void setElevated(bool elevated) override;
  void close() override;

  Gtk::Window& window() { return window_; }
  AudioCallView& view() { return *view_; }

 private:
  platform::WindowPlacement& placement_;
  AudioCallWindowDelegate& delegate_;
  Gtk::Window window_;
  AudioCallView* view_;
  bool closing_ = false;
};

}  // namespace orvik
