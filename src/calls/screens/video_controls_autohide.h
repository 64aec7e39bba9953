// When the video call window's controls (the bar, the callee chip and the
// status pill) show: 15 s after the window is shown or the pointer comes in,
// 5 s after the pointer leaves, and a click on the picture toggles them.
// Each schedule replaces the pending hide, so a pointer that leaves and comes
// back within 5 s moves the hide to 15 s after its return. Hiding by click
// leaves a pending hide in place; when it fires the controls stay hidden.
//
//   VideoControlsAutoHide hide(platform::mainQueue(), [&](bool shown) { fade(shown); });
//   hide.viewShown();
//
// THREAD-SAFETY: main queue only; the hide runs on the queue it was given.
#pragma once

#include <functional>
#include <memory>

namespace orvik {

namespace platform {
class TaskQueue;
class WorkItem;
}  // namespace platform

class VideoControlsAutoHide {
 public:
  static constexpr double kShownSeconds = 15.0;
  static constexpr double kAfterLeaveSeconds = 5.0;

  // `changed` runs with the new value whenever the controls show or hide.
  VideoControlsAutoHide(platform::TaskQueue& queue, std::function<void(bool shown)> changed);
  ~VideoControlsAutoHide();
  VideoControlsAutoHide(const VideoControlsAutoHide&) = delete;
  VideoControlsAutoHide& operator=(const VideoControlsAutoHide&) = delete;

  bool controlsShown() const { return shown_; }
  bool hidePending() const;

  void viewShown();
  void pointerEntered();
  void pointerLeft();
  // A click that no control took.
  void clicked();

 private:
  void showAndSchedule();
  void scheduleHide(double seconds);
  void setShown(bool shown);

  platform::TaskQueue& queue_;
  std::function<void(bool)> changed_;
  bool shown_ = true;
  std::shared_ptr<platform::WorkItem> hideTask_;
};

}  // namespace orvik
