#include "files/file_access_policy.h"

#include "platform/app_folders.h"
#include "files/documents_folder.h"
#include "platform/app_info.h"

namespace orvik {
namespace fs = std::filesystem;

FileAccessPolicy::FileAccessPolicy(RootsProvider roots) : roots_(std::move(roots)) {}

std::vector<fs::path> FileAccessPolicy::programRoots() {
  return {platform::applicationSupportFolder(), platform::AppInfo::current().installFolder, downloadsFolder()};
}

void FileAccessPolicy::allowPickedFile(const fs::path& file) {
  std::error_code ec;
  fs::path real = fs::canonical(file, ec);
  if (ec) return;
  std::lock_guard lock(mutex_);
  picked_.insert(std::move(real));
}

bool FileAccessPolicy::allows(const fs::path& realPath) const {
  if (!realPath.is_absolute()) return false;
  {
    std::lock_guard lock(mutex_);
    if (picked_.contains(realPath)) return true;
  }
  for (const fs::path& root : roots_()) {
    if (root.empty()) continue;
    std::error_code ec;
    const fs::path realRoot = fs::canonical(root, ec);
    // A folder that does not exist holds nothing; the root folder would hold
    // everything.
    if (ec || realRoot == realRoot.root_path()) continue;
    if (isPathInside(realPath, realRoot)) return true;
  }
  return false;
}

bool isPathInside(const fs::path& path, const fs::path& folder) {
  auto p = path.begin();
  for (auto f = folder.begin(); f != folder.end(); ++f, ++p) {
    if (f->empty()) continue;  // a trailing slash of the folder
    if (p == path.end() || *p != *f) return false;
  }
  return true;
}

}  // namespace orvik
