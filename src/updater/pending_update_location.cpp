#include "updater/pending_update_location.h"

#include <glib.h>

namespace orvik {

std::filesystem::path pendingUpdateFolder(const std::string& xdgCacheHome, const std::string& home) {
  std::filesystem::path cache = !xdgCacheHome.empty() && xdgCacheHome.front() == '/'
                                    ? std::filesystem::path(xdgCacheHome)
                                    : std::filesystem::path(home) / ".cache";
  return cache / "com.orvik.desk" / "pending-update";
}

std::filesystem::path pendingUpdateFolder() {
  const char* cache = g_getenv("XDG_CACHE_HOME");
  return pendingUpdateFolder(cache ? cache : "", g_get_home_dir());
}

std::filesystem::path realInstallPath(const std::filesystem::path& runningFolder) {
  std::error_code error;
  auto resolved = std::filesystem::weakly_canonical(runningFolder, error);
  if (error) resolved = runningFolder.lexically_normal();
  auto text = resolved.string();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return text;
}

}  // namespace orvik
