// Environment variables for one test, restored afterwards, and the one
// temporary home of the tests.
//
//   TestHome home;   // HOME and the XDG folders inside a fresh temporary folder
//   home.path() / "Downloads"
#pragma once

#include <map>
#include <optional>
#include <string>

#include "platform/test_support/temp_dir.h"

namespace orvik::testing {

class ScopedEnvironment {
 public:
  ScopedEnvironment() = default;
  ~ScopedEnvironment();
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

  void set(const std::string& name, const std::string& value);
  void unset(const std::string& name);

 private:
  void remember(const std::string& name);
  std::map<std::string, std::optional<std::string>> saved_;
};

// A private home: the program's folders and settings land in a temporary
// folder, never in the real home. HOME is `path()`; XDG_DATA_HOME,
// XDG_CONFIG_HOME, XDG_CACHE_HOME and XDG_RUNTIME_DIR are folders beside it,
// away from the places XDG falls back to inside HOME, so a test sees whether
// the variable was read. Every variable is restored afterwards; programs
// started meanwhile inherit them.
class TestHome {
 public:
  TestHome();

  const std::filesystem::path& path() const { return home_; }
  std::filesystem::path dataHome() const { return dir_ / "data"; }
  std::filesystem::path configHome() const { return dir_ / "config"; }
  std::filesystem::path cacheHome() const { return dir_ / "cache"; }
  std::filesystem::path runtimeDir() const { return dir_ / "runtime"; }
  // A folder of the same test outside the home.
  std::filesystem::path outside() const { return dir_ / "outside"; }

 private:
  TempDir dir_;
  std::filesystem::path home_ = dir_ / "home";
  ScopedEnvironment environment_;
};

}  // namespace orvik::testing
