#include "calls/windows/audio_call_window_gtk.h"

#include "calls/screens/call_colors.h"
#include "calls/screens/call_screen_css.h"
#include "calls/windows/native_audio_call_window.h"
#include "platform/window_placement.h"

namespace orvik {

AudioCallWindowGtk::AudioCallWindowGtk(const Context& context, const AudioCallWindowSetup& setup,
                                       AudioCallViewModel& model, AudioCallActions actions,
                                       AudioCallWindowDelegate& delegate)
    : placement_(context.placement), delegate_(delegate) {
  window_.set_title(setup.title);
  window_.set_name("audio-call-window");
  window_.set_default_size(NativeAudioCallWindow::kWidth, NativeAudioCallWindow::kHeight);
  window_.set_resizable(true);
  window_.set_hide_on_close(true);
  // Linux cannot keep a window out of other programs' screen captures:
  // `setup.capturable` has nothing to switch here.
  view_ = Gtk::make_managed<AudioCallView>(model, context.strings, std::move(actions), context.view);
  view_->set_size_request(NativeAudioCallWindow::kMinimumSide, NativeAudioCallWindow::kMinimumSide);
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

AudioCallWindowGtk::~AudioCallWindowGtk() { window_.set_visible(false); }

AudioCallWindowFactory AudioCallWindowGtk::factory(Context context) {
  return [context](const AudioCallWindowSetup& setup, AudioCallViewModel& model, AudioCallActions actions,
                   AudioCallWindowDelegate& delegate) -> std::unique_ptr<AudioCallWindowSurface> {
    return std::make_unique<AudioCallWindowGtk>(context, setup, model, std::move(actions), delegate);
  };
}

void AudioCallWindowGtk::setDarkMode(bool dark) {
  setWidgetCss(window_, "window { background-color: " +
                            cssColor(dark ? callcolors::audioBackground : Rgba::of255(245, 245, 248)) + "; }");
}

void AudioCallWindowGtk::orderFront() { placement_.orderFrontWithoutActivating(window_.gobj()); }

void AudioCallWindowGtk::raiseAboveAppWindows() { placement_.orderFrontWithoutActivating(window_.gobj()); }

void AudioCallWindowGtk::setElevated(bool elevated) { placement_.setKeepAbove(window_.gobj(), elevated); }

void AudioCallWindowGtk::close() {
  if (closing_) return;
  closing_ = true;
  window_.set_visible(false);
  delegate_.windowWillClose();
}

}  // namespace orvik
