// The desktop's screen sources for ScreenShareCapture.
//
// X11ScreenSource: the displays and the top-level windows of the X server
// (owner from _NET_WM_PID and WM_CLASS, title from _NET_WM_NAME or WM_NAME,
// normal or dialog windows count as layer 0), captured through WebRTC's X11
// desktop capture. Windows kept out of a shared display are painted black in
// each frame at their current place on the screen: X11 has no way to leave a
// window out of a screen grab, so they are covered instead.
//
// PortalScreenSource (Wayland): the desktop portal's ScreenCast over D-Bus
// with PipeWire frames, through WebRTC's PipeWire capturer. The portal's own
// dialog replaces the picker's list (ShareableContent::systemPicker), the
// share starts once the user chose there, and our windows cannot be kept out
// of a shared screen.
//
// Both capture on the serial queue "orvik.call.screenshare.sample" at the
// configured rate and deliver I420 frames into the call's screen source.
// THREAD-SAFETY: as ScreenSource.
#pragma once

#include <memory>

#include "calls/media/screen_source.h"

namespace orvik {

class X11ScreenSource final : public ScreenSource {
 public:
  void listContent(bool onScreenOnly, ContentDone done) override;
  void startStream(const StreamConfig& config, VideoSourceHandle frames,
                   std::function<void(const std::string& error)> stoppedBySystem, StartDone done) override;
  std::set<std::uint32_t> ownVisibleWindows() override;
};

class PortalScreenSource final : public ScreenSource {
 public:
  static constexpr const char* kSystemPickerName = "Chosen in the system dialog";
  void listContent(bool onScreenOnly, ContentDone done) override;
  void startStream(const StreamConfig& config, VideoSourceHandle frames,
                   std::function<void(const std::string& error)> stoppedBySystem, StartDone done) override;
  std::set<std::uint32_t> ownVisibleWindows() override { return {}; }
};

// The portal under a Wayland session, X11 otherwise; null when neither is
// there (no display at all).
std::unique_ptr<ScreenSource> makeDesktopScreenSource();

}  // namespace orvik
