// Who is calling: the ring is often shown before the offer comes, with a
// caller the page guessed. The offer's caller wins and is shown at once; the
// page is then asked for the name this user knows the caller by, and its
// answer (callerIdentityResolved) is the final word.
#include "calls/control/native_call_manager.h"
#include "core/native_logger.h"
#include "platform/page_call.h"
#include "platform/queue_checker.h"

namespace orvik {

std::string callStateName(const CallState& state);

namespace {
const char* boolText(bool value) { return value ? "true" : "false"; }
}  // namespace

void NativeCallManager::callerIdentityResolved(const std::string& userNumber, const std::string& name,
                                               const std::optional<std::string>& imageUrl, bool isSubscribed) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  auto& session = state_.call.currentSession;
  // A guessed identity has an empty user number: only the offer corrects it.
  if (!session || session->remoteUser.userNumber != userNumber || name.empty()) return;
  const std::string picture = imageUrl.value_or("");
  session->remoteUser = CallUser{userNumber, name, picture.empty() ? std::nullopt : std::optional(picture), userNumber,
                                 isSubscribed};
  const bool isAudio = session->type == CallType::audio;
  platform::mainQueue().post([weak = weak_from_this(), name, userNumber, picture, isSubscribed, isAudio] {
    auto self = weak.lock();
    if (!self) return;
    self->applyCallerIdentityToUI(name, userNumber, picture, isSubscribed, isAudio);
    self->c_.windows.incomingPanelIdentityResolved();
  });
}

void NativeCallManager::correctDisplayedCallerIdentity(const std::string& userNumber,
                                                       const std::optional<std::string>& name,
                                                       const std::optional<std::string>& avatarURL) {
  auto& session = state_.call.currentSession;
  if (!session || session->remoteUser.userNumber == userNumber) return;
  const std::string displayName = name && !name->empty() ? *name : userNumber;
  const std::string avatar = avatarURL.value_or("");
  log("[NativeCallMgr] correctDisplayedCallerIdentity — web guessed '" + session->remoteUser.name + "' (" +
      session->remoteUser.userNumber + "), offer says " + userNumber + " name='" + displayName +
      "' — resolving our own nickname/gold-status next");
  session->remoteUser =
      CallUser{userNumber, displayName, avatar.empty() ? std::nullopt : std::optional(avatar), userNumber, false};
  const bool isAudio = session->type == CallType::audio;
  platform::mainQueue().post([weak = weak_from_this(), displayName, userNumber, avatar, isAudio] {
    if (auto self = weak.lock()) self->applyCallerIdentityToUI(displayName, userNumber, avatar, false, isAudio);
  });
  // A name that came with the offer is worth showing a panel that waited.
  if (displayName != userNumber) {
    platform::mainQueue().post([weak = weak_from_this()] {
      if (auto self = weak.lock()) self->c_.windows.incomingPanelIdentityResolved();
    });
  }
  resolveCallerDisplayName(userNumber);
}

void NativeCallManager::applyCallerIdentityToUI(const std::string& name, const std::string& orvikID,
                                                const std::string& avatarURL, bool isSubscribed, bool isAudio) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  log("[NativeCallMgr] applyCallerIdentityToUI — name='" + name + "' orvikid=" + orvikID + " imageUrl='" +
      avatarURL + "' isSubscribed=" + boolText(isSubscribed) + " isAudio=" + boolText(isAudio) +
      " callState=" + callStateName(state_.call.callState));
  if (state_.call.callState.kind() == CallState::Kind::ringing) {
    c_.windows.updateIncomingPanelIdentity(name, orvikID, avatarURL, isSubscribed);
  }
  c_.windows.updateCallScreenIdentity(isAudio, name, orvikID, avatarURL, isSubscribed);
}

void NativeCallManager::resolveCallerDisplayName(const std::string& userNumber) {
  log("[NativeCallMgr] resolveCallerDisplayName — asking JS to resolve friend name for orvikid=" + userNumber);
  // The number comes from whoever sent the offer: it reaches the page as a
  // JSON string argument, never as script text.
  platform::callPage(webView_, platform::pageFunctionCall("__orvikResolveCallerIdentity", {userNumber}));
}

}  // namespace orvik
