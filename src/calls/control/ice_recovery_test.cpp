// ICE restart and reconnection on virtual time: the manager calls the fake
// device B (CalleeScript), the test plays the call server and B. The attempt
// time-outs, restarts and requests, stale answers, the reconnect window, the
// socket-reconnect recovery with the plain re-offer to a mobile peer, and a
// credential refresh that must not rebuild the running connection.
#include <gtest/gtest.h>

#include <algorithm>

#include "calls/control/test_support/ice_recovery_script.h"

namespace orvik::testing {
namespace {

using Kind = CallState::Kind;
using Strings = std::vector<std::string>;
using nlohmann::json;

class IceRecoveryTest : public ::testing::Test, public IceScript {};

// The attempt time-out table of a caller whose peer can restart, before the
// call ever connected: restart 1/2 after 10 s, 2/2 after 10 s more, then the
// call is given up; a late answer to restart 1 is stale once 2 has started.
TEST_F(IceRecoveryTest, TheCallersAttemptTimeOutsRestartTwiceThenGiveUp) {
  placeUntilOfferSent();
  answer();
  queue.runUntilIdle();
  ASSERT_TRUE(manager->peerCanRestartIce());
  EXPECT_TRUE(logged("[ICERestart] peer 4712_B supports ICE restart"));
  EXPECT_TRUE(logged("[ICERestart] attempt timer 10s armed — answer applied (peerCanRestart=true role=caller)"));

  struct Step {
    double advance;
    std::size_t restartOffers;
    Kind state;
    const char* logLine;  // "" when nothing in particular
  };
  const Step steps[] = {
      {9.9, 0, Kind::connecting, ""},
      {0.1, 1, Kind::connecting, "[ICERestart] caller → restart 1/2 (not connected 10s after answer applied)"},
      {9.9, 1, Kind::connecting, "[ICERestart] attempt timer 10s armed — restart 1 offer sent"},
      {0.1, 2, Kind::connecting, "[ICERestart] caller → restart 2/2 (not connected 10s after restart 1 offer sent)"},
      {9.9, 2, Kind::connecting, ""},
      {0.1, 2, Kind::ended,
       "[ICERestart] ❌ giving up — call never connected (not connected 10s after restart 2 offer sent)"},
  };
  int at = 0;
  for (const auto& step : steps) {
    SCOPED_TRACE(++at);
    queue.advance(step.advance);
    EXPECT_EQ(restartOffers(), step.restartOffers);
    EXPECT_EQ(manager->callState(), CallState(step.state));
    if (*step.logLine) {
      EXPECT_TRUE(logged(step.logLine));
    }
    if (step.restartOffers == 2 && step.state == Kind::connecting && at == 4) {
      // Restart 2 is out: an answer to restart 1 comes too late.
      const auto offers = frames("iceRestartOffer");
      EXPECT_EQ(offers[0]["iceRestartAttempt"], 1);
      EXPECT_EQ(offers[1]["iceRestartAttempt"], 2);
      EXPECT_EQ(offers[1]["to"], "4712_B");
      EXPECT_EQ(offers[1]["from"], "4711_deskA");
      EXPECT_EQ(offers[1]["iceRestartV1"], true);
      answerRestart("iceRestartOffer", 1);
      EXPECT_TRUE(logged("[ICERestart] restart answer from 4712_B attempt=1 ignored — inFlight=true current=2"));
      EXPECT_EQ(commandCount("applyIceRestartAnswer"), 0u);
    }
  }
  EXPECT_TRUE(logged("[ICERestart] not connected 10s after restart 2 offer sent — role=caller peerCanRestart=true "
                     "restarts=2 requests=0 midCall=false"));
  queue.advance(5.0);
  EXPECT_EQ(manager->callState(), CallState(Kind::idle));
  EXPECT_TRUE(logged("■ END — could not connect — not connected 10s after restart 2 offer sent (see [ICE] WHY line)"));
  EXPECT_EQ(commandCount("checkStillConnecting"), 3u);
}

TEST_F(IceRecoveryTest, ARestartAnswerOfTheCurrentAttemptReconnectsAndResetsTheCounters) {
  placeUntilOfferSent();
  answer();
  queue.advance(10.0);
  ASSERT_EQ(restartOffers(), 1u);
  // Candidates of the new generation that arrive before the answer wait.
  answerRestart();
  EXPECT_TRUE(logged("[ICERestart] caller ← restart answer 1 applied — ICE re-checking"));
  EXPECT_FALSE(call().iceRestartInFlight);
  tradeCandidates();
  EXPECT_EQ(manager->callState(), CallState(Kind::connected));
  EXPECT_TRUE(logged("[ICERestart] ✅ connected after restart (restarts=1 requests=0) ("));
  EXPECT_EQ(call().iceRestartCount, 0);
  EXPECT_FALSE(call().iceAttemptTimer);
  // An answer with no restart in flight changes nothing.
  answerRestart("iceRestartOffer", 1);
  EXPECT_TRUE(logged("ignored — inFlight=false current=0"));
}

TEST_F(IceRecoveryTest, TwoFailureReportsWithinTwoSecondsLeadToOneRestart) {
  placeUntilOfferSent();
  answer();
  queue.runUntilIdle();
  manager->handleIceFailure("ICE failed before connect");
  queue.advance(1.9);
  manager->handleIceFailure("ICE failed before connect");
  EXPECT_TRUE(logged("[ICERestart] ICE failed before connect — already handled 1.9s ago, skipping (same failure "
                     "reported twice)"));
  queue.runUntilIdle();
  EXPECT_EQ(restartOffers(), 1u);
  EXPECT_EQ(call().iceRestartCount, 1);
}

TEST_F(IceRecoveryTest, APeerThatCannotRestartIsGivenUpAfterThirtySecondsBeforeTheFirstConnect) {
  placeUntilOfferSent();
  answer(/*advertises=*/false);
  queue.runUntilIdle();
  EXPECT_TRUE(logged("[ICERestart] attempt timer 30s armed — answer applied (peerCanRestart=false role=caller)"));
  queue.advance(29.9);
  EXPECT_EQ(manager->callState(), CallState(Kind::connecting));
  queue.advance(0.1);
  EXPECT_EQ(manager->callState(), CallState(Kind::ended));
  EXPECT_EQ(restartOffers(), 0u);
}

// The callee: 45 s while the caller has not said it can restart, 12 s once
// it has; two requests, then the call is given up.
TEST_F(IceRecoveryTest, TheCalleeWaitsFortyFiveSecondsUntilTheCallerAdvertisesRestartsThenAsksTwice) {
  // The caller's device A offers; this manager is the callee.
  auto caller = network.makePeer("4712_A");
  std::optional<std::string> offer;
  struct Writer final : CalleeDelegate {
    std::optional<std::string>* offer;
    void peerConnectionDidCreateOffer(const std::optional<std::string>& d) override { *offer = d; }
  };
  auto writer = std::make_shared<Writer>();
  writer->offer = &offer;
  caller->setDelegate(writer);
  caller->build({{}, "all", false, true}, [&](BuildResult) { caller->createOffer(); });
  queue.runUntilIdle();
  ASSERT_TRUE(offer);

  signIn();
  manager->prepareSignalingForIncoming("4712", std::optional<std::string>("Bob"), true, "PUSH-1", "", false, false,
                                       true, false);
  hub.last()->acceptWith(1e9, 1e9);
  queue.runUntilIdle();
  receiveIceServers();
  queue.runUntilIdle();
  deliver({{"type", "offer"}, {"from", "4712_A"}, {"to", "4711"}, {"isAudio", true}, {"sdp", json::parse(*offer)}});
  manager->acceptCall();
  queue.runUntilIdle();
  ASSERT_EQ(frames("answer").size(), 1u);
  EXPECT_TRUE(logged("[ICERestart] attempt timer 45s armed — answer sent (peerCanRestart=false role=callee)"));

  queue.advance(20.0);
  // A candidate of the caller's device says it can restart: 12 s from now.
  deliver({{"type", "candidate"}, {"from", "4712_A"}, {"to", "4711_deskA"}, {"iceRestartV1", true},
           {"candidate", {{"candidate", "candidate:9 1 udp 1 10.66.0.9 50009 typ relay ufrag stale"}, {"sdpMid", "0"},
                          {"sdpMLineIndex", 0}}}});
  EXPECT_TRUE(logged("[ICERestart] attempt timer 12s armed — peer ICE-restart capability learned "
                     "(peerCanRestart=true role=callee)"));
  const auto requests = [&] { return frames("iceRestartRequest"); };
  queue.advance(11.9);
  EXPECT_TRUE(requests().empty());
  queue.advance(0.1);
  ASSERT_EQ(requests().size(), 1u);
  EXPECT_EQ(requests()[0], json({{"type", "iceRestartRequest"}, {"to", "4712_A"}, {"from", "4711_deskA"},
                                 {"iceRestartV1", true}}));
  EXPECT_TRUE(logged("[ICERestart] callee → asking caller to restart ICE (request 1/2)"));
  queue.advance(12.0);
  EXPECT_EQ(requests().size(), 2u);
  EXPECT_EQ(manager->callState(), CallState(Kind::connecting));
  queue.advance(12.0);
  EXPECT_EQ(requests().size(), 2u);
  EXPECT_EQ(manager->callState(), CallState(Kind::ended));
  EXPECT_TRUE(
      logged("[ICERestart] ❌ giving up — call never connected (not connected 12s after restart request 2 sent)"));
}

TEST_F(IceRecoveryTest, TheCalleeAnswersTheCallersRestartOfferOnTheSameConnection) {
  // Roles reversed through the harness: B (the test) calls, the manager answers.
  auto caller = network.makePeer("4712_A");
  std::optional<std::string> offer;
  struct Writer final : CalleeDelegate {
    std::optional<std::string>* offer;
    std::optional<std::string> restartAnswer;
    void peerConnectionDidCreateOffer(const std::optional<std::string>& d) override { *offer = d; }
  };
  auto writer = std::make_shared<Writer>();
  writer->offer = &offer;
  caller->setDelegate(writer);
  caller->build({{}, "all", false, true}, [&](BuildResult) { caller->createOffer(); });
  queue.runUntilIdle();
  signIn();
  manager->prepareSignalingForIncoming("4712", std::optional<std::string>("Bob"), true, "PUSH-1", "", false, false,
                                       true, false);
  hub.last()->acceptWith(1e9, 1e9);
  queue.runUntilIdle();
  receiveIceServers();
  queue.runUntilIdle();
  deliver({{"type", "offer"}, {"from", "4712_A"}, {"to", "4711"}, {"isAudio", true}, {"sdp", json::parse(*offer)},
           {"iceRestartV1", true}});
  manager->acceptCall();
  queue.runUntilIdle();
  ASSERT_EQ(frames("answer").size(), 1u);

  // The caller restarts; a restart offer from its other device is refused.
  std::optional<std::string> restart;
  caller->createIceRestartOffer([&](const std::optional<std::string>& d) { restart = d; });
  queue.runUntilIdle();
  ASSERT_TRUE(restart);
  const auto sdp = json::parse(*restart);
  deliver({{"type", "iceRestartOffer"}, {"from", "4712_C"}, {"to", "4711_deskA"}, {"sdp", sdp},
           {"iceRestartAttempt", 1}, {"iceRestartV1", true}});
  EXPECT_TRUE(logged("[ICERestart] restart offer from 4712_C ignored — state=connecting outgoing=false answered=true "
                     "currentPeer=false"));
  deliver({{"type", "iceRestartOffer"}, {"from", "4712_A"}, {"to", "4711_deskA"}, {"sdp", sdp},
           {"iceRestartAttempt", 1}, {"iceRestartV1", true}});
  EXPECT_TRUE(logged("[ICERestart] callee ← restart offer attempt=1 — answering"));
  const auto answers = frames("iceRestartAnswer");
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0]["to"], "4712_A");
  EXPECT_EQ(answers[0]["iceRestartAttempt"], 1);
  EXPECT_EQ(answers[0]["iceRestartV1"], true);
  EXPECT_EQ(commandCount("answerIceRestartOffer"), 1u);
}

