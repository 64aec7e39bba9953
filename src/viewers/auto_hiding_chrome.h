// The overlay controls of a viewer window (the gallery's arrows) that fade
// out after 2.0 s without mouse movement over the window's content, and
// 0.4 s after the pointer leaves it; they come back on the next movement or
// entry. While the pointer rests on one of them they stay, and the check is
// made again every 2.0 s.
//
// The logic runs on a TaskQueue (virtual time in tests); the GTK side
// (attachAutoHidingChrome in viewer_window_chrome.h) feeds it the pointer
// and fades the widgets.
// THREAD-SAFETY: the given queue.
#pragma once

#include <functional>
#include <memory>

#include "platform/dispatch/task_queue.h"

namespace orvik {

class AutoHidingChrome {
 public:
  static constexpr double kIdleDelay = 2.0;
  static constexpr double kExitDelay = 0.4;

  struct Surface {
    // Whether the pointer is over any chrome view now.
    std::function<bool()> pointerOverChrome;
    // Fades every chrome view in (true) or out (false).
    std::function<void(bool visible)> setChromeVisible;
  };
  AutoHidingChrome(platform::TaskQueue& queue, Surface surface);
  ~AutoHidingChrome();
  AutoHidingChrome(const AutoHidingChrome&) = delete;
  AutoHidingChrome& operator=(const AutoHidingChrome&) = delete;

  // Movement or entry, and once right after the window is shown.
  void showChrome();
  void pointerExited() { scheduleChromeHide(kExitDelay); }
  void scheduleChromeHide(double delay);
  void hideChrome();
  bool chromeVisible() const { return chromeVisible_; }

 private:
  platform::TaskQueue& queue_;
  Surface surface_;
  std::shared_ptr<platform::WorkItem> hideWork_;
  bool chromeVisible_ = true;
};

}  // namespace orvik
