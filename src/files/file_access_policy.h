// Which local files the page may read through orvikfile://. Nothing on Linux
// confines the program the way an application sandbox would, so the handler
// enforces it: only regular files inside the application's own folders, inside
// the user's download folder, or picked by the user in a file chooser during
// this run. Every test is made on the file's real path, after links and ".."
// are resolved.
// THREAD-SAFETY: any thread; the picked-file list has its own lock.
#pragma once

#include <filesystem>
#include <functional>
#include <mutex>
#include <set>
#include <vector>

namespace orvik {

class FileAccessPolicy {
 public:
  using RootsProvider = std::function<std::vector<std::filesystem::path>()>;

  // `roots` names the folders whose files may be served; it is asked on every
  // check, so folders made later (the download folder) count at once.
  explicit FileAccessPolicy(RootsProvider roots);

  // The program's policy: the application-support folder (the documents
  // folder is inside it), the install folder and the download folder.
  static std::vector<std::filesystem::path> programRoots();

  // A file the user chose in a file chooser of this run (the web host's file
  // chooser reports each one).
  void allowPickedFile(const std::filesystem::path& file);

  // Whether `realPath` (already resolved, as the kernel names an open file)
  // may be served.
  bool allows(const std::filesystem::path& realPath) const;

 private:
  RootsProvider roots_;
  mutable std::mutex mutex_;
  std::set<std::filesystem::path> picked_;
};

// Whether `path` is `folder` itself or lies below it, comparing whole path
// components ("/a/bc" is not inside "/a/b").
bool isPathInside(const std::filesystem::path& path, const std::filesystem::path& folder);

}  // namespace orvik
