#include "viewers/image_pip_window.h"

#include <cmath>
#include <utility>

#include "platform/window_placement.h"
#include "viewers/image_viewer_window.h"
#include "viewers/video_pip_window.h"
#include "viewers/viewer_rules.h"
#include "viewers/viewer_window_chrome.h"

namespace orvik {

NativeImagePiPWindow::NativeImagePiPWindow(Collaborators collaborators) : c_(std::move(collaborators)) {}

NativeImagePiPWindow::~NativeImagePiPWindow() {
  if (window_) onClosed();
}

void NativeImagePiPWindow::show(const std::string& path) {
  auto image = loadImageTexture(path);
  if (!image) return;
  if (window_) onClosed();
  currentFilePath_ = path;
  build(image);
}

void NativeImagePiPWindow::build(const Glib::RefPtr<Gdk::Texture>& image) {
  if (c_.closeVideoPiP) c_.closeVideoPiP();
  const viewers::Rect frame =
      viewers::imagePiPFrame({double(image->get_width()), double(image->get_height())}, viewerScreen());
  window_ = std::make_unique<Gtk::Window>();
  window_->set_name("orvik-image-pip");
  window_->set_title("Picture in Picture");
  window_->set_decorated(false);
  window_->set_default_size(int(std::lround(frame.width)), int(std::lround(frame.height)));
  applyViewerLook(*window_, true);

  auto* overlay = Gtk::make_managed<Gtk::Overlay>();
  overlay->add_css_class("orvik-pip-content");
  overlay->set_overflow(Gtk::Overflow::HIDDEN);
  overlay->set_size_request(int(viewers::kImagePiPMinimum.width), int(viewers::kImagePiPMinimum.height));
  auto* picture = Gtk::make_managed<Gtk::Picture>(image);
  picture->set_can_shrink(true);
  picture->set_keep_aspect_ratio(true);
  picture->set_hexpand(true);
  picture->set_vexpand(true);
  overlay->set_child(*picture);
  auto drag = Gtk::GestureClick::create();
  drag->signal_pressed().connect([this, gesture = drag.get()](int, double x, double y) {
    if (window_) beginWindowMove(*window_, *gesture, x, y);
  });
  picture->add_controller(drag);

  const std::weak_ptr<NativeImagePiPWindow> weak = weak_from_this();
  auto* closeButton = makeRoundPanelButton("xmark", [weak] {
    if (auto self = weak.lock()) self->close();
  });
  closeButton->set_name("orvik-pip-close");
  closeButton->set_margin_start(8);
  closeButton->set_margin_top(8);
  overlay->add_overlay(*closeButton);
  auto* expandButton = makeRoundPanelButton("arrow.up.left.and.arrow.down.right", [weak] {
    if (auto self = weak.lock()) self->expand();
  });
  expandButton->set_name("orvik-pip-expand");
  expandButton->set_halign(Gtk::Align::END);
  expandButton->set_margin_end(8);
  expandButton->set_margin_top(8);
  overlay->add_overlay(*expandButton);
  window_->set_child(*overlay);
  window_->signal_close_request().connect(
      [weak] {
        if (auto self = weak.lock()) self->onClosed();
        return false;
      },
      false);

  if (c_.placement) {
    GtkWindow* gtkWindow = window_->gobj();
    c_.placement->setNeverFocused(gtkWindow);
    c_.placement->setKeepAbove(gtkWindow, true);
    c_.placement->setOnAllDesktops(gtkWindow, true);
    c_.placement->moveToWorkAreaTopRight(gtkWindow, int(viewers::kPiPMargin));
    c_.placement->orderFrontWithoutActivating(gtkWindow);
  } else {
    window_->present();
  }
}

void NativeImagePiPWindow::close() { onClosed(); }

void NativeImagePiPWindow::expand() {
  if (!window_) return;
  if (currentFilePath_ && c_.expand) c_.expand(*currentFilePath_);
  close();
}

void NativeImagePiPWindow::onClosed() {
  if (!window_) return;
  auto window = std::move(window_);
  window->hide();
  currentFilePath_.reset();
  Glib::signal_idle().connect_once([window = std::shared_ptr<Gtk::Window>(std::move(window))] {});
}

}  // namespace orvik
