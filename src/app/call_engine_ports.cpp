#include "app/call_engine_ports.h"

#include <gtk/gtk.h>

#include "calls/control/native_call_manager.h"

namespace orvik {

bool ManagerCallControl::isCallActive() const { return manager_.isInCall(); }

void ManagerCallControl::hangUpCurrentCall() { manager_.hangUpCurrentCall(); }

MainWindowPlacement ShellCallWindows::mainWindowPlacement() {
  return mainWindow_ && mainWindow_() ? MainWindowPlacement::available : MainWindowPlacement::none;
}

void ShellCallWindows::presentMainWindow() {
  if (GtkWindow* window = mainWindow_ ? mainWindow_() : nullptr) gtk_window_present(window);
}

}  // namespace orvik
