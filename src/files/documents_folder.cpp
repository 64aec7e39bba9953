#include "files/documents_folder.h"

#include <cstdlib>
#include <fstream>

#include "platform/app_folders.h"

namespace orvik {
namespace fs = std::filesystem;
namespace {

fs::path withoutTrailingSlash(fs::path path) {
  path = path.lexically_normal();
  if (!path.has_filename() && path != path.root_path()) path = path.parent_path();
  return path;
}

}  // namespace

fs::path documentsDirectory() {
  fs::path folder = platform::documentsFolder();
  (void)platform::ensureFolder(folder);
  return folder;
}

bool isValidTransferId(std::string_view id) {
  if (id.empty() || id.size() > 80) return false;
  for (const char c : id) {
    const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
                         c == '-';
    if (!allowed) return false;
  }
  return true;
}

bool isAcceptableTransferId(std::string_view id) { return !id.empty() && id.size() <= kMaxTransferIdLength; }

std::string numberedCopyName(std::string_view name, int k) {
  const std::size_t dot = name.rfind('.');
  const std::string number = " " + std::to_string(k);
  if (dot == std::string_view::npos || dot == 0) return std::string(name) + number;
  return std::string(name.substr(0, dot)) + number + std::string(name.substr(dot));
}

fs::path downloadsFolder() {
  const char* homeVariable = std::getenv("HOME");
  const fs::path home = homeVariable && *homeVariable ? homeVariable : "/";
  // user-dirs.dirs is a shell fragment; its lines read
  // XDG_DOWNLOAD_DIR="$HOME/Downloads" or an absolute path.
  std::ifstream dirs(platform::configHome() / "user-dirs.dirs");
  std::string line;
  const std::string key = "XDG_DOWNLOAD_DIR=\"";
  while (std::getline(dirs, line)) {
    if (!line.starts_with(key) || !line.ends_with('"')) continue;
    std::string value = line.substr(key.size(), line.size() - key.size() - 1);
    fs::path folder;
    if (value.starts_with("$HOME/")) folder = home / value.substr(6);
    else if (value.starts_with('/')) folder = value;
    // "$HOME" itself means the folder is switched off; the home folder or the
    // root must never stand in for it, or every file below would be served.
    folder = withoutTrailingSlash(folder);
    if (!folder.empty() && folder != withoutTrailingSlash(home) && folder != folder.root_path()) return folder;
  }
  return home / "Downloads";
}

}  // namespace orvik
