// The main window's window-level hooks: the close button hides the window
// instead of closing it (hanging up a call in progress first), so the page
// keeps its state; a full-screen window first leaves full screen and hides
// once that is done, or after a fallback time-out; and the title strip's
// double click follows the desktop's "gtk-titlebar-double-click" setting.
//
// `MainWindowCloseInterceptor` holds the logic against `MainWindowControl`,
// which main_window.cpp implements over the GTK window and tests fake.
//
// THREAD-SAFETY: main queue only.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "calls/control/call_control.h"
#include "platform/dispatch/task_queue.h"

namespace orvik {

class MainWindowControl {
 public:
  virtual ~MainWindowControl() = default;
  virtual bool isFullScreen() const = 0;
  virtual void exitFullScreen() = 0;
  virtual void hide() = 0;
  virtual void minimize() = 0;
  virtual void toggleMaximized() = 0;
  virtual void lower() = 0;
  virtual void showWindowMenu() = 0;
};

class MainWindowCloseInterceptor {
 public:
  static constexpr double kFullScreenExitFallback = 2.0;

  MainWindowCloseInterceptor(MainWindowControl& window, CallControl& calls);
  ~MainWindowCloseInterceptor();

  // The close button was pressed. Always false: the window is never closed.
  [[nodiscard]] bool handleMainWindowCloseButton();
  // The window has left full screen.
  void onFullScreenExited();

 private:
  void hideAfterFullScreenExit(std::string_view reason);

  MainWindowControl& window_;
  CallControl& calls_;
  // The hide that waits for the window to leave full screen, one per press.
  bool hidePending_ = false;
  std::shared_ptr<platform::WorkItem> fallback_;
  std::shared_ptr<platform::WorkItem> exitFullScreen_;
};

enum class TitlebarDoubleClickAction { none, minimize, toggleMaximize, lower, windowMenu };

// The action for a double click on the title strip, from the desktop's
// "gtk-titlebar-double-click" value (absent: the toolkit's default). Nothing
// happens in full screen.
TitlebarDoubleClickAction titlebarDoubleClickAction(const std::optional<std::string>& setting, bool isFullScreen);
void performTitlebarDoubleClickAction(MainWindowControl& window, const std::optional<std::string>& setting);

}  // namespace orvik
