// Keeping the session awake: while an inhibition is held the screen does not
// blank and the machine does not suspend for idleness (a call, a voice note
// being recorded). The Linux backend asks GTK (which asks the session's
// org.freedesktop.ScreenSaver / logind) on behalf of a window.
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
  // Ends the inhibition `cookie`; 0 does nothing.
  virtual void uninhibit(unsigned cookie) = 0;
};

// GTK's inhibit of the default GtkApplication, on behalf of the window
// `window` gives (may give none).
std::unique_ptr<DisplaySleepInhibitor> makeGtkDisplaySleepInhibitor(std::function<GtkWindow*()> window);

}  // namespace orvik::platform
