// What can be shared on this desktop and the streams that capture it: the
// backend interface of ScreenShareCapture. Backends: X11 through WebRTC's
// desktop capture (screen_source_x11.h), the desktop portal's ScreenCast
// with PipeWire frames under Wayland (screen_source_portal.h), and a fake in
// tests. No WebRTC type crosses this header.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "calls/media/peer_connection.h"

namespace orvik {

struct OwningApplication {
  std::int64_t processId = 0;  // 0: not known
  std::string name;
  // The application's identity as the desktop knows it (X11: WM_CLASS).
  std::string applicationId;
  friend bool operator==(const OwningApplication&, const OwningApplication&) = default;
};

struct ShareableDisplay {
  std::int64_t id = 0;
  std::string name;
  int width = 0;
  int height = 0;
  friend bool operator==(const ShareableDisplay&, const ShareableDisplay&) = default;
};

struct ShareableWindow {
  std::uint32_t id = 0;
  std::string title;
  std::optional<OwningApplication> owner;
  // 0 for a normal application window; docks, menus, tooltips are above.
  int layer = 0;
  double width = 0;
  double height = 0;
  bool onScreen = true;
  friend bool operator==(const ShareableWindow&, const ShareableWindow&) = default;
};

struct ShareableContent {
  std::vector<ShareableDisplay> displays;
  std::vector<ShareableWindow> windows;
  // The desktop's own dialog chooses what is shared (the portal): the one
  // display entry stands for "what the user picks there".
  bool systemPicker = false;
};

// Exactly one display or one window.
using ShareTarget = std::variant<ShareableDisplay, ShareableWindow>;

// One running capture.
class ScreenStream {
 public:
  using Done = std::function<void(const std::optional<std::string>& error)>;
  virtual ~ScreenStream() = default;
  // Stops the capture; `done` runs on the backend's thread once it stopped.
  virtual void stop(Done done) = 0;
  // Keeps these windows out of a display capture from the next frame on.
  virtual void updateExclusions(const std::set<std::uint32_t>& windows, Done done) = 0;
};

class ScreenSource {
 public:
  struct StreamConfig {
    ShareTarget target;
    int width = 0;
    int height = 0;
    int framesPerSecond = 15;
    std::set<std::uint32_t> excludedWindows;
  };
  using ContentDone = std::function<void(std::optional<ShareableContent> content, const std::string& error)>;
  using StartDone = std::function<void(std::shared_ptr<ScreenStream> stream, const std::optional<std::string>& error)>;

  virtual ~ScreenSource() = default;

  // Displays and windows; hidden windows too unless `onScreenOnly`. `done`
  // runs once, on the backend's thread.
  virtual void listContent(bool onScreenOnly, ContentDone done) = 0;
  // Starts capturing into `frames`. `stoppedBySystem` runs (on the backend's
  // thread) when the capture ends on its own: the window closed, the user
  // ended it in the desktop's dialog. `done` runs once, on the backend's
  // thread.
  virtual void startStream(const StreamConfig& config, VideoSourceHandle frames,
                           std::function<void(const std::string& error)> stoppedBySystem, StartDone done) = 0;
  // The program's own visible windows; main queue.
  virtual std::set<std::uint32_t> ownVisibleWindows() = 0;
};

}  // namespace orvik