// The reconnect window: a connected call that drops freezes its duration,
// restarts within the window, and resumes the duration when ICE is back.
TEST_F(IceRecoveryTest, ADroppedCallRestartsWithinTheWindowAndTheDurationResumesOnRecovery) {
  connect();
  queue.advance(10.0);
  const double talked = manager->timersForTesting().elapsedSeconds();
  EXPECT_GE(talked, 10.0);
  network.cut();
  queue.advance(2.0);  // disconnected
  EXPECT_TRUE(portsHave("timer Reconnecting..."));
  EXPECT_TRUE(logged("[ICERestart] attempt timer 6s armed — ICE disconnected mid-call"));
  const double frozen = manager->timersForTesting().elapsedSeconds();
  queue.advance(5.9);
  EXPECT_EQ(restartOffers(), 0u);
  queue.advance(0.1);
  ASSERT_EQ(restartOffers(), 1u);
  EXPECT_TRUE(logged("[ICERestart] caller → restart 1/2 (not connected 6s after ICE disconnected mid-call)"));
  EXPECT_EQ(manager->timersForTesting().elapsedSeconds(), frozen);

  network.restore();
  answerRestart();
  tradeCandidates();
  EXPECT_FALSE(call().iceDisconnectTimer);
  EXPECT_TRUE(logged("[NativeCallMgr] ICE recovered — resuming timer"));
  EXPECT_EQ(manager->callState(), CallState(Kind::connected));
  const double resumed = manager->timersForTesting().elapsedSeconds();
  queue.advance(3.0);
  EXPECT_EQ(manager->timersForTesting().elapsedSeconds(), resumed + 3.0);
  // Past where the window would have ended: the call goes on.
  queue.advance(45.0);
  EXPECT_EQ(manager->callState(), CallState(Kind::connected));
}

