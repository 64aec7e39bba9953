#include "app/system_lock_observer.h"

#include "core/native_logger.h"
#include "platform/dispatch/task_queue.h"
#include "platform/queue_checker.h"

namespace orvik {
namespace {

using platform::SessionEvent;

enum class Effect { lock, sleep, unlockCheck };

struct EventMeaning {
  const char* reason;
  Effect effect;
};

EventMeaning meaningOf(SessionEvent event) {
  switch (event) {
    case SessionEvent::sessionResignedActive: return {"session resigned active", Effect::lock};
    case SessionEvent::sessionBecameActive: return {"session became active", Effect::unlockCheck};
    case SessionEvent::screenLocked: return {"screen locked", Effect::lock};
    case SessionEvent::screenUnlocked: return {"screen unlocked", Effect::unlockCheck};
    case SessionEvent::screensaverStarted: return {"screensaver started", Effect::lock};
    case SessionEvent::screensaverStopped: return {"screensaver stopped", Effect::unlockCheck};
    case SessionEvent::systemSleeping: return {"system sleeping", Effect::sleep};
    case SessionEvent::systemWoke: return {"system woke", Effect::unlockCheck};
  }
  return {"unknown session event", Effect::unlockCheck};
}

}  // namespace

SystemLockObserver::SystemLockObserver(Collaborators collaborators) : collaborators_(std::move(collaborators)) {}

void SystemLockObserver::start(std::unique_ptr<platform::SessionMonitor> monitor) {
  ORVIK_ASSERT_ON_QUEUE(collaborators_.queue);
  if (monitor_ || !monitor) return;
  monitor_ = std::move(monitor);
  monitor_->start([this](SessionEvent event) { handle(event); });
}

void SystemLockObserver::handle(SessionEvent event) {
  ORVIK_ASSERT_ON_QUEUE(collaborators_.queue);
  const EventMeaning meaning = meaningOf(event);
  switch (meaning.effect) {
    case Effect::lock:
      setSystemLocked(true, false, meaning.reason);
      return;
    case Effect::sleep:
      setSystemLocked(true, true, meaning.reason);
      return;
    case Effect::unlockCheck:
      scheduleUnlockCheck(meaning.reason);
      return;
  }
}

void SystemLockObserver::scheduleUnlockCheck(std::string reason) {
  collaborators_.queue.postAfter(kUnlockCheckDelay, [weak = lifetime_.weak(this), reason = std::move(reason)] {
    auto* self = weak.get();
    if (!self) return;
    if (self->collaborators_.isApplicationActive && self->collaborators_.isApplicationActive()) {
      self->setSystemLocked(false, false, reason + " [Orvik active → online]");
    } else {
      self->setSystemLocked(true, false, reason + " [Orvik not frontmost → stay offline]");
    }
  });
}

void SystemLockObserver::setSystemLocked(bool locked, bool sleep, const std::string& reason) {
  ORVIK_ASSERT_ON_QUEUE(collaborators_.queue);
  const std::string script = locked ? platform::pageFunctionCall("__setSystemLockedFromNative",
                                                                 {true, sleep ? "sleep" : "lock"})
                                    : platform::pageFunctionCall("__setSystemLockedFromNative", {false});
  if (collaborators_.page) platform::callPage(collaborators_.page(), script);
  const std::string line = std::string(locked ? "🔒" : "🔓") + " [SystemLock] " + reason + " → " +
                           (locked ? (sleep ? "locked(sleep)" : "locked") : "unlocked");
  if (collaborators_.log) {
    collaborators_.log(line);
  } else {
    nativeLog(line);
  }
}

}  // namespace orvik
