// Environment variables for one test, restored afterwards.
//
//   TestHome home;   // HOME, XDG_DATA_HOME, XDG_CONFIG_HOME, XDG_RUNTIME_DIR
//                    // all inside a fresh temporary folder
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
// folder, never in the real home.
class TestHome {
 public:
  TestHome();

  const std::filesystem::path& path() const { return dir_.path(); }
  std::filesystem::path dataHome() const { return dir_ / "data"; }
  std::filesystem::path configHome() const { return dir_ / "config"; }
  std::filesystem::path runtimeDir() const { return dir_ / "runtime"; }

 private:
  TempDir dir_;
  ScopedEnvironment environment_;
};

}  // namespace orvik::testing
