// The card that tells the user the program may not notify them: a crossed-out
// bell, "Notifications Disabled", a line of explanation, "Open Settings" and a
// close cross, floating over the top-right corner of the main window's page.
// At most one exists; showing while one is shown (or fading out) does nothing.
//
//   NotificationPermissionBanner banner(hostOverlay, openSettings);
//   banner.show();      // on the main queue, later
//   banner.dismiss();
//
// Owner: the composition root. THREAD-SAFETY: show and dismiss from any
// thread (they move to the main queue); the rest main queue only.
#pragma once

#include <functional>
#include <memory>

namespace Gtk {
class Overlay;
class Widget;
}  // namespace Gtk

namespace orvik {

class NotificationPermissionBanner {
 public:
  static constexpr int kWidth = 290;
  static constexpr int kHeight = 100;
  static constexpr int kRightMargin = 60;
  static constexpr int kTopMargin = 40;
  static constexpr double kFadeSeconds = 0.2;

  // `host`: where the card floats (none while there is no main window).
  NotificationPermissionBanner(std::function<Gtk::Overlay*()> host, std::function<void()> openSettings);
  ~NotificationPermissionBanner();

  void show();
  void dismiss();

  // The card while shown or fading; for tests.
  Gtk::Widget* card() const;

 private:
  struct Card;
  void showNow();
  void hideNow();

  std::function<Gtk::Overlay*()> host_;
  std::function<void()> openSettings_;
  std::unique_ptr<Card> card_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace orvik
