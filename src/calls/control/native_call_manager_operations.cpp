#include "calls/control/native_call_manager_operations.h"

#include "calls/control/native_call_manager.h"

namespace orvik {

bool NativeCallManagerOperations::isInCall() const { return manager_.isInCall(); }
bool NativeCallManagerOperations::isMaskedOrWiped() const { return manager_.isMaskedOrWiped(); }
bool NativeCallManagerOperations::hasCredentials() const { return manager_.hasCredentials(); }

bool NativeCallManagerOperations::isRingingIncoming(const std::string& userNumber, const std::string& pushId) const {
  // Only a call that still rings has a panel to show again.
  return manager_.callState().kind() == CallState::Kind::ringing &&
         manager_.isRingingCallAnnouncement(userNumber, pushId);
}

void NativeCallManagerOperations::setCallLimitExempt(bool exempt, const std::vector<std::string>& numbers) {
  manager_.setCallLimitExempt(exempt, numbers);
}

void NativeCallManagerOperations::handleServerCallFinished() { manager_.handleServerCallFinished(); }

void NativeCallManagerOperations::setScreenshotAccessAllowed(bool allowed) {
  // Stored there too: call windows built from now on read it.
  manager_.setScreenshotAccessAllowed(allowed);
}

void NativeCallManagerOperations::setLocalIsSubscribed(bool subscribed) { manager_.setLocalIsSubscribed(subscribed); }

void NativeCallManagerOperations::sendBusyToNewCaller(const std::string& userNumber) {
  manager_.sendBusyToNewCaller(userNumber);
}

void NativeCallManagerOperations::prepareSignalingForIncoming(const IncomingCallAnnouncement& call) {
  manager_.prepareSignalingForIncoming(call.userNumber, call.callerName, call.isAudio, call.pushId, call.imageUrl,
                                       /*fromPush=*/false, call.callerIsSubscribed, call.isDarkMode,
                                       call.identityGuessed);
}

void NativeCallManagerOperations::callerIdentityResolved(const std::string& userNumber, const std::string& name,
                                                         const std::optional<std::string>& imageUrl,
                                                         bool isSubscribed) {
  manager_.callerIdentityResolved(userNumber, name, imageUrl, isSubscribed);
}

void NativeCallManagerOperations::handleSendToMyDevices(const std::string& action) {
  manager_.handleSendToMyDevices(action);
}

void NativeCallManagerOperations::handleMissedCallMessage(const std::string& caller, const std::string& pushId) {
  manager_.handleMissedCallMessage(caller, pushId);
}

void NativeCallManagerOperations::handleIncomingCall(const std::string& caller, bool isAudio,
                                                     const std::string& pushId, bool isDarkMode) {
  manager_.handleIncomingCall(caller, std::nullopt, isAudio, pushId, isDarkMode);
}

void NativeCallManagerOperations::acceptIncomingFromPanel(const std::string& userNumber, const std::string& name,
                                                          bool isAudio, const std::string& pushId, bool isDarkMode) {
  manager_.acceptIncomingFromPanel(userNumber, name, isAudio, pushId, isDarkMode);
}

void NativeCallManagerOperations::rejectCall() { manager_.rejectCall(); }

void NativeCallManagerOperations::endCall() { manager_.endCall(); }

int NativeCallManagerOperations::dailyVideoUsedSeconds() { return manager_.dailyVideoUsedSeconds(); }

}  // namespace orvik
