#include "platform/app_folders.h"

#include <cstdlib>

#include "platform/app_info.h"

namespace orvik::platform {
namespace fs = std::filesystem;
namespace {

fs::path xdgFolder(const char* variable, const char* fallbackBelowHome) {
  const char* value = std::getenv(variable);
  if (value && *value == '/') return value;
  const char* home = std::getenv("HOME");
  return fs::path(home && *home ? home : "/tmp") / fallbackBelowHome;
}

}  // namespace

fs::path dataHome() { return xdgFolder("XDG_DATA_HOME", ".local/share"); }
fs::path configHome() { return xdgFolder("XDG_CONFIG_HOME", ".config"); }

fs::path applicationSupportFolder() {
  const std::string& identifier = AppInfo::current().bundleIdentifier;
  return dataHome() / (identifier.empty() ? "OrvikReveraraz" : identifier);
}

fs::path documentsFolder() { return applicationSupportFolder() / "Documents" / "Orvik"; }

bool ensureFolder(const fs::path& folder) {
  std::error_code ec;
  fs::create_directories(folder, ec);
  return fs::is_directory(folder, ec);
}

}  // namespace orvik::platform
