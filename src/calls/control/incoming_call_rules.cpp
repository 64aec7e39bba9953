#include "calls/control/incoming_call_rules.h"

#include <chrono>

#include "calls/control/native_call_manager.h"

namespace orvik {

std::pair<std::string, std::string> splitCallAddress(const std::string& address) {
  const auto underscore = address.find('_');
  if (underscore == std::string::npos) return {address, ""};
  return {address.substr(0, underscore), address.substr(underscore + 1)};
}

IncomingOfferDecision routeIncomingOffer(const IncomingOfferFacts& f) {
  using Kind = CallState::Kind;
  const bool active = f.state == Kind::ringing || f.state == Kind::calling || f.state == Kind::connecting ||
                      f.state == Kind::connected;
  const bool fresh = (!f.hasSession || !f.sessionIsOutgoing) && !f.offerStored && !f.remoteDescriptionSet;
  const std::string remote = f.remoteUserNumber.value_or("");
  const bool otherCaller = !f.callerUser.empty() && !remote.empty() && f.callerUser != remote;

  if (otherCaller) {
    // A call that rings for a caller the page named (not guessed) belongs to
    // that caller until its offer comes: a stranger's offer must not take the
    // ring over. Only a guessed identity gives way to the offer's caller.
    const bool ringingForKnownCaller = f.state == Kind::ringing && f.hasSession && !f.sessionIdentityGuessed;
    if (active && (!fresh || ringingForKnownCaller)) return {IncomingOfferRoute::ignoreOtherCaller, false};
  }

  // The same offer again (live and from the pending-call record, or a
  // repeat after the answer): kept or applied once already.
  if (f.originalRemoteOfferSDP && *f.originalRemoteOfferSDP == f.offerSdp) {
    return {IncomingOfferRoute::ignoreDuplicate, false};
  }

  if (f.remoteDescriptionSet && f.answered && (f.state == Kind::connecting || f.state == Kind::connected) &&
      !f.callerUser.empty() && f.remoteUserNumber && !otherCaller) {
    // Compared with the device the call is with: the offer's own two device
    // fields name the same sender and would never differ.
    if (!f.offerDevice.empty() && f.remoteDeviceUdid && !f.remoteDeviceUdid->empty() &&
        f.offerDevice != *f.remoteDeviceUdid) {
      return {IncomingOfferRoute::ignoreOtherDevice, false};
    }
    return {IncomingOfferRoute::midCallOffer, false};
  }

  if (f.remoteDescriptionSet || f.answerInProgress) return {IncomingOfferRoute::ignoreDuplicate, false};
  return {IncomingOfferRoute::store, otherCaller};
}

DeferredIncoming parkAnnouncedIncoming(const std::optional<DeferredIncoming>& slot, DeferredIncoming announced) {
  if (slot && slot->pushId == announced.pushId) return *slot;
  announced.acceptWhenReady = false;
  return announced;
}

DeferredIncoming parkAcceptedIncoming(const std::optional<DeferredIncoming>& slot, DeferredIncoming accepted) {
  if (slot && slot->pushId == accepted.pushId) {
    DeferredIncoming kept = *slot;
    kept.acceptWhenReady = true;
    return kept;
  }
  accepted.acceptWhenReady = true;
  return accepted;
}

DeferredReplay decideDeferredReplay(const std::optional<DeferredIncoming>& slot, platform::Clock::WallTime now,
                                    bool managerIdle, double ttlSeconds) {
  if (!slot) return DeferredReplay::nothingParked;
  if (std::chrono::duration<double>(now - slot->at).count() > ttlSeconds) return DeferredReplay::dropStale;
  if (!managerIdle) return DeferredReplay::dropBusy;
  return DeferredReplay::replay;
}

double ghostRingGraceSeconds(bool fromPush, const std::optional<platform::Clock::WallTime>& lastCredentialsSetAt,
                             platform::Clock::WallTime now) {
  if (fromPush) return 0.0;
  const bool recentlyReauthed =
      lastCredentialsSetAt && std::chrono::duration<double>(now - *lastCredentialsSetAt).count() < 8.0;
  return recentlyReauthed ? 9.0 : 5.0;
}

}  // namespace orvik
