#include "calls/screens/video_controls_autohide.h"

#include "platform/dispatch/task_queue.h"

namespace orvik {

VideoControlsAutoHide::VideoControlsAutoHide(platform::TaskQueue& queue, std::function<void(bool)> changed)
    : queue_(queue), changed_(std::move(changed)) {}

VideoControlsAutoHide::~VideoControlsAutoHide() {
  if (hideTask_) hideTask_->cancel();
}

bool VideoControlsAutoHide::hidePending() const { return hideTask_ && !hideTask_->isCancelled(); }

void VideoControlsAutoHide::setShown(bool shown) {
  if (shown_ == shown) return;
  shown_ = shown;
  if (changed_) changed_(shown);
}

void VideoControlsAutoHide::scheduleHide(double seconds) {
  if (hideTask_) hideTask_->cancel();
  // The item is cancelled when this goes, so the raw pointer never dangles.
  auto item = std::make_shared<platform::WorkItem>([this] {
    hideTask_.reset();
    setShown(false);
  });
  hideTask_ = item;
  queue_.postAfter(seconds, item);
}

void VideoControlsAutoHide::showAndSchedule() {
  setShown(true);
  scheduleHide(kShownSeconds);
}

void VideoControlsAutoHide::viewShown() { showAndSchedule(); }

void VideoControlsAutoHide::pointerEntered() { showAndSchedule(); }

void VideoControlsAutoHide::pointerLeft() { scheduleHide(kAfterLeaveSeconds); }

void VideoControlsAutoHide::clicked() {
  if (shown_) {
    setShown(false);
  } else {
    showAndSchedule();
  }
}

}  // namespace orvik
