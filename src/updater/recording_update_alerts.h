// Test double of UpdateAlerts: keeps every alert; `acknowledgeAll()` closes
// the critical ones and `answer()` the oldest question as a user would.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "updater/update_alerts.h"

namespace orvik {

class RecordingUpdateAlerts final : public UpdateAlerts {
 public:
  struct Alert {
    bool critical = false;
    std::string message;
    std::string informative;
    std::vector<std::string> buttons;  // questions only
  };

  void showCritical(const std::string& message, const std::string& informative,
                    std::function<void()> acknowledged) override {
    alerts.push_back({true, message, informative, {}});
    pending_.push_back(std::move(acknowledged));
  }
  void showInformational(const std::string& message, const std::string& informative) override {
    alerts.push_back({false, message, informative, {}});
  }
  void showQuestion(const std::string& message, const std::string& informative, const std::string& confirm,
                    const std::string& cancel, std::function<void(bool)> answered) override {
    alerts.push_back({false, message, informative, {confirm, cancel}});
    questions_.push_back(std::move(answered));
  }
  // Answers the oldest open question as a user would.
  void answer(bool confirmed) {
    if (questions_.empty()) return;
    auto answered = std::move(questions_.front());
    questions_.erase(questions_.begin());
    if (answered) answered(confirmed);
  }
  void acknowledgeAll() {
    auto pending = std::move(pending_);
    pending_.clear();
    for (auto& done : pending) {
      if (done) done();
    }
  }

  std::vector<Alert> alerts;

 private:
  std::vector<std::function<void()>> pending_;
  std::vector<std::function<void(bool)>> questions_;
};

}  // namespace orvik
