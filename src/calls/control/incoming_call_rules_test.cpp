// The incoming side's tables: offer routing, the parked-call slot, the replay
// after credentials (45 s kept, 46 s stale) and the ghost-ring grace.
#include "calls/control/incoming_call_rules.h"

#include <gtest/gtest.h>

#include "calls/control/native_call_manager.h"

namespace orvik {
namespace {

using Kind = CallState::Kind;
using Route = IncomingOfferRoute;
using namespace std::chrono_literals;

TEST(IncomingOfferRouting, SendsEachOfferWhereItBelongs) {
  struct Row {
    const char* name;
    IncomingOfferFacts facts;
    Route route;
    bool correctsCaller;
  };
  // A ringing call from 4712 announced by the page, no offer yet.
  IncomingOfferFacts ringing;
  ringing.state = Kind::ringing;
  ringing.hasSession = true;
  ringing.remoteUserNumber = "4712";
  ringing.callerUser = "4712";
  ringing.offerDevice = "phoneB";
  ringing.offerSdp = "v=0 offer-1";

  auto with = [](IncomingOfferFacts f, auto change) {
    change(f);
    return f;
  };
  // The same call answered and connected with device phoneB.
  const auto connected = with(ringing, [](auto& f) {
    f.state = Kind::connected;
    f.remoteDescriptionSet = true;
    f.answered = true;
    f.remoteDeviceUdid = "phoneB";
    f.originalRemoteOfferSDP = "v=0 offer-1";
    f.offerSdp = "v=0 restart-2";
  });

  const std::vector<Row> rows = {
      {"fresh offer while idle, no session", with(ringing, [](auto& f) {
         f.state = Kind::idle;
         f.hasSession = false;
         f.remoteUserNumber.reset();
       }), Route::store, false},
      {"offer of the ringing caller", ringing, Route::store, false},
      {"offer naming the real caller of a guessed ring", with(ringing, [](auto& f) {
         f.sessionIdentityGuessed = true;
         f.callerUser = "4799";
       }), Route::store, true},
      {"stranger's offer while a named caller rings", with(ringing, [](auto& f) { f.callerUser = "4799"; }),
       Route::ignoreOtherCaller, false},
      {"stranger's offer after the ringing call's offer", with(ringing, [](auto& f) {
         f.offerStored = true;
         f.originalRemoteOfferSDP = "v=0 offer-1";
         f.callerUser = "4799";
         f.offerSdp = "v=0 other";
       }), Route::ignoreOtherCaller, false},
      {"another caller during an outgoing call", with(ringing, [](auto& f) {
         f.state = Kind::calling;
         f.sessionIsOutgoing = true;
         f.callerUser = "4799";
       }), Route::ignoreOtherCaller, false},
      {"another caller during a connected call", with(connected, [](auto& f) { f.callerUser = "4799"; }),
       Route::ignoreOtherCaller, false},
      {"the stored offer again (live, then the pending-call record)", with(ringing, [](auto& f) {
         f.offerStored = true;
         f.originalRemoteOfferSDP = "v=0 offer-1";
       }), Route::ignoreDuplicate, false},
      {"the applied offer again", with(connected, [](auto& f) { f.offerSdp = "v=0 offer-1"; }),
       Route::ignoreDuplicate, false},
      {"a new offer while the answer is being made", with(ringing, [](auto& f) {
         f.state = Kind::connecting;
         f.answerInProgress = true;
         f.originalRemoteOfferSDP = "v=0 offer-1";
         f.offerSdp = "v=0 offer-2";
       }), Route::ignoreDuplicate, false},
      {"restart offer from the current peer's device", connected, Route::midCallOffer, false},
      {"offer from the current peer's other device", with(connected, [](auto& f) { f.offerDevice = "tabletB"; }),
       Route::ignoreOtherDevice, false},
      {"offer from the peer before my answer went out", with(connected, [](auto& f) {
         f.state = Kind::connecting;
         f.answered = false;
       }), Route::ignoreDuplicate, false},
  };
  for (const auto& row : rows) {
    const auto decision = routeIncomingOffer(row.facts);
    EXPECT_EQ(decision.route, row.route) << row.name;
    EXPECT_EQ(decision.correctsCaller, row.correctsCaller) << row.name;
  }
}

TEST(IncomingOfferRouting, SplitsAddressesAtTheFirstUnderscore) {
  EXPECT_EQ(splitCallAddress("4711_deskA"), std::make_pair(std::string("4711"), std::string("deskA")));
  EXPECT_EQ(splitCallAddress("4711_desk_A"), std::make_pair(std::string("4711"), std::string("desk_A")));
  EXPECT_EQ(splitCallAddress("4711"), std::make_pair(std::string("4711"), std::string()));
}

DeferredIncoming parked(const std::string& pushId, platform::Clock::WallTime at, bool accepted = false) {
  DeferredIncoming record;
  record.from = "4712";
  record.pushId = pushId;
  record.at = at;
  record.acceptWhenReady = accepted;
  return record;
}

TEST(ParkedIncomingCall, TheSameCallKeepsItsRecordAnotherReplacesIt) {
  const platform::Clock::WallTime t0{};
  struct Row {
    const char* name;
    std::optional<DeferredIncoming> slot;
    DeferredIncoming incoming;
    bool accept;
    DeferredIncoming expected;
  };
  const std::vector<Row> rows = {
      {"announced into an empty slot", std::nullopt, parked("P1", t0 + 5s), false, parked("P1", t0 + 5s)},
      {"same call announced again keeps its time", parked("P1", t0), parked("P1", t0 + 9s), false, parked("P1", t0)},
      {"same call keeps an early Accept", parked("P1", t0, true), parked("P1", t0 + 9s), false,
       parked("P1", t0, true)},
      {"another call replaces the record", parked("P1", t0, true), parked("P2", t0 + 9s), false,
       parked("P2", t0 + 9s)},
      {"Accept marks the parked call, keeping its time", parked("P1", t0), parked("P1", t0 + 9s), true,
       parked("P1", t0, true)},
      {"Accept of another call replaces it, marked", parked("P1", t0), parked("P2", t0 + 9s), true,
       parked("P2", t0 + 9s, true)},
      {"Accept into an empty slot", std::nullopt, parked("P2", t0 + 9s), true, parked("P2", t0 + 9s, true)},
  };
  for (const auto& row : rows) {
    const auto result =
        row.accept ? parkAcceptedIncoming(row.slot, row.incoming) : parkAnnouncedIncoming(row.slot, row.incoming);
    EXPECT_EQ(result, row.expected) << row.name;
  }
}

TEST(ParkedIncomingCall, ReplaysUpTo45SecondsAfterParkingAndOnlyWhenIdle) {
  const platform::Clock::WallTime t0{};
  struct Row {
    const char* name;
    std::optional<DeferredIncoming> slot;
    platform::Clock::WallTime now;
    bool idle;
    DeferredReplay expected;
  };
  const std::vector<Row> rows = {
      {"nothing parked", std::nullopt, t0, true, DeferredReplay::nothingParked},
      {"10 s", parked("P1", t0), t0 + 10s, true, DeferredReplay::replay},
      {"45 s", parked("P1", t0), t0 + 45s, true, DeferredReplay::replay},
      {"45.5 s", parked("P1", t0), t0 + 45500ms, true, DeferredReplay::dropStale},
      {"46 s", parked("P1", t0), t0 + 46s, true, DeferredReplay::dropStale},
      {"another call active", parked("P1", t0), t0 + 10s, false, DeferredReplay::dropBusy},
      {"stale and busy", parked("P1", t0), t0 + 50s, false, DeferredReplay::dropStale},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(decideDeferredReplay(row.slot, row.now, row.idle, NativeCallManager::kDeferredIncomingTTL),
              row.expected)
        << row.name;
  }
}

TEST(GhostRing, WaitsLongerRightAfterACredentialHandOver) {
  const platform::Clock::WallTime t0{};
  struct Row {
    const char* name;
    bool fromPush;
    std::optional<platform::Clock::WallTime> credentialsAt;
    double grace;
  };
  const std::vector<Row> rows = {
      {"push ring: at once", true, t0 + 97s, 0.0},
      {"never had credentials", false, std::nullopt, 5.0},
      {"credentials 6 s ago", false, t0 + 94s, 9.0},
      {"credentials 7.9 s ago", false, t0 + 92100ms, 9.0},
      {"credentials 8 s ago", false, t0 + 92s, 5.0},
      {"credentials 9 s ago", false, t0 + 91s, 5.0},
  };
  for (const auto& row : rows) {
    EXPECT_DOUBLE_EQ(ghostRingGraceSeconds(row.fromPush, row.credentialsAt, t0 + 100s), row.grace) << row.name;
  }
}

}  // namespace
}  // namespace orvik
