#include "core/theme_manager.h"

#include "platform/queue_checker.h"

namespace orvik {

ThemeManager::ThemeManager(platform::UserDefaults& defaults)
    : defaults_(defaults), isDarkMode_(defaults.boolValue(hasSetKey) ? defaults.boolValue(key) : true) {}

void ThemeManager::setDarkMode(bool isDarkMode) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  const bool previous = isDarkMode_;
  isDarkMode_ = isDarkMode;
  if (previous != isDarkMode) {
    defaults_.setBool(key, isDarkMode);
    defaults_.setBool(hasSetKey, true);
  }
  observers_.notify(isDarkMode);
}

}  // namespace orvik
