// Test double of UpdateAlerts: keeps every alert; `acknowledgeAll()` closes
// the critical ones as a user would.
#pragma once

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
  };

  void showCritical(const std::string& message, const std::string& informative,
                    std::function<void()> acknowledged) override {
    alerts.push_back({true, message, informative});
    pending_.push_back(std::move(acknowledged));
  }
  void showInformational(const std::string& message, const std::string& informative) override {
    alerts.push_back({false, message, informative});
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
};

}  // namespace orvik
