#include "platform/app_folders.h"

#include <gtest/gtest.h>

#include "platform/app_info.h"
#include "platform/test_support/scoped_environment.h"

namespace orvik::platform {
namespace {

using orvik::testing::ScopedEnvironment;
using orvik::testing::TestHome;

TEST(AppFolders, FollowTheXdgDataHome) {
  TestHome home;
  EXPECT_EQ(applicationSupportFolder(), home.dataHome() / "com.orvik.desk");
  EXPECT_EQ(documentsFolder(), home.dataHome() / "com.orvik.desk" / "Documents" / "Orvik");
  EXPECT_EQ(configHome(), home.configHome());
}

TEST(AppFolders, RelativeOrEmptyXdgVariablesCountAsUnset) {
  TestHome home;
  ScopedEnvironment environment;
  environment.set("XDG_DATA_HOME", "relative/data");
  environment.set("XDG_CONFIG_HOME", "");
  EXPECT_EQ(dataHome(), home.path() / ".local/share");
  EXPECT_EQ(configHome(), home.path() / ".config");
}

TEST(AppFolders, WithoutBundleIdentifierTheFolderHasTheProductName) {
  TestHome home;
  const AppInfo saved = AppInfo::current();
  AppInfo anonymous = saved;
  anonymous.bundleIdentifier.clear();
  AppInfo::setCurrent(anonymous);
  EXPECT_EQ(applicationSupportFolder(), home.dataHome() / "OrvikReveraraz");
  AppInfo::setCurrent(saved);
}

}  // namespace
}  // namespace orvik::platform
