// What the desktop session says about the user being at the machine: the
// screen locking and unlocking, the session going to the background (another
// user's session in front) and back, the screen saver, and system sleep.
//
// Linux backend (session_monitor_logind.cpp): logind on the system bus (this
// session's Lock/Unlock signals, its LockedHint and Active properties, the
// manager's PrepareForSleep) and the screen saver's ActiveChanged on the
// session bus (org.freedesktop.ScreenSaver, org.gnome.ScreenSaver) where a
// desktop publishes it. A bus or a session that cannot be reached leaves its
// events out; nothing else fails.
//
// THREAD-SAFETY: main queue only; events arrive on the main queue.
#pragma once

#include <functional>
#include <memory>

namespace orvik::platform {

enum class SessionEvent {
  sessionResignedActive,
  sessionBecameActive,
  screenLocked,
  screenUnlocked,
  screensaverStarted,
  screensaverStopped,
  systemSleeping,
  systemWoke,
};

class SessionMonitor {
 public:
  using Handler = std::function<void(SessionEvent event)>;
  virtual ~SessionMonitor() = default;
  // Starts watching; `handler` gets every event until the monitor is
  // destroyed. Once.
  virtual void start(Handler handler) = 0;
};

struct LogindSessionMonitorOptions {
  // Where logind is asked: the system bus; tests publish a stand-in on their
  // own session bus instead.
  bool logindOnSessionBus = false;
};

std::unique_ptr<SessionMonitor> makeLogindSessionMonitor(LogindSessionMonitorOptions options = {});

}  // namespace orvik::platform
