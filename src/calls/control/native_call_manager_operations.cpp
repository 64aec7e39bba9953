#include "calls/control/native_call_manager_operations.h"

#include "calls/control/native_call_manager.h"
#include "core/native_logger.h"
#include "platform/user_defaults.h"

namespace orvik {
NativeCallManagerOperations::NativeCallManagerOperations(NativeCallManager& manager, platform::UserDefaults& defaults,
                                                         LogFunction log)
    : manager_(manager), defaults_(defaults), log_(std::move(log)) {}

void NativeCallManagerOperations::notYet(const std::string& operation) const {
  const std::string line = "[WebView] " + operation + " asked for — not available in this build yet";
  if (log_) {
    log_(line);
  } else {
    nativeLog(line);
  }
}

bool NativeCallManagerOperations::isInCall() const { return manager_.isInCall(); }
bool NativeCallManagerOperations::isMaskedOrWiped() const { return manager_.isMaskedOrWiped(); }
bool NativeCallManagerOperations::hasCredentials() const { return manager_.hasCredentials(); }

bool NativeCallManagerOperations::isRingingIncoming(const std::string& userNumber, const std::string&) const {
  const auto& call = manager_.state().call;
  if (call.callState.kind() != CallState::Kind::ringing || !call.currentSession ||
      call.currentSession->direction != CallDirection::incoming) {
    return false;
  }
  // TODO(incoming calls issue): also match the ringing call's push id.
  return !userNumber.empty() && call.currentSession->remoteUser.userNumber == userNumber;
}

void NativeCallManagerOperations::setCallLimitExempt(bool exempt, const std::vector<std::string>& numbers) {
  manager_.setCallLimitExempt(exempt, numbers);
}

void NativeCallManagerOperations::handleServerCallFinished() {
  // TODO(call recovery issue): NativeCallManager::handleServerCallFinished.
  notYet("NativeCallManager.handleServerCallFinished");
}

void NativeCallManagerOperations::setScreenshotAccessAllowed(bool allowed) {
  // Call windows built from now on read the stored flag.
  defaults_.setBool(NativeCallManager::kScreenshotAccessKey, allowed);
  // TODO(web-app call settings issue): NativeCallManager::setScreenshotAccessAllowed keeps its own flag too.
  manager_.applyScreenshotAccess(allowed);
}

void NativeCallManagerOperations::setLocalIsSubscribed(bool subscribed) { manager_.setLocalIsSubscribed(subscribed); }

void NativeCallManagerOperations::sendBusyToNewCaller(const std::string&) {
  // TODO(incoming calls issue): NativeCallManager::sendBusyToNewCaller.
  notYet("NativeCallManager.sendBusyToNewCaller");
}

void NativeCallManagerOperations::prepareSignalingForIncoming(const IncomingCallAnnouncement&) {
  // TODO(incoming calls issue): NativeCallManager::prepareSignalingForIncoming.
  notYet("NativeCallManager.prepareSignalingForIncoming");
}

void NativeCallManagerOperations::callerIdentityResolved(const std::string&, const std::string&,
                                                         const std::optional<std::string>&, bool) {
  // TODO(incoming calls issue): NativeCallManager::callerIdentityResolved.
  notYet("NativeCallManager.callerIdentityResolved");
}

void NativeCallManagerOperations::handleSendToMyDevices(const std::string& action) {
  manager_.handleSendToMyDevices(action);
}

void NativeCallManagerOperations::handleMissedCallMessage(const std::string&, const std::string&) {
  // TODO(incoming calls issue): NativeCallManager::handleMissedCallMessage.
  notYet("NativeCallManager.handleMissedCallMessage");
}

void NativeCallManagerOperations::handleIncomingCall(const std::string&, bool, const std::string&, bool) {
  // TODO(incoming calls issue): NativeCallManager::handleIncomingCall.
  notYet("NativeCallManager.handleIncomingCall");
}

void NativeCallManagerOperations::acceptIncomingFromPanel(const std::string&, const std::string&, bool,
                                                          const std::string&, bool) {
  // TODO(incoming calls issue): NativeCallManager::acceptIncomingFromPanel.
  notYet("NativeCallManager.acceptIncomingFromPanel");
}

void NativeCallManagerOperations::rejectCall() {
  // A ringing call is declined by the hang-up; nothing else is rejected.
  // TODO(incoming calls issue): NativeCallManager::rejectCall once it is public.
  if (manager_.callState().kind() == CallState::Kind::ringing) manager_.hangUpCurrentCall();
}

void NativeCallManagerOperations::endCall() { manager_.endCall(); }

int NativeCallManagerOperations::dailyVideoUsedSeconds() { return manager_.dailyVideoUsedSeconds(); }

}  // namespace orvik