// Without recovery: restarts go on past 2/2 (the limit binds only before the
// first connect), the second report of the drop keeps the first deadline, and
// the call ends 45 s after the drop with the window's reason.
TEST_F(IceRecoveryTest, WithoutRecoveryTheWindowEndsTheCallFortyFiveSecondsAfterTheDrop) {
  connect();
  network.cut();
  queue.advance(2.0);  // disconnected: the window opens
  ASSERT_TRUE(call().iceDisconnectTimer);
  queue.advance(10.0);  // failed: reported again
  EXPECT_TRUE(logged("[NativeCallMgr] ICE failed — still reconnecting, deadline unchanged"));
  queue.advance(34.9);  // 44.9 s after the window opened
  EXPECT_EQ(manager->callState(), CallState(Kind::connected));
  EXPECT_GE(restartOffers(), 3u);
  EXPECT_TRUE(logged("[ICERestart] caller → restart 3/2"));
  queue.advance(0.1);
  EXPECT_EQ(manager->callState(), CallState(Kind::ended));
  EXPECT_TRUE(logged("[NativeCallMgr] reconnect window elapsed without recovery — ending call"));
  queue.advance(5.0);
  EXPECT_TRUE(logged("■ END — connection lost mid-call and did not recover in 45s"));
  EXPECT_EQ(manager->callState(), CallState(Kind::idle));
}

