// The main window's top inset: the page sits this far below the window's top
// edge, under the custom title strip; 0 in full screen, where the strip is
// hidden. Observed by the main window view.
// Owner: the composition root (app_services.h). THREAD-SAFETY: main queue only.
#pragma once

#include "platform/observer_list.h"

namespace orvik {

class MainTitlebarLayout {
 public:
  static constexpr double kStripHeight = 24;

  double contentTopInset() const { return contentTopInset_; }
  void setContentTopInset(double inset);

  [[nodiscard]] platform::Subscription addObserver(platform::ObserverList<double>::Observer observer) {
    return observers_.add(std::move(observer));
  }

 private:
  double contentTopInset_ = kStripHeight;
  platform::ObserverList<double> observers_;
};

}  // namespace orvik
