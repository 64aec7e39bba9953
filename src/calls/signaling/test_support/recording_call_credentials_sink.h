// Test double of CallCredentialsSink: keeps what it was handed.
#pragma once

#include <optional>
#include <utility>
#include <vector>

#include "calls/signaling/call_credentials_sink.h"

namespace orvik {

class RecordingCallCredentialsSink final : public CallCredentialsSink {
 public:
  bool hasCredentials() const override { return credentials.has_value() && !credentials->userNumber.empty(); }
  void setCredentials(const CallCredentials& given) override {
    credentials = given;
    ++setCount;
  }
  void clearCredentials() override {
    credentials.reset();
    ++clearCount;
  }
  void setSecurityState(bool maskData, bool isReversePinTriggered) override {
    securityStates.emplace_back(maskData, isReversePinTriggered);
  }

  std::optional<CallCredentials> credentials;
  int setCount = 0;
  int clearCount = 0;
  std::vector<std::pair<bool, bool>> securityStates;
};

}  // namespace orvik
