// What the web application tells the call engine about the signed-in
// account: special calling access, the server's call-finished notice,
// screenshot access, the subscription flag. (Credentials and the decoy and
// wipe-out flags are in call_credentials.cpp.)
#include <algorithm>
#include <cctype>

#include "calls/control/native_call_manager.h"
#include "core/native_logger.h"
#include "platform/queue_checker.h"
#include "platform/user_defaults.h"

namespace orvik {

std::string callStateName(const CallState& state);

namespace {

std::string trimmed(const std::string& text) {
  const auto isSpace = [](unsigned char c) { return std::isspace(c) != 0; };
  const auto begin = std::find_if_not(text.begin(), text.end(), isSpace);
  if (begin == text.end()) return {};
  const auto last = std::find_if_not(text.rbegin(), text.rend(), isSpace);
  return std::string(begin, last.base());
}

}  // namespace

std::set<std::string> specialCallingNumberSet(const std::vector<std::string>& numbers) {
  std::set<std::string> set;
  for (const auto& number : numbers) {
    auto value = trimmed(number);
    if (!value.empty()) set.insert(std::move(value));
  }
  return set;
}

void NativeCallManager::setCallLimitExempt(bool exempt, const std::vector<std::string>& numbers) {
  if (!platform::mainQueue().isCurrent()) {
    platform::mainQueue().post([weak = weak_from_this(), exempt, numbers] {
      if (auto self = weak.lock()) self->setCallLimitExempt(exempt, numbers);
    });
    return;
  }
  auto& kept = state_.kept;
  const auto& call = state_.call;
  kept.specialCallingNumbers = specialCallingNumberSet(numbers);
  const bool previous = kept.callLimitExempt;
  kept.callLimitExempt = exempt;
  log(std::string("[CallLimit] special calling access — me=") + (exempt ? "true" : "false") +
      " list=" + std::to_string(kept.specialCallingNumbers.size()) + " OrvikID(s)" +
      (exempt != previous ? " (changed)" : ""));
  const bool peerListed = call.remoteUserNumber && kept.specialCallingNumbers.contains(*call.remoteUserNumber);
  if (kept.callLimitExempt || call.peerCallLimitExempt || peerListed) {
    platform::mainQueue().post([weak = weak_from_this()] {
      if (auto self = weak.lock()) self->hideCallLimitBanner();
    });
  }
  if (exempt && !previous && call.callState.kind() == CallState::Kind::connected && peerConn_) {
    peerConn_->sendDataChannelMessage(dataChannelFlagMessage("CallLimitExempt", true));
  }
}

void NativeCallManager::handleServerCallFinished() {
  if (!platform::mainQueue().isCurrent()) {
    platform::mainQueue().post([weak = weak_from_this()] {
      if (auto self = weak.lock()) self->handleServerCallFinished();
    });
    return;
  }
  auto& call = state_.call;
  const auto kind = call.callState.kind();
  const bool live = kind == CallState::Kind::ringing || kind == CallState::Kind::calling ||
                    kind == CallState::Kind::connecting || kind == CallState::Kind::connected;
  if (!live || !call.currentSession || !call.currentSession->connectedAt) {
    log("[NativeCallMgr] server CALL_FINISHED — no connected call here (state=" + callStateName(call.callState) +
        "), ignoring");
    return;
  }
  const auto ice = peerConn_ ? peerConn_->lastIceState() : IceConnectionState::newState;
  const bool mediaUp = ice == IceConnectionState::connected || ice == IceConnectionState::completed;
  if (!mediaUp || call.iceDisconnectTimer) {
    endAsOtherSideGone();
    return;
  }
  call.serverCallFinishedAt = clock().now();
  log("[NativeCallMgr] server CALL_FINISHED while media still connected — will end at once if the connection drops "
      "within 60s");
  // The connection-state handler ends the call at once when it drops
  // within kServerCallFinishedGraceSeconds of serverCallFinishedAt.
}

void NativeCallManager::endAsOtherSideGone() {
  log("[NativeCallMgr] ❌ server CALL_FINISHED + connection down — the other side is gone (app closed/killed); "
      "ending now");
  timeline_.noteEndReason("the other side's app closed mid-call (server CALL_FINISHED)");
  handleRemoteEnd(true);
}

void NativeCallManager::setScreenshotAccessAllowed(bool allowed) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  state_.kept.isScreenshotAccessAllowed = allowed;
  c_.defaults.setBool(kScreenshotAccessKey, allowed);
  log(std::string("[NativeCallMgr] screenshotAccessAllowed → ") + (allowed ? "true" : "false"));
  if (state_.call.isScreenSharing || state_.call.screenShareStarting) {
    platform::mainQueue().post([weak = weak_from_this(), allowed] {
      if (auto self = weak.lock()) self->applyScreenshotAccess(allowed);
    });
  }
}

void NativeCallManager::setLocalIsSubscribed(bool subscribed) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  state_.kept.localIsSubscribed = subscribed;
  log(std::string("[NativeCallMgr] localIsSubscribed = ") + (subscribed ? "true" : "false"));
}

}  // namespace orvik
