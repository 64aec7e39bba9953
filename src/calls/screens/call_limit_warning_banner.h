// CallLimitWarningBanner: the pill that drops in at the top of a call
// screen when a free account's call nears its limit: the clock, the call
// manager's text (wrapping as long as it needs), an "Extend 20 min" button
// when extending is offered, and a close mark. It keeps no state and
// decides nothing: its host says what the buttons do and hides it.
//
// Owner: its call view. THREAD-SAFETY: main thread only.
#pragma once

#include <functional>
#include <string>

#include <gtkmm/box.h>
#include <gtkmm/button.h>
#include <gtkmm/label.h>

#include "calls/screens/call_colors.h"

namespace orvik {

class CallLimitWarningBanner : public Gtk::Box {
 public:
  static constexpr const char* kExtend = "Extend 20 min";

  explicit CallLimitWarningBanner(Rgba accent = callcolors::limitBannerAccent);

  // `canExtend` false: no Extend button.
  void setContent(const std::string& text, bool canExtend);

  std::function<void()> onExtend;
  std::function<void()> onClose;

  Gtk::Label& textLabel() { return text_; }
  Gtk::Button& extendButton() { return extend_; }
  Gtk::Button& closeButton() { return close_; }

 private:
  Gtk::Label text_;
  Gtk::Button extend_;
  Gtk::Button close_;
};

}  // namespace orvik
