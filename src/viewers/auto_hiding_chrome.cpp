#include "viewers/auto_hiding_chrome.h"

#include <utility>

#include "platform/queue_checker.h"

namespace orvik {

AutoHidingChrome::AutoHidingChrome(platform::TaskQueue& queue, Surface surface)
    : queue_(queue), surface_(std::move(surface)) {}

AutoHidingChrome::~AutoHidingChrome() {
  if (hideWork_) hideWork_->cancel();
}

void AutoHidingChrome::showChrome() {
  ORVIK_ASSERT_ON_QUEUE(queue_);
  if (hideWork_) hideWork_->cancel();
  if (!chromeVisible_) {
    chromeVisible_ = true;
    if (surface_.setChromeVisible) surface_.setChromeVisible(true);
  }
  scheduleChromeHide(kIdleDelay);
}

void AutoHidingChrome::scheduleChromeHide(double delay) {
  ORVIK_ASSERT_ON_QUEUE(queue_);
  if (hideWork_) hideWork_->cancel();
  // The item dies with this object's cancellation in the destructor.
  hideWork_ = std::make_shared<platform::WorkItem>([this] { hideChrome(); });
  queue_.postAfter(delay, hideWork_);
}

void AutoHidingChrome::hideChrome() {
  if (!chromeVisible_) return;
  if (surface_.pointerOverChrome && surface_.pointerOverChrome()) {
    scheduleChromeHide(kIdleDelay);
    return;
  }
  chromeVisible_ = false;
  if (surface_.setChromeVisible) surface_.setChromeVisible(false);
}

}  // namespace orvik
