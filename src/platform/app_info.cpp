#include "platform/app_info.h"

#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/app_identity.h"

namespace orvik::platform {
namespace fs = std::filesystem;
namespace {

std::mutex gMutex;
std::shared_ptr<const AppInfo> gCurrent;

fs::path runningProgramFolder() {
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::path() : exe.parent_path();
}

fs::path resolved(const fs::path& path) {
  std::error_code ec;
  fs::path real = fs::weakly_canonical(path, ec);
  return ec ? path.lexically_normal() : real;
}

bool isSameOrInside(const fs::path& path, const fs::path& folder) {
  if (path.empty() || folder.empty()) return false;
  const fs::path relative = path.lexically_relative(folder);
  return !relative.empty() && *relative.begin() != "..";
}

// An installed copy's version and build are those of its manifest, as a
// bundle's are those of its Info.plist: an update replaces the folder, the
// manifest included. A value that is missing or not a string leaves the
// compiled-in one.
void readManifestVersion(const fs::path& manifest, AppInfo& info) {
  std::ifstream in(manifest, std::ios::binary);
  if (!in) return;
  std::ostringstream text;
  text << in.rdbuf();
  const auto json = nlohmann::json::parse(text.str(), nullptr, /*allow_exceptions=*/false);
  if (!json.is_object()) return;
  if (auto found = json.find("version"); found != json.end() && found->is_string()) {
    info.shortVersion = found->get<std::string>();
  }
  if (auto found = json.find("build"); found != json.end() && found->is_string()) {
    info.build = found->get<std::string>();
  }
}

}  // namespace

AppInfo AppInfo::forProgramFolder(const fs::path& programFolder, const fs::path& buildTree,
                                  const fs::path& sourceResources) {
  AppInfo info;
  info.displayName = kAppDisplayName;
  info.bundleIdentifier = kAppBundleIdentifier;
  info.shortVersion = kAppShortVersion;
  info.build = kAppBuild;
  info.resourcesFolder = sourceResources;
  if (programFolder.empty()) return info;

  const fs::path folder = resolved(programFolder);
  std::error_code ec;
  if (fs::is_regular_file(folder / kInstallManifestName, ec)) {
    // <prefix>/lib/orvikdesk
    const fs::path prefix = folder.parent_path().parent_path();
    info.isInstalled = true;
    info.installFolder = folder;
    info.resourcesFolder = folder / "resources";
    info.launcher = prefix / "bin" / "orvikdesk";
    info.desktopEntry = prefix / "share" / "applications" / (info.bundleIdentifier + ".desktop");
    info.iconsFolder = prefix / "share" / "icons";
    readManifestVersion(folder / kInstallManifestName, info);
  } else if (!buildTree.empty() && isSameOrInside(folder, resolved(buildTree))) {
    info.installFolder = folder;
    info.iconsFolder = resolved(buildTree) / "share" / "icons";
  }
  return info;
}

AppInfo AppInfo::compiledIn() {
  return forProgramFolder(runningProgramFolder(), kAppBuildTree, kAppSourceResources);
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
