// The incoming-call panel's GTK window: the caller's picture with its ring,
// name and OrvikID, the audio badge or the camera-preview area, and the
// Decline and Accept buttons. It renders the panel's identity box and turns
// clicks into the panel's actions; the panel decides everything else.
//
//   IncomingCallPanelFactory factory = IncomingCallPanelGtk::factory({placement, strings, avatarURL, badgeURL});
//
// Owner: IncomingCallPanel (through its surface). THREAD-SAFETY: main thread.
#pragma once

#include <string>

#include <gtkmm/box.h>
#include <gtkmm/button.h>
#include <gtkmm/label.h>
#include <gtkmm/spinner.h>
#include <gtkmm/window.h>

#include "calls/screens/call_colors.h"
#include "calls/screens/camera_preview_view.h"
#include "calls/windows/incoming_call_panel.h"

namespace orvik {

class CallAvatarView;
class CallStrings;
namespace platform {
class WindowPlacement;
}

class IncomingCallPanelGtk final : public IncomingCallPanelSurface {
 public:
  struct Context {
    platform::WindowPlacement& placement;
    const CallStrings& strings;
    std::string defaultAvatarURL;
  };

  IncomingCallPanelGtk(const Context& context, const IncomingCallPanelSpec& windowSpec, IncomingCallIdentityBox& identity,
                       IncomingCallPanelActions actions, IncomingCallPanelDelegate& delegate);
  ~IncomingCallPanelGtk() override;

  static IncomingCallPanelFactory factory(Context context);

  void reveal(bool capturable) override;
  void close() override;

  Gtk::Window& window() { return window_; }
  Gtk::Button& acceptButton() { return *accept_; }
  Gtk::Button& declineButton() { return *decline_; }

 private:
  void render();
  Gtk::Button* makeCircleButton(const std::string& symbol, const Rgba& colour, const std::string& caption,
                                const std::string& name, std::function<void()> action, Gtk::Box& row);

  platform::WindowPlacement& placement_;
  const CallStrings& strings_;
  IncomingCallIdentityBox& identity_;
  IncomingCallPanelDelegate& delegate_;
  bool isAudio_;
  int margin_;
  // Outlives the window, whose picture shows its paintable.
  CameraPreviewFeed previewFeed_;
  Gtk::Window window_;
  Gtk::Box column_{Gtk::Orientation::VERTICAL};
  CallAvatarView* avatar_ = nullptr;
  Gtk::Label name_;
  Gtk::Label orvikId_;
  Gtk::Box previewArea_;
  Gtk::Spinner previewSpinner_;
  CameraPreviewView* previewView_ = nullptr;
  Gtk::Button* accept_ = nullptr;
  Gtk::Button* decline_ = nullptr;
  platform::Subscription identitySeen_;
  bool closing_ = false;
};

}  // namespace orvik
