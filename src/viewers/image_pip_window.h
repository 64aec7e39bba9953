// The image picture-in-picture panel: the image the viewer popped out, in a
// small borderless panel 20 pixels inside the top-right corner of the work
// area, sized by the image's shape (at most 420 wide and 540 high, never
// under 160 × 120), kept above other windows on every desktop, never taking
// the focus, moved by dragging the picture. Close and expand buttons; expand
// reopens the image alone in the image viewer (no reply, no download).
// Opening it closes the video panel, so at most one panel is up.
// Widget names: "orvik-image-pip" (window), "orvik-pip-close",
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

class NativeImagePiPWindow final : public ViewerWindow, public std::enable_shared_from_this<NativeImagePiPWindow> {
 public:
  struct Collaborators {
    platform::WindowPlacement* placement = nullptr;  // none: the window manager decides
    std::function<void()> closeVideoPiP;
    // Opens the image viewer on one path (through the entry points).
    std::function<void(const std::string& path)> expand;
  };
  explicit NativeImagePiPWindow(Collaborators collaborators);
  ~NativeImagePiPWindow() override;

  // An image that cannot be read changes nothing.
  void show(const std::string& path);
  std::optional<std::string> currentFilePath() const override { return currentFilePath_; }
  void close() override;
  void expand();

  Gtk::Window* window() const { return window_.get(); }

 private:
  void build(const Glib::RefPtr<Gdk::Texture>& image);
  void onClosed();

  Collaborators c_;
  std::unique_ptr<Gtk::Window> window_;
  std::optional<std::string> currentFilePath_;
};

}  // namespace orvik
