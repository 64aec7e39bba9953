// Unpacks an update archive (tar, any compression libarchive detects) into a
// private folder. The whole archive is refused at the first entry that could
// write outside that folder or create something an application folder never
// holds: an absolute path, a ".." component, a link whose target leaves the
// tree, a device node, FIFO or socket, or a set-user-ID, set-group-ID or
// sticky bit. What was written before a refusal stays in the folder; the
// caller deletes the folder.
//
// THREAD-SAFETY: blocks on file I/O; no shared state.
#pragma once

#include <filesystem>
#include <string>

namespace orvik::installer {

enum class UnpackStatus {
  ok,
  unreadable,      // not an archive, truncated, or not openable
  absolutePath,
  parentReference,
  linkOutside,
  specialFile,
  privilegeBits,
  writeFailed,
};

struct UnpackResult {
  UnpackStatus status = UnpackStatus::ok;
  std::string entry;  // the refused entry's name, for the log
};

[[nodiscard]] UnpackResult unpackArchive(const std::filesystem::path& archive, const std::filesystem::path& root);
const char* describe(UnpackStatus status);

// A path inside an archive, after a leading "./" is dropped: refused when it
// is absolute or has a ".." component. Exposed for the tests' table.
[[nodiscard]] UnpackStatus checkEntryPath(const std::string& name);
// A symbolic link at `entry` pointing to `target` must resolve inside the tree.
[[nodiscard]] bool linkStaysInside(const std::string& entry, const std::string& target);

}  // namespace orvik::installer