TEST_F(IceRecoveryTest, ARestartRequestIsTakenOnlyWhenItCanHelp) {
  struct Row {
    const char* name;
    std::function<void(IceScript&)> before;
    const char* from;
    const char* logLine;
    std::size_t restartOffers;
  };
  const std::vector<Row> rows = {
      {"ICE up", [](IceScript& t) { t.tradeCandidates(); }, "4712_B",
       "[ICERestart] restart request — caller side is connected, ignoring", 0},
      {"restart in flight", [](IceScript& t) { t.queue.advance(10.0); }, "4712_B",
       "[ICERestart] restart request — a restart is already in progress", 1},
      {"another device", [](IceScript&) {}, "4712_C",
       "[ICERestart] restart request from 4712_C ignored — state=connecting outgoing=true", 0},
      {"no restarts left", [](IceScript& t) { t.call().iceRestartCount = 2; }, "4712_B",
       "[ICERestart] restart request — no restarts left (2)", 0},
      {"taken", [](IceScript&) {}, "4712_B", "[ICERestart] caller → restart 1/2 (callee requested)", 1},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    IceScript t;
    t.placeUntilOfferSent();
    t.answer();
    t.queue.runUntilIdle();
    row.before(t);
    t.deliver({{"type", "iceRestartRequest"}, {"from", row.from}, {"to", "4711_deskA"}, {"iceRestartV1", true}});
    EXPECT_TRUE(t.logged(row.logLine));
    EXPECT_EQ(t.restartOffers(), row.restartOffers);
  }
}

TEST_F(IceRecoveryTest, TheCallSocketComingBackRestartsICEOnADroppedCall) {
  connect();
  network.cut();
  queue.advance(2.0);
  // The socket reconnects before the attempt timer fires.
  manager->signalingDidConnect();
  EXPECT_TRUE(logged("[NativeCallMgr] Signaling RE-connected (#2) state=connected"));
  queue.runUntilIdle();
  EXPECT_EQ(restartOffers(), 1u);
  EXPECT_TRUE(logged("[ICERestart] caller → restart 1/2 (call socket reconnected)"));
  EXPECT_FALSE(logged("[Deliver] call socket reconnected"));

  // With ICE up there is nothing to recover.
  IceScript t;
  t.connect();
  t.manager->signalingDidConnect();
  EXPECT_TRUE(
      t.logged("[NativeCallMgr] call socket reconnected — nothing to recover (answered=true iceConnected=true)"));
  EXPECT_EQ(t.restartOffers(), 0u);
}

