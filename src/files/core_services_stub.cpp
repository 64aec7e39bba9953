// TODO(#3): stand-ins until core services land; delete this file then.
#include <sys/xattr.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "files/core_services_adapter.h"
#include "platform/app_info.h"

namespace orvik {
namespace fs = std::filesystem;

namespace FileSecurity {

std::string sanitizedFileName(std::string_view name) {
  while (name.size() > 1 && name.ends_with('/')) name.remove_suffix(1);
  const std::size_t slash = name.rfind('/');
  const std::string_view last = slash == std::string_view::npos || name == "/" ? name : name.substr(slash + 1);
  if (last.empty() || last == "." || last == ".." || last == "/") return "file";
  return std::string(last);
}

void markQuarantined(const fs::path& file) {
  char hex[9];
  std::snprintf(hex, sizeof hex, "%08x", static_cast<unsigned>(std::time(nullptr)));
  const std::string value = std::string("0001;") + hex + ";OrvikReveraraz;";
  (void)::setxattr(file.c_str(), quarantineAttribute, value.data(), value.size(), 0);
}

}  // namespace FileSecurity

namespace platform {
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

}  // namespace platform
}  // namespace orvik
