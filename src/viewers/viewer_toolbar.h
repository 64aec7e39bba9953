// The viewers' toolbar: groups of buttons, each group one linked row at the
// trailing end of the window's header bar; a group hides or shows as a
// whole when one of its buttons is named. Buttons are named
// "orvik-tool-<id>" and carry their label as tool tip and accessible name.
// THREAD-SAFETY: GTK's thread.
#pragma once

#include <gtkmm.h>

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace orvik {

struct ViewerToolButton {
  std::string id;
  std::string symbol;  // the design's symbol name; mapped to a theme icon
  std::string label;
  std::function<void()> action;
};

class ViewerToolbar {
 public:
  // Installs a header bar of its own as `window`'s title bar.
  explicit ViewerToolbar(Gtk::Window& window);

  void setGroups(std::vector<std::vector<ViewerToolButton>> groups);
  void setButtonHidden(const std::string& id, bool hidden);
  void setButtonEnabled(const std::string& id, bool enabled);
  bool isGroupShown(const std::string& id) const;

  // The theme icon for a design symbol.
  static std::string iconFor(const std::string& symbol);

 private:
  Gtk::HeaderBar* bar_;
  std::vector<std::vector<ViewerToolButton>> groups_;
  std::vector<Gtk::Box*> rows_;
  std::map<std::string, Gtk::Button*> buttons_;
};

}  // namespace orvik
