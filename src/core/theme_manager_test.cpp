#include "core/theme_manager.h"

#include <gtk/gtk.h>
#include <gtest/gtest.h>

#include "core/theme_gtk.h"
#include "platform/test_support/temp_dir.h"

namespace orvik {
namespace {

class ThemeManagerTest : public ::testing::Test {
 protected:
  std::filesystem::path file() const { return dir / "defaults.json"; }
  orvik::testing::TempDir dir;
};

TEST_F(ThemeManagerTest, FreshInstallStartsDarkAndWritesNothingUntilAChange) {
  platform::UserDefaults defaults(file());
  ThemeManager theme(defaults);
  EXPECT_TRUE(theme.isDarkMode());
  theme.setDarkMode(true);
  EXPECT_FALSE(defaults.hasStoredValue(ThemeManager::key));
  EXPECT_FALSE(defaults.hasStoredValue(ThemeManager::hasSetKey));
  EXPECT_FALSE(std::filesystem::exists(file()));
}

TEST_F(ThemeManagerTest, AChosenThemeSurvivesARestart) {
  {
    platform::UserDefaults defaults(file());
    ThemeManager theme(defaults);
    theme.setDarkMode(false);
    EXPECT_EQ(defaults.optionalBool(ThemeManager::key), false);
    EXPECT_EQ(defaults.optionalBool(ThemeManager::hasSetKey), true);
  }
  platform::UserDefaults defaults(file());
  EXPECT_FALSE(ThemeManager(defaults).isDarkMode());
}

TEST_F(ThemeManagerTest, StoredValueWithoutTheSetFlagIsIgnored) {
  platform::UserDefaults defaults(file());
  defaults.setBool(ThemeManager::key, false);
  EXPECT_TRUE(ThemeManager(defaults).isDarkMode());
}

TEST_F(ThemeManagerTest, ObserversHearEveryAssignmentEvenUnchanged) {
  platform::UserDefaults defaults(file());
  ThemeManager theme(defaults);
  std::vector<bool> heard;
  auto subscription = theme.addObserver([&](bool dark) { heard.push_back(dark); });
  theme.setDarkMode(true);
  theme.setDarkMode(false);
  subscription.reset();
  theme.setDarkMode(true);
  EXPECT_EQ(heard, (std::vector<bool>{true, false}));
}

class ThemeGtkIntegration : public ThemeManagerTest {};

TEST_F(ThemeGtkIntegration, FollowsTheSettingInGtk) {
  if (!gtk_init_check()) GTEST_SKIP() << "no display";
  platform::UserDefaults defaults(file());
  ThemeManager theme(defaults);
  const auto binding = bindThemeToGtk(theme);
  ASSERT_TRUE(binding);
  auto preferDark = [] {
    gboolean value = FALSE;
    g_object_get(gtk_settings_get_default(), "gtk-application-prefer-dark-theme", &value, nullptr);
    return value == TRUE;
  };
  EXPECT_TRUE(preferDark());
  theme.setDarkMode(false);
  EXPECT_FALSE(preferDark());
}

}  // namespace
}  // namespace orvik
