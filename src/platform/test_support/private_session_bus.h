// A D-Bus session bus of one test's own: a dbus-daemon with no service files
// (nothing is ever activated behind the test's back), made the process's
// session bus through DBUS_SESSION_BUS_ADDRESS. GIO keeps the first session
// bus connection it makes, so create this before anything in the process
// touches the session bus; ctest runs every test case in its own process.
#pragma once

#include <string>

#include "platform/test_support/scoped_environment.h"
#include "platform/test_support/temp_dir.h"

namespace orvik::testing {

class PrivateSessionBus {
 public:
  PrivateSessionBus();
  ~PrivateSessionBus();  // stops the daemon
  PrivateSessionBus(const PrivateSessionBus&) = delete;
  PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;

  // Empty when the daemon could not be started.
  const std::string& address() const { return address_; }

  // Starts gnome-keyring-daemon's Secret Service on this bus with an
  // unlocked login keyring under the current HOME. The daemon leaves when
  // the bus does. False when it could not be started.
  bool startUnlockedKeyring();

  // Whether GIO's session bus connection of this process is this bus (and
  // not one an earlier test in the same process left behind).
  bool isProcessSessionBus() const;

  // Waits until `name` has an owner on this bus; false if the bus is gone or
  // nobody took the name within a minute.
  bool waitForName(const std::string& name);

 private:
  TempDir dir_;
  ScopedEnvironment environment_;
  int pid_ = -1;
  std::string address_;
};

}  // namespace orvik::testing
