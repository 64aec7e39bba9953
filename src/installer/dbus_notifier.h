// The installer's two notices as D-Bus signals on the session bus, sent
// with no destination from kNotifierObjectPath on kNotifierInterface:
//   installProgress (a{sv}): {"needsAdmin": b}
//   updateResult    (a{sv}): {"success": b} plus {"error": s} when there is one
// Each is logged before it goes out, and the connection is flushed after
// every signal, so a result is on the bus before the installer quits. A
// notice sent while nobody listens is lost, as with any signal.
//
// THREAD-SAFETY: one thread at a time.
#pragma once

#include <gio/gio.h>

#include "installer/installer_services.h"

namespace orvik::installer {

inline constexpr const char* kNotifierObjectPath = "/com/orvik/desk/Installer";
inline constexpr const char* kNotifierInterface = "com.orvik.desk.Installer";

class DbusNotifier : public InstallerNotifier {
 public:
  // `bus` may be null (no session bus): the notices are only logged.
  DbusNotifier(GDBusConnection* bus, InstallerLog& log);
  ~DbusNotifier() override;
  void sendProgress(bool needsAdmin) override;
  void sendResult(bool success, const std::optional<std::string>& error) override;

 private:
  void emit(const char* name, GVariant* userInfo);
  GDBusConnection* bus_;
  InstallerLog& log_;
};

}  // namespace orvik::installer
