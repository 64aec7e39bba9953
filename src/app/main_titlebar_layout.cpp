#include "app/main_titlebar_layout.h"

namespace orvik {

MainTitlebarLayout& MainTitlebarLayout::shared() {
  static MainTitlebarLayout layout;
  return layout;
}

void MainTitlebarLayout::setContentTopInset(double inset) {
  if (inset == contentTopInset_) return;
  contentTopInset_ = inset;
  observers_.notify(inset);
}

}  // namespace orvik
