// NativeVideoPiP: the controller of the video call's picture-in-picture
// panel, the small floating panel at the top right of the work area that
// carries a video call on while its window is hidden behind others. It may
// show only while a video call window exists (markActive … close) and the
// call has not ended; it is built on the first showIfActive, hidden and shown
// again by hide and showIfActive, and destroyed by close. Its buttons mute,
// return to the call window (expand) and end the call.
//
//   auto pip = NativeVideoPiP::create({calls, model, returnToCall, workArea, VideoPiPPanelGtk::factory(…)});
//   pip->markActive();   // the video call window was built
//   pip->showIfActive(); // the floating panel saw the window go behind
//
// Owner: the composition root (beside NativeVideoCallWindow, whose model it
// shows). THREAD-SAFETY: every operation may be called from any thread; the
// work runs on the main queue while the controller exists.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "calls/windows/video_call_window_surface.h"

namespace orvik {

class CallControl;
class VideoCallViewModel;

class NativeVideoPiP final : public std::enable_shared_from_this<NativeVideoPiP> {
 public:
  struct Collaborators {
    CallControl& calls;
    VideoCallViewModel& model;
    // Brings the call windows back (the floating panel's return to call).
    std::function<void()> returnToCall;
    // The work area of the screen; an empty rectangle when not known.
    std::function<StageRect()> workArea;
    // Read when the panel is built.
    std::function<bool()> capturable;
    VideoPiPFactory makePanel;
  };

  static std::shared_ptr<NativeVideoPiP> create(Collaborators collaborators);
  NativeVideoPiP(const NativeVideoPiP&) = delete;
  NativeVideoPiP& operator=(const NativeVideoPiP&) = delete;

  void markActive();
  void close();
  void showIfActive();
  void hide();

  bool isActive() const { return isActive_; }
  bool hasPanel() const { return panel_ != nullptr; }
  bool isShown() const { return panel_ && panel_->isShown(); }
  // 0 without a panel.
  std::uint64_t windowNumber() const { return panel_ ? panel_->windowNumber() : 0; }

 private:
  explicit NativeVideoPiP(Collaborators collaborators) : c_(std::move(collaborators)) {}
  void onMain(std::function<void(NativeVideoPiP&)> step);
  VideoPiPActions makeActions();

  Collaborators c_;
  bool isActive_ = false;
  std::unique_ptr<VideoPiPSurface> panel_;
};

}  // namespace orvik
