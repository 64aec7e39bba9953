// Keeping the session awake: while an inhibition is held the machine does not
// suspend, and with `inhibit` the screen does not blank or lock for idleness
// either (a call). A voice note being recorded holds only `inhibitSuspend`:
// the user may still walk away and have the screen lock. The Linux backend
// asks GTK (which asks the session manager or the inhibit portal) on behalf
// of a window.
//
// THREAD-SAFETY: main queue only.
#pragma once

#include <functional>
#include <memory>
#include <string>

typedef struct _GtkWindow GtkWindow;

namespace orvik::platform {

class DisplaySleepInhibitor {
 public:
  virtual ~DisplaySleepInhibitor() = default;
  // Holds an inhibition, `reason` shown by the session; the cookie ends it.
  // 0 when none could be held (no GTK application, a refusing session).
  virtual unsigned inhibit(const std::string& reason) = 0;
  // The same for suspend only: the screen may still blank and lock.
  virtual unsigned inhibitSuspend(const std::string& reason) = 0;
  // Ends the inhibition `cookie`; 0 does nothing.
  virtual void uninhibit(unsigned cookie) = 0;
};

// GTK's inhibit of the default GtkApplication, on behalf of the window
// `window` gives (may give none).
std::unique_ptr<DisplaySleepInhibitor> makeGtkDisplaySleepInhibitor(std::function<GtkWindow*()> window);

}  // namespace orvik::platform
