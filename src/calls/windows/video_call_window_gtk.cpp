#include "calls/windows/video_call_window_gtk.h"

#include <gdk/x11/gdkx.h>
#include <gtkmm/windowhandle.h>

#include "calls/screens/call_colors.h"
#include "calls/screens/call_screen_css.h"
#include "calls/screens/video_pip_view.h"
#include "calls/windows/native_video_call_window.h"
#include "platform/window_placement.h"

namespace orvik {

namespace {

std::uint64_t x11NumberOf(const Gtk::Window& window) {
  GdkSurface* surface = gtk_native_get_surface(GTK_NATIVE(const_cast<GtkWindow*>(window.gobj())));
  if (!surface || !GDK_IS_X11_SURFACE(surface)) return 0;
  return static_cast<std::uint64_t>(GDK_SURFACE_XID(surface));
}

}  // namespace

VideoCallWindowGtk::VideoCallWindowGtk(const Context& context, const VideoCallWindowSetup& setup,
                                       VideoCallViewModel& model, VideoCallActions actions,
                                       VideoCallWindowDelegate& delegate)
    : placement_(context.placement), delegate_(delegate) {
  window_.set_title(setup.title);
  window_.set_name("video-call-window");
  window_.set_default_size(NativeVideoCallWindow::kWidth, NativeVideoCallWindow::kHeight);
  window_.set_resizable(true);
  window_.set_hide_on_close(true);
  // Linux cannot keep a window out of other programs' screen captures:
  // `setup.capturable` has nothing to switch here.
  view_ = Gtk::make_managed<VideoCallView>(model, context.strings, std::move(actions), context.view);
  view_->set_size_request(NativeVideoCallWindow::kMinimumWidth, NativeVideoCallWindow::kMinimumHeight);
  window_.set_child(*view_);
  setDarkMode(setup.isDarkMode);

  window_.signal_close_request().connect(
      [this] {
        if (closing_) return false;
        if (!delegate_.windowShouldClose()) return true;
        closing_ = true;
        delegate_.windowWillClose();
        return false;  // hidden (hide-on-close)
      },
      false);
  window_.property_is_active().signal_changed().connect([this] {
    if (window_.is_active()) {
      delegate_.windowDidBecomeKey();
    } else {
      delegate_.windowDidResignKey();
    }
  });
  placement_.setNeverFocused(window_.gobj());
}

VideoCallWindowGtk::~VideoCallWindowGtk() { window_.set_visible(false); }

VideoCallWindowFactory VideoCallWindowGtk::factory(Context context) {
  return [context](const VideoCallWindowSetup& setup, VideoCallViewModel& model, VideoCallActions actions,
                   VideoCallWindowDelegate& delegate) -> std::unique_ptr<VideoCallWindowSurface> {
    return std::make_unique<VideoCallWindowGtk>(context, setup, model, std::move(actions), delegate);
  };
}

void VideoCallWindowGtk::setDarkMode(bool dark) {
  setWidgetCss(window_, "window { background-color: " +
                            cssColor(dark ? Rgba::of255(14, 6, 32) : Rgba::of255(245, 245, 248)) + "; }");
}

void VideoCallWindowGtk::orderFront() { placement_.orderFrontWithoutActivating(window_.gobj()); }

void VideoCallWindowGtk::bringToFront() { placement_.orderFrontWithoutActivating(window_.gobj()); }

void VideoCallWindowGtk::setElevated(bool elevated) { placement_.setKeepAbove(window_.gobj(), elevated); }

void VideoCallWindowGtk::close() {
  if (closing_) return;
  closing_ = true;
  window_.set_visible(false);
  delegate_.windowWillClose();
}

std::uint64_t VideoCallWindowGtk::windowNumber() const { return x11NumberOf(window_); }

VideoPiPPanelGtk::VideoPiPPanelGtk(const Context& context, const VideoPiPSetup& setup, VideoCallViewModel& model,
                                   VideoPiPActions actions)
    : placement_(context.placement) {
  window_.set_title("Orvik");
  window_.set_name("video-pip-panel");
  window_.set_decorated(false);
  window_.set_resizable(true);
  window_.set_default_size(static_cast<int>(setup.frame.width), static_cast<int>(setup.frame.height));
  view_ = Gtk::make_managed<VideoPiPView>(
      model, VideoPiPView::Actions{std::move(actions.onExpand), std::move(actions.onMute), std::move(actions.onEnd)},
      context.cameraSource, context.defaultAvatarURL);
  view_->set_size_request(static_cast<int>(kPiPMinimumSize.width), static_cast<int>(kPiPMinimumSize.height));
  // Dragging anywhere on the picture moves the panel.
  auto* handle = Gtk::make_managed<Gtk::WindowHandle>();
  handle->set_child(*view_);
  window_.set_child(*handle);
  setWidgetCss(window_, "window { background-color: transparent; }");
  placement_.setNeverFocused(window_.gobj());
  placement_.setKeepAbove(window_.gobj(), true);
  placement_.setOnAllDesktops(window_.gobj(), true);
  placement_.moveToWorkAreaTopRight(window_.gobj(), static_cast<int>(kPiPMargin));
}

VideoPiPPanelGtk::~VideoPiPPanelGtk() { window_.set_visible(false); }

VideoPiPFactory VideoPiPPanelGtk::factory(Context context) {
  return [context](const VideoPiPSetup& setup, VideoCallViewModel& model,
                   VideoPiPActions actions) -> std::unique_ptr<VideoPiPSurface> {
    return std::make_unique<VideoPiPPanelGtk>(context, setup, model, std::move(actions));
  };
}

void VideoPiPPanelGtk::orderFront() { placement_.orderFrontWithoutActivating(window_.gobj()); }

void VideoPiPPanelGtk::orderOut() { window_.set_visible(false); }

std::uint64_t VideoPiPPanelGtk::windowNumber() const { return x11NumberOf(window_); }

}  // namespace orvik