// A mobile peer (no restart capability, no device source) gets a plain
// re-offer 4 s after our socket came back, unless it re-offered itself.
TEST_F(IceRecoveryTest, AMobilePeerGetsAPlainReOfferFourSecondsAfterOurSocketCameBack) {
  connect(/*advertises=*/false, /*source=*/"");
  network.cut();
  queue.advance(2.0);
  const auto offersBefore = frames("offer").size();
  manager->signalingDidConnect();
  queue.advance(3.9);
  EXPECT_EQ(frames("offer").size(), offersBefore);
  queue.advance(0.1);
  const auto offers = frames("offer");
  ASSERT_EQ(offers.size(), offersBefore + 1);
  const auto& reoffer = offers.back();
  EXPECT_EQ(reoffer["to"], "4712_B");
  EXPECT_EQ(reoffer["from"], "4711_deskA");
  EXPECT_EQ(reoffer["isAudio"], true);
  EXPECT_EQ(reoffer["deviceSource"], "desktop");
  EXPECT_FALSE(reoffer.contains("iceRestartV1"));
  EXPECT_FALSE(reoffer.contains("iceRestartAttempt"));
  EXPECT_EQ(json::parse(reoffer["sdp"].get<std::string>())["deviceUdids"], "deskA");
  EXPECT_TRUE(logged("[ICERestart] → plain restart offer to mobile peer (our call socket reconnected)"));
  EXPECT_TRUE(call().plainRestartInFlight);
  // No answer in 10 s: the wait ends, the call goes on.
  queue.advance(10.0);
  EXPECT_TRUE(logged("[ICERestart] mobile peer didn't answer the restart offer in 10s"));
  EXPECT_FALSE(call().plainRestartInFlight);
  EXPECT_EQ(manager->callState(), CallState(Kind::connected));

  // The answer to a plain re-offer reconnects the call.
  IceScript t;
  t.connect(false, "");
  t.network.cut();
  t.queue.advance(2.0);
  t.manager->signalingDidConnect();
  t.queue.advance(4.0);
  t.network.restore();
  t.answerRestart("offer");
  EXPECT_TRUE(t.logged("[ICERestart] mobile peer's restart answer applied — ICE re-checking"));
  t.tradeCandidates();
  EXPECT_TRUE(t.logged("[NativeCallMgr] ICE recovered — resuming timer"));

  // The peer re-offers by itself within the 4 s: ours is not sent.
  IceScript u;
  u.connect(false, "");
  u.network.cut();
  u.queue.advance(2.0);
  u.manager->signalingDidConnect();
  u.queue.advance(1.0);
  std::optional<std::string> peerOffer;
  u.callee->createIceRestartOffer([&](const std::optional<std::string>& d) { peerOffer = d; });
  u.queue.runUntilIdle();
  ASSERT_TRUE(peerOffer);
  const auto before = u.frames("offer").size();
  u.deliver({{"type", "offer"}, {"from", "4712_B"}, {"to", "4711_deskA"}, {"isAudio", true},
             {"sdp", json::parse(*peerOffer)}});
  EXPECT_TRUE(u.logged("[NativeCallMgr] 🔁 mid-call offer from 4712_B"));
  u.queue.advance(3.0);
  EXPECT_TRUE(u.logged("[ICERestart] mobile peer already re-offered — not sending ours"));
  EXPECT_EQ(u.frames("offer").size(), before);
}

// Fresh credentials mid-call reconnect the socket, whose ICE servers arrive
// again: the open connection is kept, nothing of the set-up runs again.
TEST_F(IceRecoveryTest, ARefreshOfTheIceServersMidCallKeepsTheRunningConnection) {
  connect();
  const auto builds = commandCount("build");
  const auto offers = commandCount("createOffer") + commandCount("createIceRestartOffer");
  const auto mark = portsMark();
  // What the socket's "getToken" hands over after a reconnect.
  manager->signalingDidReceiveIceServers({{{"stun:127.0.0.1:3478"}, "", ""}}, "all");
  queue.runUntilIdle();
  EXPECT_EQ(commandCount("build"), builds + 1);  // asked, and refused by the connection
  EXPECT_TRUE(logged("[NativeCallMgr] ICE config refreshed — the call's peer connection stays, set-up skipped"));
  EXPECT_EQ(commandCount("createOffer") + commandCount("createIceRestartOffer"), offers);
  for (const auto& line : portsSince(mark)) EXPECT_EQ(line.find("capture"), std::string::npos) << line;
  EXPECT_TRUE(peer->isConnected());
  EXPECT_EQ(manager->callState(), CallState(Kind::connected));
  EXPECT_EQ(frames("offer").size(), 1u);
}

}  // namespace
}  // namespace orvik::testing
