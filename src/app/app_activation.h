// What happens when the program loses and regains the user's focus: the page
// is told, the badge cleared, the web application reloaded after it stayed in
// the background for long (never during a call), the main window brought back
// when the program is activated without one, and the notification banner
// re-checked. The program counts as active while any of its windows is the
// active one; focus moving between two of its windows is no change (the
// windows' reports are folded over a short debounce).
//
//   AppActivation activation(collaborators);
//   activation.windowActivityChanged(anyWindowActive);   // from each window
//
// Owner: the application. THREAD-SAFETY: main queue only.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/dispatch/clock.h"
#include "platform/dispatch/task_queue.h"
#include "platform/page_call.h"

namespace orvik {

namespace platform {
class UserDefaults;
}  // namespace platform

class AppActivation {
 public:
  static constexpr const char* kStaleReloadSecondsKey = "staleReloadSeconds";
  static constexpr double kDefaultStaleReloadSeconds = 7200;
  // Long enough for focus to pass from one of the program's windows to another.
  static constexpr double kActivityDebounceSeconds = 0.15;

  struct Collaborators {
    platform::TaskQueue& queue;
    platform::Clock& clock;
    platform::UserDefaults& defaults;
    std::function<std::weak_ptr<platform::PageScriptSink>()> page;
    std::function<bool()> isCallActive;
    std::function<void()> clearBadge;
    // Reads the notification settings and shows or dismisses the banner.
    std::function<void()> checkNotificationBanner;
    // Whether the main window is on screen (shown and not minimised).
    std::function<bool()> isMainWindowShown;
    // Brings the main window forward; false when there is none.
    std::function<bool()> restoreMainWindow;
    // Reloads the main page; false when there is no web view to reload.
    std::function<bool()> reloadPage;
  };

  explicit AppActivation(Collaborators collaborators);

  // One of the program's windows gained or lost the focus; `anyActive` says
  // whether any of them holds it now.
  void windowActivityChanged(bool anyActive);
  bool isActive() const { return active_; }

  void applicationDidResignActive();
  void applicationDidBecomeActive();
  void reloadIfStale(const std::string& reason);

  double staleThresholdSeconds() const;
  // "119s", "2m": how long the program was in the background.
  static std::string elapsedText(double seconds);

 private:
  Collaborators c_;
  bool active_ = false;
  bool reported_ = false;
  std::shared_ptr<platform::WorkItem> pendingReport_;
  std::optional<platform::Clock::WallTime> lostFocusAt_;
  std::shared_ptr<platform::WorkItem> staleReloadTask_;
  bool alreadyReloadedWhileUnfocused_ = false;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace orvik
