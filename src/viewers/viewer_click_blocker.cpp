#include "viewers/viewer_click_blocker.h"

#include <algorithm>
#include <utility>

#include "platform/queue_checker.h"

namespace orvik {

ViewerClickBlocker::ViewerClickBlocker(BlockerSurface& surface) : surface_(surface) {}

ViewerClickBlocker::~ViewerClickBlocker() {
  if (covering_) surface_.hide();
}

bool ViewerClickBlocker::holds(Owner owner) const {
  return std::any_of(holds_.begin(), holds_.end(), [owner](const Hold& hold) { return hold.owner == owner; });
}

void ViewerClickBlocker::activateBlocker(Owner owner, std::function<void()> onDismiss) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  auto held = std::find_if(holds_.begin(), holds_.end(), [owner](const Hold& hold) { return hold.owner == owner; });
  if (held != holds_.end()) {
    held->onDismiss = std::move(onDismiss);
  } else {
    holds_.push_back({owner, std::move(onDismiss)});
  }
  if (covering_) return;
  covering_ = true;
  surface_.show([weak = std::weak_ptr<bool>(alive_), this] {
    if (weak.lock()) dismissAll();
  });
}

void ViewerClickBlocker::deactivateBlocker(Owner owner) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  std::erase_if(holds_, [owner](const Hold& hold) { return hold.owner == owner; });
  if (holds_.empty() && covering_) {
    covering_ = false;
    surface_.hide();
  }
}

void ViewerClickBlocker::dismissAll() {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  std::vector<std::function<void()>> actions;
  for (auto& hold : holds_) {
    if (hold.onDismiss) actions.push_back(std::exchange(hold.onDismiss, nullptr));
  }
  for (auto& action : actions) action();
}

}  // namespace orvik
