// One running instance: when another instance of the program already runs,
// a newer copy takes over from it and an equal or older copy hands back to it
// (which then shows its main window). Taking over asks the old instance to
// quit through its own quit path, so a call in progress is hung up properly;
// it is ended by force only when it has not gone after a grace period.
//
// THREAD-SAFETY: main thread, before the application's main loop runs.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "app/app_delegate.h"

namespace orvik {

struct OtherInstance {
  std::string version;  // its short version; empty when it did not say
  std::optional<std::string> path;  // its program's path, when known
};

// How this copy reaches the other running instance. The production one speaks
// D-Bus (instance_bus.h); tests use a fake.
class RunningInstanceChannel {
 public:
  virtual ~RunningInstanceChannel() = default;
  virtual std::optional<OtherInstance> findOther() = 0;
  // Asks it to quit through its normal quit path; does not wait.
  virtual void askToQuit() = 0;
  // Waits up to `seconds` for it to be gone; true when it is.
  virtual bool waitForExit(double seconds) = 0;
  virtual void forceTerminate() = 0;
};

// Compares versions as text, with runs of digits compared as numbers:
// "1.10" orders after "1.9". Negative, zero or positive like strcmp.
int compareVersionsNumerically(std::string_view a, std::string_view b);

class InstanceSettler {
 public:
  // Longer than the quit path's wait after hanging up a call (1.6 s).
  static constexpr double kGracefulQuitTimeout = 3.0;
  static constexpr double kForcedQuitTimeout = 2.0;

  InstanceSettler(RunningInstanceChannel& channel, std::string ownVersion);
  [[nodiscard]] InstanceSettlement settle();

 private:
  RunningInstanceChannel& channel_;
  std::string ownVersion_;
};

}  // namespace orvik
