// The real signal source and launcher of the installer hand-off: the
// installer's installProgress and updateResult signals on the session bus
// (object /com/orvik/desk/Installer, interface com.orvik.desk.Installer, one
// a{sv} argument each), and a launcher that starts the installer detached
// in a session of its own.
//
// THREAD-SAFETY: main queue; signals are handed to the queue given at
// construction, and none arrives after unsubscribe() or destruction.
#pragma once

#include <memory>

#include "updater/installer_handoff.h"

typedef struct _GDBusConnection GDBusConnection;

namespace orvik {

class DbusInstallerSignals : public InstallerSignalSource {
 public:
  // `bus` null: the session bus, got when subscribing.
  explicit DbusInstallerSignals(platform::TaskQueue& queue, GDBusConnection* bus = nullptr);
  ~DbusInstallerSignals() override;
  void subscribe(InstallerSignalObserver& observer) override;
  void unsubscribe() override;

 private:
  struct Delivery;
  platform::TaskQueue& queue_;
  GDBusConnection* bus_ = nullptr;
  unsigned subscription_ = 0;
  std::shared_ptr<Delivery> delivery_;
};

class SpawnInstallerLauncher : public InstallerLauncher {
 public:
  bool exists(const std::filesystem::path& program) override;
  bool launch(const std::filesystem::path& program) override;
};

}  // namespace orvik
