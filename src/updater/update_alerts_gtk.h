// The program's UpdateAlerts: modal GTK message dialogs over the main window,
// shown one after another when several come at once.
// Owner: the composition root. THREAD-SAFETY: main thread only.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "updater/update_alerts.h"

namespace Gtk {
class MessageDialog;
class Window;
}  // namespace Gtk

namespace orvik {

class GtkUpdateAlerts final : public UpdateAlerts {
 public:
  // `parent`: the window the dialogs belong to, or null.
  explicit GtkUpdateAlerts(std::function<Gtk::Window*()> parent);
  ~GtkUpdateAlerts() override;

  void showCritical(const std::string& message, const std::string& informative,
                    std::function<void()> acknowledged) override;
  void showInformational(const std::string& message, const std::string& informative) override;
  void showQuestion(const std::string& message, const std::string& informative, const std::string& confirm,
                    const std::string& cancel, std::function<void(bool)> answered) override;

  // The dialog on screen, if any (tests close it).
  Gtk::MessageDialog* current() { return current_.get(); }

 private:
  struct Pending {
    bool critical;
    std::string message, informative;
    std::function<void()> acknowledged;
    // Questions only: the two buttons and the answer.
    std::string confirm, cancel;
    std::function<void(bool)> answered;
  };
  void showNext();

  std::function<Gtk::Window*()> parent_;
  std::deque<Pending> pending_;
  std::unique_ptr<Gtk::MessageDialog> current_;
};

}  // namespace orvik
