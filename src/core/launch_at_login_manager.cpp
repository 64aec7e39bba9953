#include "core/launch_at_login_manager.h"

#include "core/native_logger.h"
#include "platform/app_folders.h"
#include "platform/app_info.h"
#include "platform/queue_checker.h"

namespace orvik {

using platform::LoginItemStatus;

LaunchAtLoginManager::LaunchAtLoginManager(platform::LoginItem& loginItem, platform::UserDefaults& defaults,
                                           std::string appPath, bool isInstalled, LogFunction log)
    : loginItem_(loginItem),
      defaults_(defaults),
      appPath_(std::move(appPath)),
      isInstalled_(isInstalled),
      log_(std::move(log)) {}

void LaunchAtLoginManager::log(std::string_view message, std::string_view level) const {
  if (log_) {
    log_(message, level);
  } else {
    NativeLogger::shared().log(message, logTag, level);
  }
}

std::string LaunchAtLoginManager::statusName(LoginItemStatus status) {
  switch (status) {
    case LoginItemStatus::notRegistered: return "notRegistered";
    case LoginItemStatus::enabled: return "enabled";
    case LoginItemStatus::requiresApproval: return "requiresApproval";
    case LoginItemStatus::notFound: return "notFound";
  }
  return "unknown(" + std::to_string(static_cast<int>(status)) + ")";
}

std::string LaunchAtLoginManager::currentStatusName() { return statusName(loginItem_.status()); }

void LaunchAtLoginManager::registerLaunchAtLogin() {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  const LoginItemStatus status = loginItem_.status();
  log("Current status: " + statusName(status));
  log("App path: " + appPath_);

  if (appPath_.find("AppTranslocation") != std::string::npos) {
    log("App is translocated — skipping registration. Run: xattr -cr /Applications/Orvik-Reveraraz.app", "warn");
    return;
  }

  // A development run must not leave the user's session starting a build.
  if (!isInstalled_) {
    log("Not an installed copy — skipping registration", "warn");
    return;
  }

  const std::optional<std::string> last = defaults_.string(lastRegisteredPathKey);
  if (status == LoginItemStatus::requiresApproval) {
    log("Switched off by the user — leaving it off");
    return;
  }
  if (status != LoginItemStatus::enabled && last) {
    log("Removed by the user — leaving it off");
    return;
  }
  if (status == LoginItemStatus::enabled) {
    if (last == appPath_) {
      log("Already enabled at the current path — skipping re-register");
      return;
    }
    // The entry may belong to another copy of the program.
    const platform::LoginItemResult removed = loginItem_.unregisterItem();
    if (removed.succeeded) {
      log("Unregistered old entry");
    } else {
      log("Unregister failed: " + removed.errorDescription, "error");
    }
  }

  const platform::LoginItemResult registered = loginItem_.registerItem();
  if (registered.succeeded) {
    defaults_.setString(lastRegisteredPathKey, appPath_);
    log("Registered successfully from: " + appPath_);
  } else {
    log("Registration failed: " + registered.errorDescription, "error");
  }
}

}  // namespace orvik
