// Registers the program to start at login on its first run, and keeps that
// registration pointing at the copy running now: an enabled entry made by
// another copy (another install folder) is removed and made anew. The user's
// word stands: once registered, an entry the user switched off or removed
// stays so, whichever copy runs. A program run from a build tree (not an
// installed copy) registers nothing. Every line is logged with the tag
// "LOGIN-ITEM".
// THREAD-SAFETY: main queue, during start-up.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "platform/login_item.h"
#include "platform/user_defaults.h"

namespace orvik {

class LaunchAtLoginManager {
 public:
  static constexpr const char* lastRegisteredPathKey = "LaunchAtLoginManager.lastRegisteredPath";
  static constexpr const char* logTag = "LOGIN-ITEM";

  // Logs one line at "log", "warn" or "error".
  using LogFunction = std::function<void(std::string_view message, std::string_view level)>;

  // `appPath` is the install folder of the running copy, `isInstalled`
  // whether it is an installed copy; `log` empty means the native logger
  // with the tag "LOGIN-ITEM".
  LaunchAtLoginManager(platform::LoginItem& loginItem, platform::UserDefaults& defaults, std::string appPath,
                       bool isInstalled, LogFunction log = {});

  // Errors are logged, never returned.
  void registerLaunchAtLogin();

  // The login item's status now, as logged ("enabled", …).
  std::string currentStatusName();
  static std::string statusName(platform::LoginItemStatus status);

 private:
  void log(std::string_view message, std::string_view level = "log") const;

  platform::LoginItem& loginItem_;
  platform::UserDefaults& defaults_;
  const std::string appPath_;
  const bool isInstalled_;
  LogFunction log_;
};

}  // namespace orvik
