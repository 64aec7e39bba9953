#include "platform/app_info.h"

#include <memory>
#include <mutex>
#include <vector>

#include "platform/app_identity.h"

namespace orvik::platform {
namespace fs = std::filesystem;
namespace {

std::mutex gMutex;
std::shared_ptr<const AppInfo> gCurrent;

fs::path runningProgramFolder() {
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::current_path(ec) : exe.parent_path();
}

}  // namespace

AppInfo AppInfo::compiledIn() {
  AppInfo info;
  info.displayName = kAppDisplayName;
  info.bundleIdentifier = kAppBundleIdentifier;
  info.shortVersion = kAppShortVersion;
  info.build = kAppBuild;
  info.installFolder = runningProgramFolder();
  std::error_code ec;
  fs::path installed = info.installFolder / "resources";
  info.resourcesFolder = fs::is_directory(installed, ec) ? installed : fs::path(kAppSourceResources);
  return info;
}

const AppInfo& AppInfo::current() {
  std::lock_guard lock(gMutex);
  if (!gCurrent) gCurrent = std::make_shared<const AppInfo>(compiledIn());
  return *gCurrent;
}

void AppInfo::setCurrent(AppInfo info) {
  auto next = std::make_shared<const AppInfo>(std::move(info));
  std::lock_guard lock(gMutex);
  // The previous value is kept alive: callers may still hold references to it.
  static std::vector<std::shared_ptr<const AppInfo>> retired;
  if (gCurrent) retired.push_back(gCurrent);
  gCurrent = std::move(next);
}

}  // namespace orvik::platform
