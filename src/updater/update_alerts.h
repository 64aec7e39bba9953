// The updater's modal alerts: the critical security alerts, the
// informational "You're up to date!" and the manual update's question. The program's backend shows GTK message
// dialogs over the main window, one after another; tests record them.
// THREAD-SAFETY: main queue only.
#pragma once

#include <functional>
#include <string>

namespace orvik {

class UpdateAlerts {
 public:
  virtual ~UpdateAlerts() = default;
  // A critical alert with one "OK" button; `acknowledged` runs when the user
  // closes it.
  virtual void showCritical(const std::string& message, const std::string& informative,
                            std::function<void()> acknowledged) = 0;
  // An informational alert with one "OK" button.
  virtual void showInformational(const std::string& message, const std::string& informative) = 0;
  // An informational question with two buttons, `confirm` first: `answered`
  // runs once with true for `confirm`, false for `cancel` or a dialog closed
  // any other way.
  virtual void showQuestion(const std::string& message, const std::string& informative, const std::string& confirm,
                            const std::string& cancel, std::function<void(bool confirmed)> answered) = 0;
};

}  // namespace orvik
