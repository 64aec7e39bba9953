// Tells the page when the user is away from the machine (screen locked,
// screen saver, sleep, another session in front) and when the user is back.
// Going away is told at once. Coming back is checked 0.4 s after the event
// and told as "back" only when this program is the active one then;
// otherwise the page hears "locked" again, so that a user who unlocks into
// another program still shows as away. Every event schedules its own check;
// several close events give several checks.
//
//   SystemLockObserver observer(collaborators);
//   observer.start(platform::makeLogindSessionMonitor());
//
// Owner: the launch steps, for the life of the process.
// THREAD-SAFETY: main queue only.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/lifetime_token.h"
#include "platform/page_call.h"
#include "platform/session_monitor.h"

namespace orvik {
namespace platform {
class TaskQueue;
}  // namespace platform

class SystemLockObserver {
 public:
  static constexpr double kUnlockCheckDelay = 0.4;

  struct Collaborators {
    platform::TaskQueue& queue;
    std::function<bool()> isApplicationActive;
    // The main web view's page as the shell reaches it; calls made while it
    // is empty are skipped.
    std::function<std::weak_ptr<platform::PageScriptSink>()> page;
    std::function<void(const std::string& line)> log;  // empty: nativeLog
  };

  explicit SystemLockObserver(Collaborators collaborators);
  SystemLockObserver(const SystemLockObserver&) = delete;
  SystemLockObserver& operator=(const SystemLockObserver&) = delete;

  // Keeps `monitor` and follows its events; once.
  void start(std::unique_ptr<platform::SessionMonitor> monitor);

  void handle(platform::SessionEvent event);
  // Calls the page's __setSystemLockedFromNative and logs the change.
  void setSystemLocked(bool locked, bool sleep, const std::string& reason);

 private:
  void scheduleUnlockCheck(std::string reason);

  Collaborators collaborators_;
  std::unique_ptr<platform::SessionMonitor> monitor_;
  // Posted work finds the object gone. Last member.
  platform::LifetimeToken lifetime_;
};

}  // namespace orvik
