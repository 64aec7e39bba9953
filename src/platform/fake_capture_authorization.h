// Test double of CaptureAuthorization: every device has a status and an
// answer; requests are answered at once, or held until answerAll() when
// `holdAnswers` is set (a person taking their time over a prompt).
#pragma once

#include <functional>
#include <map>
#include <utility>
#include <vector>

#include "platform/capture_authorization.h"

namespace orvik::platform {

class FakeCaptureAuthorization final : public CaptureAuthorization {
 public:
  CaptureAuthorizationStatus status(CaptureDevice device) const override {
    const auto found = statuses.find(device);
    return found == statuses.end() ? CaptureAuthorizationStatus::authorized : found->second;
  }
  void request(CaptureDevice device, std::function<void(bool granted)> done) override {
    asked.push_back(device);
    if (holdAnswers) {
      held.emplace_back(device, std::move(done));
      return;
    }
    done(answerFor(device));
  }
  void answerAll() {
    for (auto& [device, done] : std::exchange(held, {})) done(answerFor(device));
  }
  bool answerFor(CaptureDevice device) const {
    const auto found = answers.find(device);
    return found == answers.end() || found->second;
  }

  std::map<CaptureDevice, CaptureAuthorizationStatus> statuses;
  // Unset devices are granted.
  std::map<CaptureDevice, bool> answers;
  bool holdAnswers = false;
  std::vector<CaptureDevice> asked;
  std::vector<std::pair<CaptureDevice, std::function<void(bool)>>> held;
};

}  // namespace orvik::platform
