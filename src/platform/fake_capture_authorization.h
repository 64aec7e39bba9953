// Test double of CaptureAuthorization: each device's status and the answer
// its access request gives are set by the test; the requests made are kept
// in order. Answers come at once, inside request().
#pragma once

#include <functional>
#include <map>
#include <vector>

#include "platform/capture_authorization.h"

namespace orvik::platform {

class FakeCaptureAuthorization final : public CaptureAuthorization {
 public:
  CaptureAuthorizationStatus status(CaptureDevice device) const override {
    const auto found = statuses.find(device);
    return found == statuses.end() ? CaptureAuthorizationStatus::notDetermined : found->second;
  }
  void request(CaptureDevice device, std::function<void(bool)> done) override {
    asked.push_back(device);
    const auto found = answers.find(device);
    done(found != answers.end() && found->second);
  }

  std::map<CaptureDevice, CaptureAuthorizationStatus> statuses;
  std::map<CaptureDevice, bool> answers;
  std::vector<CaptureDevice> asked;
};

}  // namespace orvik::platform
