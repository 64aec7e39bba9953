// Mid-call offers and a peer connection's fatal error on virtual time: the
// peer's re-offers are answered one at a time on the same connection, an
// answer made after the call ended stays unsent, and an error ends only an
// active call, telling the peer first.
#include <gtest/gtest.h>

#include <algorithm>

#include "calls/control/test_support/ice_recovery_script.h"

namespace orvik::testing {
namespace {

using Kind = CallState::Kind;
using nlohmann::json;

class MidCallOffersTest : public ::testing::Test, public IceScript {
 protected:
  // B writes a fresh offer of its own (an ICE restart on its side).
  json peerOffer() {
    std::optional<std::string> offer;
    callee->createIceRestartOffer([&](const std::optional<std::string>& d) { offer = d; });
    queue.runUntilIdle();
    EXPECT_TRUE(offer);
    return json::parse(offer ? *offer : std::string("{}"));
  }
  static json offerFrame(const json& sdp) {
    return {{"type", "offer"}, {"from", "4712_B"}, {"to", "4711_deskA"}, {"isAudio", true}, {"sdp", sdp}};
  }
  // The server relays a frame without the test running the queue.
  void receive(const json& frame) {
    hub.last()->receive(socketio::encodeEvent("call", json::array({frame}), std::nullopt));
  }
};

TEST_F(MidCallOffersTest, TheCurrentPeersReOfferIsAnsweredOnTheSameConnectionAndTheCallRecovers) {
  connect(/*advertises=*/false, /*source=*/"");
  network.cut();
  queue.advance(2.0);
  network.restore();
  const auto answersBefore = frames("answer").size();
  deliver(offerFrame(peerOffer()));
  EXPECT_TRUE(logged("[NativeCallMgr] 🔁 mid-call offer from 4712_B (peer renegotiation / ICE restart) — answering on "
                     "the same connection"));
  const auto answers = frames("answer");
  ASSERT_EQ(answers.size(), answersBefore + 1);
  EXPECT_EQ(answers.back()["to"], "4712_B");
  EXPECT_EQ(answers.back()["from"], "4711_deskA");
  EXPECT_EQ(commandCount("answerIceRestartOffer"), 1u);
  EXPECT_EQ(commandCount("build"), 1u);
  EXPECT_FALSE(call().midCallOfferInProgress);
  EXPECT_TRUE(logged("[ICERestart] attempt timer 30s armed — answered the peer's re-offer"));

  // B applies the answer; candidates of the new generation connect the call.
  const auto description = descriptionOf(answers.back()["sdp"]);
  std::optional<bool> applied;
  callee->applyIceRestartAnswer({"answer", description["sdp"], std::nullopt}, [&](bool ok) { applied = ok; });
  queue.runUntilIdle();
  ASSERT_TRUE(applied && *applied);
  tradeCandidates();
  EXPECT_TRUE(logged("[NativeCallMgr] ICE recovered — resuming timer"));
  EXPECT_FALSE(call().iceAttemptTimer);
}

TEST_F(MidCallOffersTest, ASecondReOfferWhileTheFirstIsAnsweredIsIgnored) {
  connect();
  const auto answersBefore = frames("answer").size();
  const auto first = peerOffer();
  const auto second = peerOffer();
  ASSERT_NE(first, second);
  receive(offerFrame(first));
  receive(offerFrame(second));
  queue.runUntilIdle();
  EXPECT_TRUE(logged("[NativeCallMgr] mid-call offer from 4712_B ignored — already answering one"));
  EXPECT_EQ(frames("answer").size(), answersBefore + 1);
  EXPECT_EQ(commandCount("answerIceRestartOffer"), 1u);
}

TEST_F(MidCallOffersTest, ThePeersReOfferReplacesOurPlainReOfferWaitingForItsAnswer) {
  connect(false, "");
  network.cut();
  queue.advance(2.0);
  manager->signalingDidConnect();
  queue.advance(4.0);
  ASSERT_TRUE(call().plainRestartInFlight);
  deliver(offerFrame(peerOffer()));
  EXPECT_FALSE(call().plainRestartInFlight);
  EXPECT_EQ(commandCount("answerIceRestartOffer"), 1u);
  EXPECT_TRUE(logged("[NativeCallMgr] 🔁 mid-call offer from 4712_B"));
  // Its 10 s wait ends without a word: there is nothing left to wait for.
  queue.advance(10.0);
  EXPECT_FALSE(logged("[ICERestart] mobile peer didn't answer the restart offer in 10s"));
}

TEST_F(MidCallOffersTest, AnAnswerMadeAfterTheCallEndedIsNotSent) {
  connect();
  const auto answersBefore = frames("answer").size();
  const auto offer = peerOffer();
  manager->handleMidCallOffer({"offer", offer["sdp"], std::nullopt}, "4712_B");
  manager->endCall();
  queue.advance(5.0);
  EXPECT_EQ(frames("answer").size(), answersBefore);
  EXPECT_EQ(manager->callState(), CallState(Kind::idle));
}

TEST_F(MidCallOffersTest, AFatalErrorEndsTheActiveCallTellingThePeerAndNothingElse) {
  connect();
  const auto mark = portsMark();
  manager->peerConnectionDidFail({"CallPeerConnection", -1, "Failed to create RTCPeerConnection"});
  queue.runUntilIdle();
  EXPECT_TRUE(logged("[NativeCallMgr] PeerConn error: Failed to create RTCPeerConnection"));
  const auto ends = frames("endCall");
  ASSERT_EQ(ends.size(), 1u);
  EXPECT_EQ(ends[0]["to"], "4712_B");
  EXPECT_EQ(ends[0]["from"], "4711_deskA");
  EXPECT_EQ(manager->callState(), CallState(Kind::idle));
  const auto since = portsSince(mark);
  for (const char* line : {"timer Failed: Failed to create RTCPeerConnection", "end tone", "close audio", "close video",
                           "dismiss panel"}) {
    EXPECT_NE(std::find(since.begin(), since.end(), line), since.end()) << line;
  }
  EXPECT_TRUE(logged("■ END — WebRTC error: Failed to create RTCPeerConnection"));
  EXPECT_NE(page->scripts.size(), 0u);

  // Reported again once the call is gone, or while an ended call closes:
  // nothing happens a second time.
  const auto afterMark = portsMark();
  manager->peerConnectionDidFail({"RTCError", 6, "late"});
  EXPECT_TRUE(logged("[NativeCallMgr] PeerConn error ignored — no active call (state=idle)"));
  queue.runUntilIdle();
  EXPECT_EQ(portsSince(afterMark), std::vector<std::string>{});
  EXPECT_EQ(frames("endCall").size(), 1u);

  IceScript t;
  t.connect();
  t.manager->endCall();
  const auto endedMark = t.portsMark();
  t.manager->peerConnectionDidFail({"RTCError", 6, "late"});
  t.queue.advance(5.0);
  EXPECT_TRUE(t.logged("[NativeCallMgr] PeerConn error ignored — no active call (state=ended)"));
  for (const auto& line : t.portsSince(endedMark)) EXPECT_NE(line, "timer Failed: late");
  EXPECT_EQ(t.frames("endCall").size(), 1u);
}

// The callee's accept watchdog, 20 s after the user accepted: its verdict
// names what the answer still lacked; an answer in time, or a call that
// connected, leaves it nothing to do.
TEST_F(MidCallOffersTest, TheAcceptWatchdogEndsOnlyACallWhoseAnswerNeverWentOut) {
  struct Row {
    const char* name;
    bool offerArrives;
    bool connectsWithoutAnswer;
    Kind after;
  };
  const Row rows[] = {
      {"answered in time", true, false, Kind::connecting},
      {"the caller's offer never came", false, false, Kind::ended},
      {"connected meanwhile", false, true, Kind::connecting},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    IceScript t;
    auto caller = t.network.makePeer("4712_A");
    auto writer = std::make_shared<CalleeDelegate>();
    std::optional<std::string> offer;
    caller->setDelegate(writer);
    caller->build({{}, "all", false, true}, [](BuildResult) {});
    t.queue.runUntilIdle();
    caller->createIceRestartOffer([&](const std::optional<std::string>& d) { offer = d; });
    t.queue.runUntilIdle();
    ASSERT_TRUE(offer);

    t.signIn();
    t.manager->prepareSignalingForIncoming("4712", std::optional<std::string>("Bob"), true, "PUSH-1", "", false,
                                           false, true, false);
    t.hub.last()->acceptWith(1e9, 1e9);
    t.queue.runUntilIdle();
    t.receiveIceServers();
    t.queue.runUntilIdle();
    if (row.offerArrives) {
      t.deliver({{"type", "offer"}, {"from", "4712_A"}, {"to", "4711"}, {"isAudio", true},
                 {"sdp", json::parse(*offer)}});
    }
    t.manager->acceptCall();
    t.queue.runUntilIdle();
    if (row.connectsWithoutAnswer) t.call().currentSession->connectedAt = t.queue.clock().now();
    t.queue.advance(NativeCallManager::kAcceptWatchdogSeconds - 0.1);
    EXPECT_EQ(t.manager->callState(), CallState(Kind::connecting));
    t.queue.advance(0.1);
    EXPECT_EQ(t.manager->callState(), CallState(row.after));
    EXPECT_EQ(t.logged("ACCEPT WATCHDOG"), row.after == Kind::ended);
    if (row.after == Kind::ended) {
      EXPECT_TRUE(t.logged("[NativeCallMgr] ❌ ACCEPT WATCHDOG: answer still not sent 20s after accept (accepted, mic "
                           "permission granted) — offerStored=false peerConnIsReady=true captureReady=true — ending"));
      t.queue.advance(5.0);
      EXPECT_TRUE(t.logged("■ END — accepted, but the caller's offer / call setup never completed in 20s"));
    }
  }
}

}  // namespace
}  // namespace orvik::testing
