#include "platform/app_info.h"

#include <gtest/gtest.h>

#include "platform/user_defaults.h"
#include "platform/test_support/temp_dir.h"

namespace orvik::platform {
namespace {

TEST(AppInfo, CompiledInIdentity) {
  const AppInfo info = AppInfo::compiledIn();
  EXPECT_EQ(info.bundleIdentifier, "com.orvik.desk");
  EXPECT_EQ(info.displayName, "OrvikDesk");
  EXPECT_FALSE(info.shortVersion.empty());
  EXPECT_FALSE(info.build.empty());
  EXPECT_TRUE(std::filesystem::is_directory(info.installFolder));
}

TEST(AppInfo, SettingsLiveInTheXdgConfigFolderNamedAfterTheIdentifier) {
  orvik::testing::TempDir dir;
  const char* previous = std::getenv("XDG_CONFIG_HOME");
  std::string saved = previous ? previous : "";
  setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);
  EXPECT_EQ(UserDefaults::standardPath(), dir.path() / "com.orvik.desk/defaults.json");
  if (previous) setenv("XDG_CONFIG_HOME", saved.c_str(), 1); else unsetenv("XDG_CONFIG_HOME");
}

}  // namespace
}  // namespace orvik::platform
