// Small whole-file helpers shared by the stores that keep text files.
// THREAD-SAFETY: any thread; callers serialise work on one file themselves.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace orvik::platform {

// Writes `data` to a temporary file beside `file` (mode 0600), flushes it and
// renames it over `file`, so readers see the old or the new content, never a
// mix.
[[nodiscard]] bool writeFileAtomically(const std::filesystem::path& file, std::string_view data);

enum class [[nodiscard]] ReadStatus { ok, missing, failed };
struct FileContents {
  ReadStatus status = ReadStatus::failed;
  std::string bytes;
};
// The whole file as bytes; `missing` when it does not exist.
FileContents readWholeFile(const std::filesystem::path& file);

bool isValidUtf8(std::string_view text);

// Writes all of `data` to `fd`, resuming after interruptions.
[[nodiscard]] bool writeAll(int fd, std::string_view data);

}  // namespace orvik::platform
