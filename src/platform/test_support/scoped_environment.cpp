#include "platform/test_support/scoped_environment.h"

#include <sys/stat.h>

#include <cstdlib>

namespace orvik::testing {

ScopedEnvironment::~ScopedEnvironment() {
  for (const auto& [name, value] : saved_) {
    if (value) {
      setenv(name.c_str(), value->c_str(), 1);
    } else {
      unsetenv(name.c_str());
    }
  }
}

void ScopedEnvironment::remember(const std::string& name) {
  if (saved_.contains(name)) return;
  const char* value = std::getenv(name.c_str());
  saved_[name] = value ? std::optional<std::string>(value) : std::nullopt;
}

void ScopedEnvironment::set(const std::string& name, const std::string& value) {
  remember(name);
  setenv(name.c_str(), value.c_str(), 1);
}

void ScopedEnvironment::unset(const std::string& name) {
  remember(name);
  unsetenv(name.c_str());
}

TestHome::TestHome() {
  for (const auto& folder : {path(), dataHome(), configHome(), cacheHome(), runtimeDir(), outside()}) {
    std::filesystem::create_directories(folder);
  }
  ::chmod(runtimeDir().c_str(), 0700);
  environment_.set("HOME", path().string());
  environment_.set("XDG_DATA_HOME", dataHome().string());
  environment_.set("XDG_CONFIG_HOME", configHome().string());
  environment_.set("XDG_CACHE_HOME", cacheHome().string());
  environment_.set("XDG_RUNTIME_DIR", runtimeDir().string());
}

}  // namespace orvik::testing
