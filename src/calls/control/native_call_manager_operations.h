// CallManagerOperations over the call manager: what the page's call messages
// reach of NativeCallManager.
//
// Owner: the composition root, beside the manager it wraps.
// THREAD-SAFETY: main queue only.
#pragma once

#include <string>

#include "calls/control/call_message_operations.h"

namespace orvik {

class NativeCallManager;

class NativeCallManagerOperations final : public CallManagerOperations {
 public:
  explicit NativeCallManagerOperations(NativeCallManager& manager) : manager_(manager) {}

  bool isInCall() const override;
  bool isMaskedOrWiped() const override;
  bool hasCredentials() const override;
  bool isRingingIncoming(const std::string& userNumber, const std::string& pushId) const override;
  void setCallLimitExempt(bool exempt, const std::vector<std::string>& numbers) override;
  void handleServerCallFinished() override;
  void setScreenshotAccessAllowed(bool allowed) override;
  void setLocalIsSubscribed(bool subscribed) override;
  void sendBusyToNewCaller(const std::string& userNumber) override;
  void prepareSignalingForIncoming(const IncomingCallAnnouncement& call) override;
  void callerIdentityResolved(const std::string& userNumber, const std::string& name,
                              const std::optional<std::string>& imageUrl, bool isSubscribed) override;
  void handleSendToMyDevices(const std::string& action) override;
  void handleMissedCallMessage(const std::string& caller, const std::string& pushId) override;
  void handleIncomingCall(const std::string& caller, bool isAudio, const std::string& pushId,
                          bool isDarkMode) override;
  void acceptIncomingFromPanel(const std::string& userNumber, const std::string& name, bool isAudio,
                               const std::string& pushId, bool isDarkMode) override;
  void rejectCall() override;
  void endCall() override;
  int dailyVideoUsedSeconds() override;

 private:
  NativeCallManager& manager_;
};

}  // namespace orvik
