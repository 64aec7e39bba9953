// The two cards about the desktop's screen-sharing permission inside the
// video call window: the primer before the desktop is asked (Not now /
// Continue) and the notice after it refused (OK). A click on the dimmed
// backdrop counts as Not now or OK. Linux has no settings page to send the
// user to: the notice says what to do instead.
//
// THREAD-SAFETY: main thread only.
#pragma once

#include <functional>
#include <string>

#include <gtkmm/box.h>
#include <gtkmm/button.h>
#include <gtkmm/label.h>

namespace orvik {

class ScreenRecordingCardView : public Gtk::Box {
 public:
  static constexpr const char* kPrimerTitle = "Share your screen";
  static constexpr const char* kDeniedTitle = "Screen Recording Not Allowed";
  static constexpr const char* kSubtitle = "Permission required";
  static constexpr const char* kPrimerMessage =
      "Orvik needs your desktop's permission to share your screen during the call. You'll be asked to allow it in "
      "the next step.";
  static constexpr const char* kDeniedMessage =
      "Your desktop did not allow Orvik to share the screen. Try sharing your screen again and allow it when your "
      "desktop asks.";

  // The primer: Not now and the backdrop call `onCancel`, Continue `onContinue`.
  static ScreenRecordingCardView* primer(std::function<void()> onContinue, std::function<void()> onCancel);
  // The notice: OK and the backdrop call `onDismiss`.
  static ScreenRecordingCardView* denied(std::function<void()> onDismiss);

  // Use primer() or denied().
  ScreenRecordingCardView(const char* title, const char* message, const char* primaryText, bool withArrow,
                          std::function<void()> onPrimary, const char* secondaryText,
                          std::function<void()> onSecondary, std::function<void()> onBackdrop);

  Gtk::Button& primaryButton() { return *primary_; }
  Gtk::Button* secondaryButton() { return secondary_; }
  // A click on the backdrop outside the card.
  void clickBackdrop();

 private:

  Gtk::Box card_{Gtk::Orientation::VERTICAL, 0};
  Gtk::Button* primary_ = nullptr;
  Gtk::Button* secondary_ = nullptr;
  std::function<void()> onBackdrop_;
};

}  // namespace orvik
