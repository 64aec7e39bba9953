#include "core/theme_manager.h"

namespace orvik {

ThemeManager::ThemeManager(platform::UserDefaults& defaults)
    : defaults_(defaults), isDarkMode_(defaults.boolValue(hasSetKey) ? defaults.boolValue(key) : true) {}

void ThemeManager::setDarkMode(bool isDarkMode) {
  const bool previous = isDarkMode_;
  isDarkMode_ = isDarkMode;
  if (previous != isDarkMode) {
    defaults_.setBool(key, isDarkMode);
    defaults_.setBool(hasSetKey, true);
  }
  observers_.notify(isDarkMode);
}

}  // namespace orvik
