#include "viewers/video_pip_window.h"

#include <gdk/gdk.h>

#include <cmath>
#include <utility>

#include "platform/dispatch/task_queue.h"
#include "platform/window_placement.h"
#include "viewers/video_playback.h"
#include "viewers/viewer_rules.h"
#include "viewers/viewer_window_chrome.h"

namespace orvik {

void beginWindowMove(Gtk::Window& window, Gtk::GestureClick& gesture, double x, double y) {
  GdkSurface* surface = gtk_native_get_surface(GTK_NATIVE(window.gobj()));
  GdkDevice* device = gtk_gesture_get_device(GTK_GESTURE(gesture.gobj()));
  if (!surface || !GDK_IS_TOPLEVEL(surface) || !device) return;
  double surfaceX = x, surfaceY = y;
  gtk_widget_translate_coordinates(gesture.get_widget()->gobj(), GTK_WIDGET(window.gobj()), x, y, &surfaceX,
                                   &surfaceY);
  gdk_toplevel_begin_move(GDK_TOPLEVEL(surface), device, int(gesture.get_current_button()), surfaceX, surfaceY,
                          gesture.get_current_event_time());
}

NativeVideoPiPWindow::NativeVideoPiPWindow(Collaborators collaborators) : c_(std::move(collaborators)) {}

NativeVideoPiPWindow::~NativeVideoPiPWindow() {
  onExpand_ = nullptr;
  onClose_ = nullptr;
  if (window_) onClosed();
}

void NativeVideoPiPWindow::show(const std::shared_ptr<VideoPlayback>& player, std::function<void()> onExpand,
                                std::function<void()> onClose) {
  platform::mainQueue().post([weak = weak_from_this(), player = std::weak_ptr<VideoPlayback>(player),
                              onExpand = std::move(onExpand), onClose = std::move(onClose)]() mutable {
    auto self = weak.lock();
    auto playing = player.lock();
    if (!self || !playing) return;
    // The old panel closes with its own callbacks before the new ones are kept.
    if (self->window_) self->close();
    self->onExpand_ = std::move(onExpand);
    self->onClose_ = std::move(onClose);
    self->expandRequested_ = false;
    self->build(playing);
  });
}

void NativeVideoPiPWindow::build(const std::shared_ptr<VideoPlayback>& player) {
  pipPlayer_ = player;
  if (c_.closeImagePiP) c_.closeImagePiP();
  const viewers::Size size = viewers::kVideoPiPSize;
  window_ = std::make_unique<Gtk::Window>();
  window_->set_name("orvik-video-pip");
  window_->set_title("Picture in Picture");
  window_->set_decorated(false);
  window_->set_default_size(int(size.width), int(std::lround(size.height)));
  applyViewerLook(*window_, true);

  auto* overlay = Gtk::make_managed<Gtk::Overlay>();
  overlay->add_css_class("orvik-pip-content");
  overlay->set_overflow(Gtk::Overflow::HIDDEN);
  overlay->set_size_request(int(viewers::kVideoPiPMinimum.width), int(viewers::kVideoPiPMinimum.height));
  auto* picture = Gtk::make_managed<Gtk::Picture>();
  picture->set_can_shrink(true);
  picture->set_keep_aspect_ratio(true);
  picture->set_hexpand(true);
  picture->set_vexpand(true);
  gtk_picture_set_paintable(picture->gobj(), player->paintable());
  picture_ = picture;
  overlay->set_child(*picture);
  auto drag = Gtk::GestureClick::create();
  drag->signal_pressed().connect([this, gesture = drag.get()](int, double x, double y) {
    if (window_) beginWindowMove(*window_, *gesture, x, y);
  });
  picture->add_controller(drag);

  const std::weak_ptr<NativeVideoPiPWindow> weak = weak_from_this();
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

void NativeVideoPiPWindow::close() {
  if (!window_) return;
  expandRequested_ = false;
  onClosed();
}

void NativeVideoPiPWindow::expand() {
  if (!window_) return;
  expandRequested_ = true;
  onClosed();
}

void NativeVideoPiPWindow::onClosed() {
  if (!window_) return;
  const bool expand = std::exchange(expandRequested_, false);
  auto onExpand = std::exchange(onExpand_, nullptr);
  auto onClose = std::exchange(onClose_, nullptr);
  if (picture_) gtk_picture_set_paintable(picture_->gobj(), nullptr);
  picture_ = nullptr;
  auto window = std::move(window_);
  window->hide();
  // Dropped once GTK is done with the close it may be inside of.
  Glib::signal_idle().connect_once([window = std::shared_ptr<Gtk::Window>(std::move(window))] {});
  auto player = std::exchange(pipPlayer_, {}).lock();
  if (expand) {
    if (onExpand) onExpand();
  } else {
    if (player) player->pause();
    if (onClose) onClose();
  }
}

}  // namespace orvik
