// The program's one dark-mode setting. The web application decides the theme
// (bridge message "themeChanged"); every native window that draws its own
// chrome observes this object. The program is dark until the page has chosen
// a theme once; from then on the stored choice survives restarts.
// THREAD-SAFETY: main queue only.
#pragma once

#include "platform/observer_list.h"
#include "platform/user_defaults.h"

namespace orvik {

class ThemeManager {
 public:
  static constexpr const char* key = "app_isDarkMode";
  static constexpr const char* hasSetKey = "app_isDarkMode_hasBeenSet";

  using Observers = platform::ObserverList<bool>;

  explicit ThemeManager(platform::UserDefaults& defaults);

  bool isDarkMode() const { return isDarkMode_; }
  // Stores a changed value (and that a theme has been chosen); observers are
  // told of every assignment, changed or not.
  void setDarkMode(bool isDarkMode);

  [[nodiscard]] platform::Subscription addObserver(Observers::Observer observer) {
    return observers_.add(std::move(observer));
  }

 private:
  platform::UserDefaults& defaults_;
  bool isDarkMode_;
  Observers observers_;
};

}  // namespace orvik
