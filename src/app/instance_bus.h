// The running instance on the session bus. The primary instance owns the
// application's bus name (GApplication uniqueness) and exports, on the
// application's object path, the interface "com.orvik.desk.Instance":
//   GetVersion() -> (s)   its short version
//   Quit()                quits through the program's normal quit path
// A newly launched copy reads the version through `InstanceBusChannel` before
// it registers, to decide whether it takes over or hands back.
//
// THREAD-SAFETY: main thread. The channel blocks (it runs before the main
// loop); the exported object answers on the main context.
#pragma once

#include <functional>
#include <string>
#include <sys/types.h>

#include "app/instance_settler.h"

typedef struct _GDBusConnection GDBusConnection;

namespace orvik {

inline constexpr const char* kInstanceInterface = "com.orvik.desk.Instance";

// "/com/orvik/desk" for "com.orvik.desk", as GApplication derives it.
std::string applicationObjectPath(const std::string& applicationId);

class InstanceBusChannel final : public RunningInstanceChannel {
 public:
  explicit InstanceBusChannel(std::string applicationId);
  ~InstanceBusChannel() override;

  std::optional<OtherInstance> findOther() override;
  void askToQuit() override;
  bool waitForExit(double seconds) override;
  void forceTerminate() override;

 private:
  std::string applicationId_;
  GDBusConnection* connection_ = nullptr;
  std::string owner_;  // the other instance's unique bus name
  pid_t pid_ = 0;
};

// Exports the interface on `connection`; returns the registration id (0 on
// failure). `onQuit` runs on the main context.
unsigned exportInstanceObject(GDBusConnection* connection, const std::string& objectPath, std::string version,
                              std::function<void()> onQuit);
void unexportInstanceObject(GDBusConnection* connection, unsigned registrationId);

}  // namespace orvik
