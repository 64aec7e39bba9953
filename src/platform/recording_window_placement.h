// A WindowPlacement for tests: records each request with the window's
// title, and does nothing else.
#pragma once

#include <gtk/gtk.h>

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
  std::vector<std::string> requests;

 private:
  void record(const char* what, GtkWindow* window) {
    const char* title = gtk_window_get_title(window);
    requests.push_back(std::string(what) + " " + (title ? title : ""));
  }
};

}  // namespace orvik::platform
