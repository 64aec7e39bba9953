// Copies that never lose the user's files. A save first writes the whole copy
// to a temporary file in the destination's folder and only then moves it into
// place, so a failed copy (a vanished source, a full disk) leaves whatever was
// at the destination untouched, and readers never see half a file.
// THREAD-SAFETY: any thread; nothing is shared.
#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

namespace orvik {

enum class [[nodiscard]] SaveCopyStatus {
  saved,
  // The destination is the source itself (the user picked the file being
  // saved): there is nothing to do, and replacing it would destroy it.
  sameFile,
  failed,
};

// Copies `source` to `destination`, replacing a file there only once the copy
// is complete.
SaveCopyStatus copyFileReplacing(const std::filesystem::path& source, const std::filesystem::path& destination);

// Copies `source` into `folder` under `name`, or under the first of
// "name 2.ext", "name 3.ext" … that is free when the copy lands; never replaces
// a file. The saved file's path, or none on failure. `name` must be a bare
// file name (no folders).
std::optional<std::filesystem::path> copyFileUnderFreeName(const std::filesystem::path& source,
                                                           const std::filesystem::path& folder,
                                                           std::string_view name);

}  // namespace orvik
