// Shared by the fuzz targets: the input as text, a check that makes a broken
// property a finding, and a private temporary folder for targets that touch
// files.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

namespace orvik::fuzz {

inline std::string_view text(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

// A property that must hold for every input; libFuzzer keeps the input that
// broke it.
inline void check(bool holds, const char* property) {
  if (holds) return;
  std::fprintf(stderr, "property broken: %s\n", property);
  std::abort();
}

// A folder of this process under the system's temporary folder, removed at
// exit; HOME and the XDG folders point into it, so nothing the target writes
// reaches the real home.
inline const std::filesystem::path& privateHome() {
  static const std::filesystem::path home = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "orvik-fuzz-XXXXXX").string();
    const char* made = ::mkdtemp(pattern.data());
    if (!made) std::abort();
    std::filesystem::path path(made);
    ::setenv("HOME", path.c_str(), 1);
    ::setenv("XDG_DATA_HOME", (path / ".local/share").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (path / ".config").c_str(), 1);
    ::setenv("XDG_CACHE_HOME", (path / ".cache").c_str(), 1);
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(privateHome(), ec);
    });
    return path;
  }();
  return home;
}

}  // namespace orvik::fuzz
