// The page's call credentials and security state (CallCredentialsSink).
#include "calls/control/native_call_manager.h"
#include "core/native_logger.h"
#include "platform/user_defaults.h"

namespace orvik {

void NativeCallManager::setCredentials(const CallCredentials& credentials) {
  auto& kept = state_.kept;
  kept.myUserNumber = credentials.userNumber;
  kept.myDeviceUdid = credentials.deviceUdid;
  kept.myAuthToken = credentials.authToken;
  kept.myDisplayName = credentials.displayName;
  kept.myAvatarURL = credentials.avatarURL;
  kept.lastCredentialsSetAt = clock().now();
  platform::mainQueue().post([weak = weak_from_this()] {
    if (auto self = weak.lock()) self->handleCredentialsStored();
  });
}

void NativeCallManager::clearCredentials() {
  auto& kept = state_.kept;
  log("[NativeCallMgr] Credentials cleared on signout (was: " + kept.myUserNumber.value_or("nil") + ")");
  // The call ends the whole way while the credentials still address the
  // peer: the peer is told, the record written, the windows closed.
  if (isInCall()) endCall();
  kept.myUserNumber.reset();
  kept.myDeviceUdid.reset();
  kept.myAuthToken.reset();
  kept.lastCredentialsSetAt.reset();
  kept.myDisplayName.clear();
  kept.myAvatarURL.clear();
  state_.call.reauthAttempted = false;
  state_.call.awaitingReauth = false;
}

void NativeCallManager::setSecurityState(bool maskData, bool isReversePinTriggered) {
  state_.kept.isMasked = maskData;
  state_.kept.isWiped = isReversePinTriggered;
  c_.defaults.setBool(kMaskDataKey, maskData);
  c_.defaults.setBool(kReversePinKey, isReversePinTriggered);
  log(std::string("[NativeCallMgr] securityState → masked:") + (maskData ? "true" : "false") +
      " wiped:" + (isReversePinTriggered ? "true" : "false"));
}

}  // namespace orvik
