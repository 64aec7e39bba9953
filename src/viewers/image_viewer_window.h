// The image viewer: one received image, or a gallery, in a window of its own
// above the main window: the zoomable picture, a toolbar (zoom, pop out to
// the floating panel, download when the image may be saved, reply when it
// has a message), and for galleries previous/next arrows and a strip of
// 72-pixel thumbnails with the current one selected. Opening a new gallery
// replaces the old window. Its window holds the click blocker while shown.
// Widget names: "orvik-image-viewer" (window), "orvik-viewer-previous",
// "orvik-viewer-next", "orvik-thumb-<i>", "orvik-tool-<id>".
// THREAD-SAFETY: GTK's thread.
#pragma once

#include <gtkmm.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "viewers/media_viewers.h"

namespace orvik {

class AutoHidingChrome;
class OrvikHelper;
class ViewerClickBlocker;
class ViewerToolbar;
class ZoomableImageView;

class NativeImageViewerWindow final : public ImageViewer,
                                      public std::enable_shared_from_this<NativeImageViewerWindow> {
 public:
  struct Collaborators {
    ViewerClickBlocker& blocker;
    OrvikHelper* helper = nullptr;              // downloads; none: no saving
    std::function<bool()> isDarkMode;           // read once per window
    std::function<void(const std::string&)> popOut;  // shows the image panel
  };
  explicit NativeImageViewerWindow(Collaborators collaborators);
  ~NativeImageViewerWindow() override;

  std::optional<std::string> currentFilePath() const override { return currentFilePath_; }
  std::vector<std::string> filePaths() const override { return filePaths_; }
  void show(GallerySelection selection) override;
  void close() override;

  void navigate(std::size_t index);
  std::size_t currentIndex() const { return currentIndex_; }
  Gtk::Window* window() const { return window_.get(); }
  AutoHidingChrome* chrome() const { return chrome_.get(); }
  ZoomableImageView* imageView() const { return imageView_; }
  ViewerToolbar* toolbar() const { return toolbar_.get(); }

 private:
  void build();
  void applyArrowRule();
  void applyDownloadRule();
  void applySelectionRule();
  void download();
  void popOut();
  void reply();
  void onClosed();

  Collaborators c_;
  std::unique_ptr<Gtk::Window> window_;
  std::unique_ptr<ViewerToolbar> toolbar_;
  ZoomableImageView* imageView_ = nullptr;
  Gtk::Button* previous_ = nullptr;
  Gtk::Button* next_ = nullptr;
  std::vector<Gtk::Widget*> thumbs_;
  Gtk::ScrolledWindow* strip_ = nullptr;
  std::shared_ptr<AutoHidingChrome> chrome_;  // the arrows fade when the mouse rests

  std::optional<std::string> currentFilePath_;
  std::vector<std::string> filePaths_;
  std::size_t currentIndex_ = 0;
  std::optional<std::vector<std::string>> messageIds_;
  std::function<void(const std::string&)> onReply_;
  std::optional<std::vector<bool>> downloadAllowed_;
};

// Loads an image file as a texture; none when it cannot be read.
Glib::RefPtr<Gdk::Texture> loadImageTexture(const std::string& path);

}  // namespace orvik
