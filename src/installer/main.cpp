// orvik-installer: runs the one install job the application left for it,
// reports on the session bus and quits after its result. It opens no window;
// a refused signature is reported to the application, which shows it.
#include <unistd.h>

#include <glib.h>

#include "installer/dbus_notifier.h"
#include "installer/install_sequence.h"
#include "installer/installer_paths.h"
#include "installer/update_package.h"

#ifndef ORVIK_UPDATE_PUBLIC_KEY_HEX
#define ORVIK_UPDATE_PUBLIC_KEY_HEX ""
#endif

int main() {
  using namespace orvik::installer;
  auto folders = environmentFolders();
  InstallerLog log(installerLogPath(folders));
  log.write("🟢 [Installer] Helper launched, PID=" + std::to_string(getpid()));

  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  DbusNotifier notifier(bus, log);
  PkexecElevator elevator;
  ProcAppProcesses processes;
  InstallContext context{log, notifier, elevator, processes, bytesFromHex(ORVIK_UPDATE_PUBLIC_KEY_HEX),
                         pendingUpdateFolder(folders), g_get_tmp_dir(), {}};
  auto outcome = runInstallJob(context);
  if (bus) {
    g_dbus_connection_flush_sync(bus, nullptr, nullptr);
    g_object_unref(bus);
  }
  return outcome == InstallOutcome::installed ? 0 : 1;
}
