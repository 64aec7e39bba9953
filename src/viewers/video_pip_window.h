// The video picture-in-picture panel: the running video of the video window
// in a small borderless panel 20 pixels inside the top-right corner of the
// work area, 440 × 247.5 at first and never under 200 × 112, kept above other
// windows on every desktop, never taking the focus, moved by dragging the
// picture. It shows the very same player as the window (the window's view
// keeps owning it; the panel holds it weakly).
//
// The expand button closes the panel and hands the video back to its window
// still playing (`onExpand`); every other close (its close button, another
// viewer opening, a deleted file, a new panel) pauses the player and runs
// `onClose`, which closes the hidden video window. It holds no click-blocker
// hold: a click on the main window or another program leaves it up.
// Widget names: "orvik-video-pip" (window), "orvik-pip-close",
// "orvik-pip-expand".
// THREAD-SAFETY: GTK's thread (the main queue).
#pragma once

#include <gtkmm.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "viewers/media_viewers.h"

namespace orvik {
namespace platform {
class WindowPlacement;
}  // namespace platform

class VideoPlayback;

class NativeVideoPiPWindow final : public ViewerWindow, public std::enable_shared_from_this<NativeVideoPiPWindow> {
 public:
  struct Collaborators {
    platform::WindowPlacement* placement = nullptr;  // none: the window manager decides
    std::function<void()> closeImagePiP;
  };
  explicit NativeVideoPiPWindow(Collaborators collaborators);
  ~NativeVideoPiPWindow() override;

  // Builds the panel in a step queued on the main queue.
  void show(const std::shared_ptr<VideoPlayback>& player, std::function<void()> onExpand,
            std::function<void()> onClose);
  // The panel shows no file of its own; its window closes it for a deleted file.
  std::optional<std::string> currentFilePath() const override { return std::nullopt; }
  // Closes as "stop watching": pauses and runs onClose.
  void close() override;
  // The expand button: closes and hands the video back, still playing.
  void expand();

  Gtk::Window* window() const { return window_.get(); }

 private:
  void build(const std::shared_ptr<VideoPlayback>& player);
  void onClosed();

  Collaborators c_;
  std::unique_ptr<Gtk::Window> window_;
  Gtk::Picture* picture_ = nullptr;
  std::weak_ptr<VideoPlayback> pipPlayer_;
  std::function<void()> onExpand_;
  std::function<void()> onClose_;
  bool expandRequested_ = false;
};

// Starts moving `window` with the pointer from a press at (x, y) of `gesture`.
void beginWindowMove(Gtk::Window& window, Gtk::GestureClick& gesture, double x, double y);

}  // namespace orvik
