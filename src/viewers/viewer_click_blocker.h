// The click blocker: while a viewer window is open, a click anywhere on the
// main window's content, or the program losing the focus to another
// program, closes every viewer that holds the blocker. Each viewer takes its
// hold when it shows its window, with the action that closes that window,
// and releases it when the window closes or is hidden for
// picture-in-picture; the cover goes once the last hold is released.
//
// Holds belong to their viewer: a viewer holds at most once (a second
// activate only replaces its action), releasing removes only its own
// action, and releasing a hold it does not have changes nothing. So one
// viewer's close can never take another's dismissal away, nor leave the
// main window covered.
//
// The cover itself is a BlockerSurface: in the program a transparent layer
// over the main window's content (viewer_click_blocker_gtk.cpp).
// THREAD-SAFETY: main queue.
#pragma once

#include <functional>
#include <memory>
#include <vector>

namespace orvik {

class BlockerSurface {
 public:
  virtual ~BlockerSurface() = default;
  // Covers the main window's content; `onClick` runs for every press of any
  // button on the cover, which swallows it.
  virtual void show(std::function<void()> onClick) = 0;
  virtual void hide() = 0;
};

class ViewerClickBlocker {
 public:
  using Owner = const void*;

  explicit ViewerClickBlocker(BlockerSurface& surface);
  ~ViewerClickBlocker();
  ViewerClickBlocker(const ViewerClickBlocker&) = delete;
  ViewerClickBlocker& operator=(const ViewerClickBlocker&) = delete;

  void activateBlocker(Owner owner, std::function<void()> onDismiss);
  void deactivateBlocker(Owner owner);
  // Runs every holder's dismiss action once, in the order they were taken.
  void dismissAll();
  // The program lost the focus to another program.
  void applicationDeactivated() { dismissAll(); }

  int activeCount() const { return static_cast<int>(holds_.size()); }
  bool holds(Owner owner) const;
  bool isCovering() const { return covering_; }

 private:
  struct Hold {
    Owner owner;
    std::function<void()> onDismiss;
  };
  BlockerSurface& surface_;
  std::vector<Hold> holds_;
  bool covering_ = false;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace orvik
