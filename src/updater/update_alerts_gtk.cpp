#include "updater/update_alerts_gtk.h"

#include <gtkmm.h>

namespace orvik {

GtkUpdateAlerts::GtkUpdateAlerts(std::function<Gtk::Window*()> parent) : parent_(std::move(parent)) {}

GtkUpdateAlerts::~GtkUpdateAlerts() = default;

void GtkUpdateAlerts::showCritical(const std::string& message, const std::string& informative,
                                   std::function<void()> acknowledged) {
  pending_.push_back({true, message, informative, std::move(acknowledged), {}, {}, nullptr});
  if (!current_) showNext();
}

void GtkUpdateAlerts::showInformational(const std::string& message, const std::string& informative) {
  pending_.push_back({false, message, informative, nullptr, {}, {}, nullptr});
  if (!current_) showNext();
}

void GtkUpdateAlerts::showQuestion(const std::string& message, const std::string& informative,
                                   const std::string& confirm, const std::string& cancel,
                                   std::function<void(bool)> answered) {
  pending_.push_back({false, message, informative, nullptr, confirm, cancel, std::move(answered)});
  if (!current_) showNext();
}

void GtkUpdateAlerts::showNext() {
  if (pending_.empty()) return;
  Pending next = std::move(pending_.front());
  pending_.pop_front();
  const bool question = !next.confirm.empty();
  current_ = std::make_unique<Gtk::MessageDialog>(next.message, false,
                                                  next.critical ? Gtk::MessageType::ERROR : Gtk::MessageType::INFO,
                                                  question ? Gtk::ButtonsType::NONE : Gtk::ButtonsType::OK, true);
  if (question) {
    current_->add_button(next.confirm, Gtk::ResponseType::ACCEPT);
    current_->add_button(next.cancel, Gtk::ResponseType::CANCEL);
    current_->set_default_response(Gtk::ResponseType::ACCEPT);
  }
  current_->set_secondary_text(next.informative);
  if (Gtk::Window* parent = parent_ ? parent_() : nullptr) current_->set_transient_for(*parent);
  current_->set_hide_on_close(true);
  current_->signal_response().connect([this, acknowledged = std::move(next.acknowledged),
                                       answered = std::move(next.answered)](int response) {
    // The dialog goes once its signal has returned.
    auto closing = std::shared_ptr<Gtk::MessageDialog>(current_.release());
    closing->hide();
    Glib::signal_idle().connect_once([closing] {});
    if (acknowledged) acknowledged();
    if (answered) answered(response == static_cast<int>(Gtk::ResponseType::ACCEPT));
    showNext();
  });
  current_->present();
}

}  // namespace orvik
