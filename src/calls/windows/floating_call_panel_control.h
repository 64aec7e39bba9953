// What the call windows ask of the floating return-to-call panel: hide it
// while a call window is in front, let it show itself when one goes behind
// the main window, and keep it from showing itself while a call window's
// dialog is open.
//
// THREAD-SAFETY: main queue only.
#pragma once

namespace orvik {

class FloatingCallPanelControl {
 public:
  virtual ~FloatingCallPanelControl() = default;
  virtual void hide() = 0;
  virtual void showIfNeeded() = 0;
  virtual void setSuppressAutoShow(bool suppressed) = 0;
};

// The program's panel is NativeCallFloatingPanel; this one does nothing, for
// the tests of a call window on its own.
class NoFloatingCallPanel final : public FloatingCallPanelControl {
 public:
  void hide() override {}
  void showIfNeeded() override {}
  void setSuppressAutoShow(bool) override {}
};

}  // namespace orvik
