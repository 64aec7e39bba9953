#include "app/main_titlebar_layout.h"

namespace orvik {

void MainTitlebarLayout::setContentTopInset(double inset) {
  if (inset == contentTopInset_) return;
  contentTopInset_ = inset;
  observers_.notify(inset);
}

}  // namespace orvik
