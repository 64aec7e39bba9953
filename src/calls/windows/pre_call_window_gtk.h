// The pre-call window in GTK: the audio layout (avatar, name, OrvikID line,
// status pill and a large controls bar in the middle of a dark window) or the
// video layout (the mirrored camera filling the window, or the avatar in its
// pulsing rings with a "Camera off" badge; the callee chip, the status pill
// at the top and a compact controls bar). It renders the controller's control
// state and camera box through presentPreCall and turns clicks into the
// controller's actions; it decides nothing itself.
//
//   PreCallWindowFactory factory = PreCallWindowGtk::factory({strings, defaultAvatarURL});
//
// Owner: NativePreCallWindow (through its surface). THREAD-SAFETY: main thread.
#pragma once

#include <memory>
#include <optional>
#include <vector>
#include <string>

#include <gtkmm/box.h>
#include <gtkmm/button.h>
#include <gtkmm/label.h>
#include <gtkmm/overlay.h>
#include <gtkmm/window.h>

#include "calls/windows/native_pre_call_window.h"
#include "calls/windows/pre_call_view_content.h"

namespace orvik {

class CallAvatarView;
class CallIcon;
class CallStrings;
class CameraPreviewFeed;
class CameraPreviewView;

// Three purple rings that grow and fade out behind the avatar, one after
// another, from the moment they are shown.
class PulsingRings : public Gtk::Widget {
 public:
  explicit PulsingRings(double baseSize);
  ~PulsingRings() override;

  // Seconds since the rings were last shown.
  double elapsed() const;

 protected:
  void measure_vfunc(Gtk::Orientation orientation, int forSize, int& minimum, int& natural, int& minimumBaseline,
                     int& naturalBaseline) const override;
  void snapshot_vfunc(const Glib::RefPtr<Gtk::Snapshot>& snapshot) override;
  void on_map() override;
  void on_unmap() override;

 private:
  double baseSize_;
  gint64 shownAt_ = 0;
  guint tick_ = 0;
};

class PreCallWindowGtk final : public PreCallWindowSurface {
 public:
  struct Context {
    const CallStrings& strings;
    std::string defaultAvatarURL;
  };

  PreCallWindowGtk(const Context& context, const PreCallWindowSpec& windowSpec, PreCallControlState& state,
                   CaptureSessionBox& camera, PreCallActions actions, PreCallWindowDelegate& delegate);
  ~PreCallWindowGtk() override;

  static PreCallWindowFactory factory(Context context);

  void present() override;
  void close() override;

  Gtk::Window& window() { return window_; }
  Gtk::Button& button(PreCallButton which);
  const PreCallViewContent& content() const { return content_; }

 private:
  struct ButtonView {
    Gtk::Button* button = nullptr;
    CallIcon* icon = nullptr;
  };

  Gtk::Box* buildStatusPill(bool large);
  Gtk::Box* buildControls(bool large, PreCallActions actions);
  Gtk::Box* buildCalleeChip();
  Gtk::Box* buildCameraOffCentre();
  void buildAudio(Gtk::Overlay& root, PreCallActions actions);
  void buildVideo(Gtk::Overlay& root, PreCallActions actions);
  void render();

  const CallStrings& strings_;
  PreCallWindowSpec spec_;
  PreCallControlState& state_;
  CaptureSessionBox& camera_;
  PreCallWindowDelegate& delegate_;
  std::string defaultAvatarURL_;
  PreCallViewContent content_;
  Gtk::Window window_;
  Gtk::Overlay* root_ = nullptr;  // the window owns it
  Gtk::Box* statusDot_ = nullptr;
  Gtk::Label* statusText_ = nullptr;
  Gtk::Label* orvikId_ = nullptr;
  Gtk::Widget* cameraOffCentre_ = nullptr;
  Gtk::Widget* calleeChip_ = nullptr;
  Gtk::Label* chipOrvikId_ = nullptr;
  ButtonView buttons_[4];
  std::unique_ptr<CameraPreviewFeed> feed_;
  CameraPreviewView* preview_ = nullptr;
  std::unique_ptr<PreCallDotCounter> dots_;
  platform::Subscription stateSeen_;
  platform::Subscription cameraSeen_;
  // What the status and the buttons were last styled for.
  std::optional<bool> styledEnding_;
  std::vector<PreCallButtonLook> styledButtons_;
  bool closing_ = false;
};

}  // namespace orvik
