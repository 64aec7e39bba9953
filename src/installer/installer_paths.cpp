#include "installer/installer_paths.h"

#include <glib.h>

namespace orvik::installer {
namespace {

std::string variable(const char* name) {
  const char* value = g_getenv(name);
  return value ? value : "";
}

std::filesystem::path xdgFolder(const std::string& value, const std::string& home, const char* fallback) {
  // XDG folders given as relative paths count as unset.
  if (!value.empty() && value.front() == '/') return value;
  return std::filesystem::path(home) / fallback;
}

}  // namespace

EnvironmentFolders environmentFolders() {
  return {variable("XDG_CACHE_HOME"), variable("XDG_STATE_HOME"), g_get_home_dir()};
}

std::filesystem::path pendingUpdateFolder(const EnvironmentFolders& env) {
  return xdgFolder(env.xdgCacheHome, env.home, ".cache") / kAppIdentifier / "pending-update";
}

std::filesystem::path installerLogPath(const EnvironmentFolders& env) {
  return xdgFolder(env.xdgStateHome, env.home, ".local/state") / kAppIdentifier / kLogFileName;
}

std::string shellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') quoted += "'\\''";
    else quoted += c;
  }
  return quoted + "'";
}

}  // namespace orvik::installer
