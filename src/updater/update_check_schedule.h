// When the program checks for updates on its own: once 2 s after the main
// window's content comes on screen, then every 1800 s for the life of the
// process, and each time the application becomes active. All silent.
//
//   UpdateCheckSchedule schedule(mainQueue(), [&] { updates.checkForUpdates(true); });
//   schedule.start();                        // the window is shown
//   schedule.applicationBecameActive();      // focus came back
//
// THREAD-SAFETY: main queue only.
#pragma once

#include <functional>
#include <memory>

#include "platform/dispatch/repeating_timer.h"
#include "platform/dispatch/task_queue.h"

namespace orvik {

class UpdateCheckSchedule {
 public:
  static constexpr double kFirstCheckDelay = 2.0;
  static constexpr double kCheckInterval = 1800.0;

  UpdateCheckSchedule(platform::TaskQueue& queue, std::function<void()> silentCheck);
  ~UpdateCheckSchedule();
  UpdateCheckSchedule(const UpdateCheckSchedule&) = delete;
  UpdateCheckSchedule& operator=(const UpdateCheckSchedule&) = delete;

  // Once; later calls do nothing (one main window, one schedule).
  void start();
  void applicationBecameActive();

 private:
  platform::TaskQueue& queue_;
  std::shared_ptr<std::function<void()>> check_;
  std::unique_ptr<platform::RepeatingTimer> timer_;
};

}  // namespace orvik
