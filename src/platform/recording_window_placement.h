// A WindowPlacement for tests: records each request with the window's
// title, and does nothing else. The desktop's stacking order is what the
// test sets in `stack`; `numbers` gives windows their numbers, and
// notifyStacking plays the window manager's change notice.
#pragma once

#include <gtk/gtk.h>

#include <map>
#include <string>
#include <vector>

#include "platform/window_placement.h"

namespace orvik::platform {

class RecordingWindowPlacement final : public WindowPlacement {
 public:
  void setNeverFocused(GtkWindow* window) override { record("never focused", window); }
  void orderFrontWithoutActivating(GtkWindow* window) override {
    record("order front", window);
    gtk_widget_set_visible(GTK_WIDGET(window), true);
  }
  void setKeepAbove(GtkWindow* window, bool above) override {
    record(above ? "keep above" : "normal level", window);
  }
  void setOnAllDesktops(GtkWindow* window, bool all) override {
    record(all ? "all desktops" : "one desktop", window);
  }
  void moveToWorkAreaTopRight(GtkWindow* window, int margin) override {
    record(("top right " + std::to_string(margin)).c_str(), window);
  }
  std::uint64_t windowNumber(GtkWindow* window) override {
    const auto found = numbers.find(window);
    return found == numbers.end() ? 0 : found->second;
  }
  std::optional<std::vector<StackedWindow>> onScreenWindows() override { return stack; }
  Subscription observeStacking(std::function<void(StackingChange)> changed) override {
    return stackingObservers_.add(std::move(changed));
  }
  void notifyStacking(StackingChange change) { stackingObservers_.notify(change); }

  std::vector<std::string> requests;
  std::map<GtkWindow*, std::uint64_t> numbers;
  std::optional<std::vector<StackedWindow>> stack;

 private:
  ObserverList<StackingChange> stackingObservers_;
  void record(const char* what, GtkWindow* window) {
    const char* title = gtk_window_get_title(window);
    requests.push_back(std::string(what) + " " + (title ? title : ""));
  }
};

}  // namespace orvik::platform
