// The decisions of the incoming side of a call that are tables: where a
// caller's offer goes, what the one-slot parked call becomes when another
// announcement or an early Accept comes, whether a parked call is replayed
// when credentials land, and how long a ring waits for an offer the server
// says it does not hold. Pure functions, so they are tested as tables.
//
// THREAD-SAFETY: pure; any thread.
#pragma once

#include <optional>
#include <string>

#include "calls/signaling/call_model.h"
#include "platform/dispatch/clock.h"

namespace orvik {

// The one incoming call parked until the page hands credentials over.
struct DeferredIncoming;

// ---- Offer routing -------------------------------------------------------

// What the manager knows when a caller's offer arrives.
struct IncomingOfferFacts {
  CallState::Kind state = CallState::Kind::idle;
  // The current session, if any, and its direction.
  bool hasSession = false;
  bool sessionIsOutgoing = false;
  // The ringing session shows a caller the page only guessed (its user
  // number is empty): the offer names the real one.
  bool sessionIdentityGuessed = false;
  bool offerStored = false;
  bool remoteDescriptionSet = false;
  bool answerInProgress = false;
  // This side's answer went out (callee) or the callee's answer came (caller).
  bool answered = false;
  // The caller's user number (the offer's address before the first "_") and
  // its device (the rest).
  std::string callerUser;
  std::string offerDevice;
  // The device the call is with, when known.
  std::optional<std::string> remoteDeviceUdid;
  std::optional<std::string> remoteUserNumber;
  std::string offerSdp;
  std::optional<std::string> originalRemoteOfferSDP;
};

enum class IncomingOfferRoute {
  // Another caller while this one is busy (or rings with a known caller):
  // dropped, nothing sent to its sender.
  ignoreOtherCaller,
  // The current peer's other device during a call: dropped.
  ignoreOtherDevice,
  // A renegotiation or restart offer from the current peer.
  midCallOffer,
  // Kept until the call is accepted (and applied at once if it already was).
  store,
  // The offer already stored or applied, delivered again.
  ignoreDuplicate,
};

struct IncomingOfferDecision {
  IncomingOfferRoute route = IncomingOfferRoute::store;
  // The offer's caller replaces the one the page announced.
  bool correctsCaller = false;
};

IncomingOfferDecision routeIncomingOffer(const IncomingOfferFacts& facts);

// "4711_deskA" → {"4711", "deskA"}; "4711" → {"4711", ""}.
std::pair<std::string, std::string> splitCallAddress(const std::string& address);

// ---- The parked call -----------------------------------------------------

// The slot after an announcement while credentials are missing: the same
// call keeps its record (its time and an early Accept stay), another call
// replaces it.
DeferredIncoming parkAnnouncedIncoming(const std::optional<DeferredIncoming>& slot, DeferredIncoming announced);
// The slot after Accept while credentials are missing: the parked call is
// marked to be accepted; another call replaces it, marked too.
DeferredIncoming parkAcceptedIncoming(const std::optional<DeferredIncoming>& slot, DeferredIncoming accepted);

enum class DeferredReplay { nothingParked, replay, dropStale, dropBusy };
// What the replay after a credential hand-over does with the slot's record;
// a record parked more than `ttlSeconds` ago is stale.
DeferredReplay decideDeferredReplay(const std::optional<DeferredIncoming>& slot, platform::Clock::WallTime now,
                                    bool managerIdle, double ttlSeconds);

// ---- Ghost rings -----------------------------------------------------------

// How long a ring waits for its offer once the server said it holds no
// pending call: a push ring not at all (0), else 5 s, or 9 s when the page
// handed credentials over less than 8 s ago (the offer may still be on its
// way).
double ghostRingGraceSeconds(bool fromPush, const std::optional<platform::Clock::WallTime>& lastCredentialsSetAt,
                             platform::Clock::WallTime now);

}  // namespace orvik
