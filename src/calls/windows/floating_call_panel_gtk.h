// The floating return-to-call panel's GTK window and its card
// (FloatingCallPanelView): a borderless 320 × 68 window at the top right of
// the work area, above other windows, on every desktop and never taking the
// focus, holding a rounded card with the other party's avatar, name, call
// type and duration text on the left (a click there returns to the call)
// and small round buttons on the right: mute, camera for video calls, hang
// up (FloatingPanelBtn). It renders the controller's model and turns clicks
// into the controller's actions.
//
//   FloatingPanelFactory factory = FloatingCallPanelGtk::factory({placement, strings, avatarURL});
//
// Owner: NativeCallFloatingPanel (through its surface). THREAD-SAFETY: main
// thread only.
#pragma once

#include <string>
#include <vector>

#include <gtkmm/box.h>
#include <gtkmm/button.h>
#include <gtkmm/label.h>
#include <gtkmm/window.h>

#include "calls/windows/native_call_floating_panel.h"

namespace orvik {

class CallAvatarView;
class CallIcon;
class CallStrings;
namespace platform {
class WindowPlacement;
}

// One round button of the control row: 32 × 32, shrinking to 0.91 while
// pressed; an inactive, non-danger one brightens under the pointer.
class FloatingPanelBtn : public Gtk::Button {
 public:
  explicit FloatingPanelBtn(std::function<void()> action);
  void render(const FloatingPanelButton& button, bool isDarkMode);
  const FloatingPanelButton& button() const { return button_; }

 private:
  void restyle();

  FloatingPanelButton button_{FloatingPanelButtonKind::mute, "", false, false};
  bool isDarkMode_ = true;
  CallIcon* icon_;
};

class FloatingCallPanelView : public Gtk::Box {
 public:
  FloatingCallPanelView(FloatingCallPanelModel& model, const CallStrings& strings, FloatingPanelActions actions,
                        const std::string& defaultAvatarURL);

  Gtk::Button& returnArea() { return *returnArea_; }
  // The shown buttons of the control row, in order.
  std::vector<FloatingPanelBtn*> shownButtons();
  FloatingPanelBtn& muteButton() { return *mute_; }
  FloatingPanelBtn& cameraButton() { return *camera_; }
  FloatingPanelBtn& hangUpButton() { return *hangUp_; }

 private:
  void render();

  FloatingCallPanelModel& model_;
  const CallStrings& strings_;
  FloatingPanelActions actions_;
  Gtk::Button* returnArea_;
  CallAvatarView* avatar_;
  Gtk::Label name_;
  Gtk::Box typeRow_{Gtk::Orientation::HORIZONTAL, 3};
  CallIcon* typeIcon_;
  Gtk::Label typeText_;
  Gtk::Label timer_;
  Gtk::Box separator_;
  FloatingPanelBtn* mute_;
  FloatingPanelBtn* camera_;
  FloatingPanelBtn* hangUp_;
  platform::Subscription modelSeen_;
};

class FloatingCallPanelGtk final : public FloatingPanelSurface {
 public:
  struct Context {
    platform::WindowPlacement& placement;
    const CallStrings& strings;
    std::string defaultAvatarURL;
  };
  static constexpr const char* kTitle = "Orvik – Return to Call";

  FloatingCallPanelGtk(const Context& context, const FloatingPanelSpec& windowSpec, FloatingCallPanelModel& model,
                       FloatingPanelActions actions);
  ~FloatingCallPanelGtk() override;

  static FloatingPanelFactory factory(Context context);

  void orderFront() override;
  void orderOut() override;
  void setDarkMode(bool dark) override;
  void close() override;

  Gtk::Window& window() { return window_; }
  FloatingCallPanelView& view() { return *view_; }

 private:
  platform::WindowPlacement& placement_;
  int margin_;
  Gtk::Window window_;
  FloatingCallPanelView* view_;
};

}  // namespace orvik
