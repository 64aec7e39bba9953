// Shared set-up of this library's tests: a temporary HOME with its XDG
// folders, so that the documents folder, the download folder and everything
// below them live in a throwaway folder for the length of one test.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/test_support/temp_dir.h"

namespace orvik::testing {

class ScopedTempHome {
 public:
  ScopedTempHome() {
    save("HOME", (dir_.path() / "home").string());
    save("XDG_DATA_HOME", (dir_.path() / "home/.local/share").string());
    save("XDG_CONFIG_HOME", (dir_.path() / "home/.config").string());
    std::filesystem::create_directories(dir_.path() / "home");
  }
  ~ScopedTempHome() {
    for (auto& [name, value] : saved_) {
      if (value) ::setenv(name.c_str(), value->c_str(), 1);
      else ::unsetenv(name.c_str());
    }
  }
  ScopedTempHome(const ScopedTempHome&) = delete;
  ScopedTempHome& operator=(const ScopedTempHome&) = delete;

  std::filesystem::path home() const { return dir_.path() / "home"; }
  const TempDir& dir() const { return dir_; }

 private:
  void save(const std::string& name, const std::string& value) {
    const char* old = std::getenv(name.c_str());
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    ::setenv(name.c_str(), value.c_str(), 1);
  }

  TempDir dir_;
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// Bytes whose value at offset i is (i * 7 + i / 251) & 0xFF: any slice shows
// where in the file it came from (a page checks it with the same formula).
inline std::string patternBytes(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  return bytes;
}

}  // namespace orvik::testing
