// Remote endings, connection states and the call-record id on virtual time:
// the manager calls the scripted callee B and the test plays the server.
#include <gtest/gtest.h>

#include <algorithm>

#include "calls/control/test_support/callee_script.h"

namespace orvik::testing {
namespace {

using Kind = CallState::Kind;
using Strings = std::vector<std::string>;
using nlohmann::json;

class RemoteEndingsTest : public ::testing::Test, public CalleeScript {
 protected:
  static json frame(const std::string& type, const std::string& from) {
    return {{"type", type}, {"from", from}, {"to", "4711_deskA"}};
  }
  bool portsContain(std::size_t mark, const std::string& line) const {
    const auto since = portsSince(mark);
    return std::find(since.begin(), since.end(), line) != since.end();
  }
  // The page scripts of the call log since `mark`, joined.
  std::string pageSince(std::size_t mark) const {
    std::string all;
    for (std::size_t i = mark; i < page->scripts.size(); ++i) all += page->scripts[i] + "\n";
    return all;
  }
};

TEST_F(RemoteEndingsTest, BusyAfterTwentyFourPointNineSecondsIsBusyAndAfterTwentyFiveItIsNoAnswer) {
  struct Row {
    double ringing;
    Kind first;
    double closeAt;  // seconds after the busy frame
    double idleAt;
    Strings frames;  // end frames sent by this side
  };
  const std::vector<Row> rows = {
      {24.9, Kind::busy, 4.0, 4.0, {}},
      {25.0, Kind::missed, 2.0, 2.6, {"endCall 4712 4711_deskA", "StopRinging 4712 4711_deskA"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.ringing);
    CalleeScript t;
    t.placeUntilOfferSent();
    t.queue.advance(row.ringing - 0.1);  // the offer took 0.1 s
    const auto before = t.callFrames().size();
    const auto mark = t.portsMark();
    t.deliver(frame("userBusy", "4712_B"));
    EXPECT_EQ(t.manager->callState(), CallState(row.first));
    if (row.first == Kind::busy) {
      t.queue.advance(2.49);
      EXPECT_EQ(t.manager->callState(), CallState(Kind::busy));
      t.queue.advance(0.01);
      EXPECT_EQ(t.manager->callState(), CallState(Kind::ended));
    }
    const auto all = t.callFrames();
    EXPECT_EQ(Strings(all.begin() + static_cast<long>(before), all.end()), row.frames);
    const auto untilClose = row.closeAt - (row.first == Kind::busy ? 2.5 : 0.0);
    const auto closed = [&] {
      const auto since = t.portsSince(mark);
      return std::find(since.begin(), since.end(), "close audio") != since.end();
    };
    t.queue.advance(untilClose - 0.01);
    EXPECT_FALSE(closed());
    t.queue.advance(0.01);
    EXPECT_TRUE(closed());
    t.queue.advance(row.idleAt - row.closeAt);
    EXPECT_EQ(t.manager->callState(), CallState(Kind::idle));
  }
}

TEST_F(RemoteEndingsTest, EndFramesEndTheCallAsTheStateTableSays) {
  struct Row {
    const char* name;
    bool answered;
    bool connected;
    std::string from;
    Kind state;  // once the frame's immediate steps ran
    const char* outcome;
  };
  const std::vector<Row> rows = {
      {"the callee declines before answering", false, false, "4712_B", Kind::busy, "busyOrRemoteDecline"},
      // A remote end tears down at once; only the windows wait.
      {"the answering device ends before connecting", true, false, "4712_B", Kind::idle, "remoteEnd"},
      {"the answering device hangs up", true, true, "4712_B", Kind::idle, "remoteEnd"},
      {"a second device's late decline after the answer", true, true, "4712_C", Kind::connected, nullptr},
      {"another user's end", true, true, "4799_B", Kind::connected, nullptr},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    CalleeScript t;
    t.placeUntilOfferSent();
    if (row.answered) t.calleeAnswers();
    if (row.connected) {
      t.exchangeCandidates();
      t.queue.advance(1.0);
      ASSERT_EQ(t.manager->callState(), CallState(Kind::connected));
    }
    t.deliver(frame("endCall", row.from));
    EXPECT_EQ(t.manager->callState(), CallState(row.state));
    t.queue.advance(10.0);
    if (row.outcome) {
      EXPECT_EQ(t.manager->callState(), CallState(Kind::idle));
    } else {
      EXPECT_EQ(t.manager->callState(), CallState(row.state));
      EXPECT_TRUE(t.logged("ignored")) << "logged as ignored";
    }
  }
}

TEST_F(RemoteEndingsTest, ALateBusyFromASecondDeviceAfterTheAnswerChangesNothing) {
  connectCall();
  const auto mark = portsMark();
  deliver(frame("userBusy", "4712_C"));
  queue.advance(10.0);
  EXPECT_EQ(manager->callState(), CallState(Kind::connected));
  EXPECT_TRUE(logged("[NativeCallMgr] userBusy from 4712_C ignored — the call was answered by B"));
  EXPECT_FALSE(portsContain(mark, "end tone"));
  // The answering device's busy after connect is a hang-up, never busy.
  deliver(frame("userBusy", "4712_B"));
  EXPECT_EQ(manager->callState(), CallState(Kind::idle));
  EXPECT_TRUE(logged("[NativeCallMgr] userBusy after connect — treating as remote hang-up, not busy"));
  EXPECT_TRUE(logged("· state connected → ended"));
  EXPECT_FALSE(logged("→ busy"));
}

TEST_F(RemoteEndingsTest, RingExpiryEndsTheCallAsMissedAndCancelsEveryRingingDevice) {
  placeUntilOfferSent();
  deliver(frame("offerReceived", "4712_B"));
  deliver(frame("offerReceived", "4712_C"));
  const auto before = callFrames().size();
  queue.advance(34.9);
  EXPECT_EQ(manager->callState(), CallState(Kind::calling));
  queue.advance(0.1);
  EXPECT_EQ(manager->callState(), CallState(Kind::missed));
  const auto all = callFrames();
  Strings sent(all.begin() + static_cast<long>(before), all.end());
  // Everyone, then each ringing device but the one already known (B).
  EXPECT_EQ(sent, (Strings{"endCall 4712 4711_deskA", "StopRinging 4712 4711_deskA", "endCall 4712_C 4711_deskA",
                           "StopRinging 4712_C 4711_deskA"}));
  queue.advance(2.6);
  EXPECT_EQ(manager->callState(), CallState(Kind::idle));
  EXPECT_TRUE(logged("■ END — no answer — ring timeout | never connected"));
}

TEST_F(RemoteEndingsTest, DelayedStepsOfAnEndingNeverTouchACallPlacedMeanwhile) {
  struct Row {
    const char* name;
    std::function<void(CalleeScript&)> end;
  };
  const std::vector<Row> rows = {
      {"busy", [](CalleeScript& t) { t.deliver(frame("userBusy", "4712_B")); }},
      {"decline", [](CalleeScript& t) { t.deliver(frame("endCall", "4712_B")); }},
      {"ring expiry", [](CalleeScript& t) { t.queue.advance(35.0); }},
      {"remote hang-up", [](CalleeScript& t) {
         t.calleeAnswers();
         t.exchangeCandidates();
         t.queue.advance(1.0);
         t.deliver(frame("endCall", "4712_B"));
       }},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    CalleeScript t;
    t.placeUntilOfferSent();
    row.end(t);
    // The user redials at once, while the ended call's windows are still up.
    t.manager->makeCall(bob(), CallType::audio);
    t.hub.last()->acceptWith(1e9, 1e9);
    t.receiveIceServers();
    t.queue.runUntilIdle();
    const auto generation = t.manager->callGeneration();
    const auto mark = t.portsMark();
    t.queue.advance(5.0);
    EXPECT_EQ(t.manager->callGeneration(), generation);
    EXPECT_EQ(t.manager->callState(), CallState(Kind::calling));
    EXPECT_TRUE(t.peer->isBuilt());
    for (const auto& line : t.portsSince(mark)) {
      EXPECT_NE(line.rfind("close", 0), 0u) << line;
      EXPECT_NE(line, "stop capture");
      EXPECT_NE(line, "timer Call ended");
    }
  }
}

TEST_F(RemoteEndingsTest, ADroppedCallGetsFortyFiveSecondsAndOnlyItsOwnDeviceCanEndItMeanwhile) {
  connectCall();
  network.cut();
  queue.advance(2.0);  // the fake path reports disconnected
  EXPECT_TRUE(manager->state().call.iceDisconnectTimer);
  EXPECT_TRUE(logged("⚠️ connection DROPPED mid-call — Reconnecting… (45s window)"));
  EXPECT_NE(std::find(ports.begin(), ports.end(), "timer Reconnecting..."), ports.end());
  const double frozen = manager->timersForTesting().elapsedSeconds();
  queue.advance(5.0);
  EXPECT_EQ(manager->timersForTesting().elapsedSeconds(), frozen);

  // A bare-number end during the window is not certain: ignored.
  deliver(frame("endCall", "4712"));
  EXPECT_TRUE(logged("[NativeCallMgr] remote end ignored — reconnect window active"));
  EXPECT_EQ(manager->callState(), CallState(Kind::connected));
  // Recovery closes the window and resumes the duration.
  manager->peerConnectionDidChangeIceState(PeerConnectionState::connected);
  EXPECT_FALSE(manager->state().call.iceDisconnectTimer);
  EXPECT_TRUE(logged("[NativeCallMgr] ICE recovered — resuming timer"));
  queue.advance(2.0);
  EXPECT_EQ(manager->timersForTesting().elapsedSeconds(), frozen + 2.0);

  // Dropped again: the answering device's end is certain and ends it at once.
  manager->peerConnectionDidChangeIceState(PeerConnectionState::disconnected);
  ASSERT_TRUE(manager->state().call.iceDisconnectTimer);
  deliver(frame("endCall", "4712_B"));
  EXPECT_TRUE(logged("· state connected → ended"));
  EXPECT_EQ(manager->callState(), CallState(Kind::idle));

  // Without recovery the window's end ends the call after exactly 45 s.
  CalleeScript t;
  t.connectCall();
  t.manager->peerConnectionDidChangeIceState(PeerConnectionState::failed);
  t.queue.advance(44.9);
  EXPECT_EQ(t.manager->callState(), CallState(Kind::connected));
  t.queue.advance(0.1);
  EXPECT_EQ(t.manager->callState(), CallState(Kind::ended));
  EXPECT_TRUE(t.logged("[NativeCallMgr] reconnect window elapsed without recovery — ending call"));
}

TEST_F(RemoteEndingsTest, ADropWithinSixtySecondsOfTheServersCallFinishedEndsAtOnce) {
  for (const double ago : {59.0, 61.0}) {
    SCOPED_TRACE(ago);
    CalleeScript t;
    t.connectCall();
    t.manager->stateForTesting().call.serverCallFinishedAt =
        t.queue.clock().now() - std::chrono::duration_cast<platform::Clock::WallTime::duration>(
                                    std::chrono::duration<double>(ago));
    t.manager->peerConnectionDidChangeIceState(PeerConnectionState::disconnected);
    EXPECT_EQ(t.manager->callState(), CallState(ago < 60.0 ? Kind::ended : Kind::connected));
    EXPECT_EQ(static_cast<bool>(t.manager->state().call.iceDisconnectTimer), ago >= 60.0);
  }
}

TEST_F(RemoteEndingsTest, ConnectionEventsBeforeTheFirstConnectAndAfterTheEnd) {
  placeUntilOfferSent();
  calleeAnswers();
  manager->peerConnectionDidChangeIceState(PeerConnectionState::disconnected);
  EXPECT_EQ(manager->callState(), CallState(Kind::connecting));
  EXPECT_TRUE(logged("[NativeCallMgr] ICE disconnected before connect — ignoring (let ICE retry)"));
  manager->peerConnectionDidChangeIceState(PeerConnectionState::failed);
  EXPECT_EQ(manager->callState(), CallState(Kind::ended));
  EXPECT_TRUE(logged("[NativeCallMgr] ICE failed before connect — ending call (peer can't ICE-restart)"));
  manager->peerConnectionDidChangeIceState(PeerConnectionState::connected);
  EXPECT_EQ(manager->callState(), CallState(Kind::ended));
  EXPECT_TRUE(logged("[NativeCallMgr] ICE state connected ignored — call already ending (ended)"));
}

TEST_F(RemoteEndingsTest, ARejectedTokenIsRetriedOnceKeepingTheIdentityAndTheCandidates) {
  connectCall();
  const auto candidatesBefore = frames("candidate").size();
  deliver(json());  // nothing: a malformed frame changes nothing
  hub.last()->receive(socketio::encodeEvent("invalid_token", json::array({{{"message", "token rejected"}}}), std::nullopt));
  queue.runUntilIdle();
  EXPECT_EQ(manager->callState(), CallState(Kind::connected));
  EXPECT_EQ(fetches, Strings{"invalid-token"});
  EXPECT_FALSE(manager->state().kept.myAuthToken);
  EXPECT_EQ(manager->state().kept.myUserNumber, "4711");
  EXPECT_FALSE(manager->hasCredentials());
  // A candidate of the running call waits for the socket instead of being lost.
  manager->peerConnectionDidGenerateCandidate({"0", 0, "candidate:77 1 udp 1 10.0.0.1 6000 typ host"});
  EXPECT_EQ(frames("candidate").size(), candidatesBefore);
  EXPECT_EQ(manager->state().call.pendingLocalCandidates.size(), 1u);
  // Fresh credentials; the socket comes back (the hand-over reconnects it).
  signIn();
  manager->stateForTesting().call.awaitingReauth = false;
  manager->signalingDidConnect();
  auto sent = frames("candidate");
  ASSERT_EQ(sent.size(), candidatesBefore + 1);
  EXPECT_EQ(sent.back()["candidate"]["candidate"], "candidate:77 1 udp 1 10.0.0.1 6000 typ host");
  EXPECT_EQ(sent.back()["to"], "4712_B");

  // A second rejection in the same call fails it.
  hub.last()->receive(socketio::encodeEvent("invalid_token", json::array({{{"message", "token rejected"}}}), std::nullopt));
  queue.runUntilIdle();
  EXPECT_EQ(manager->callState(), CallState(Kind::idle));
  EXPECT_NE(std::find(ports.begin(), ports.end(), "timer Failed: Auth failed"), ports.end());
  EXPECT_EQ(fetches.size(), 1u);
}

TEST_F(RemoteEndingsTest, TheOffersAcknowledgementGivesTheCallItsRecordIdAndALateOneClosesTheRecord) {
  placeUntilOfferSent();
  const auto offers = sentEvents("call");
  ASSERT_FALSE(offers.empty());
  ASSERT_TRUE(offers[0].id);
  hub.last()->receive(socketio::encodeAck(*offers[0].id, json::array({{{"id", 1001}}})));
  queue.runUntilIdle();
  EXPECT_EQ(manager->state().call.currentCallId, 1001);
  manager->signalingDidReceiveCallRecordId(1001);  // the same again: no change
  manager->signalingDidReceiveCallRecordId(2002);
  EXPECT_EQ(manager->state().call.currentCallId, 1001);
  EXPECT_TRUE(logged("[CallLog] call-record id 2002 ignored — this call already has id 1001"));

  // A caller that cancels before the acknowledgement still closes the record.
  CalleeScript t;
  t.placeUntilOfferSent();
  t.manager->endCall();
  const auto mark = t.page->scripts.size();
  t.manager->signalingDidReceiveCallRecordId(3003);
  t.queue.runUntilIdle();
  EXPECT_TRUE(t.logged("[CallEnd] call-record id 3003 arrived after an unanswered cancel — closing the server record"));
  EXPECT_FALSE(t.manager->state().call.currentCallId);
  EXPECT_GT(t.page->scripts.size(), mark);
  // After the clean-up only a log line.
  t.queue.advance(5.0);
  t.manager->signalingDidReceiveCallRecordId(4004);
  EXPECT_TRUE(t.logged("[CallLog] call-record id 4004 ignored — no active call (late ack/pending record) state=idle"));
}

TEST_F(RemoteEndingsTest, ARingTakenOnAnotherDeviceEndsARingingCallButOnlyDismissesThePanelOfAConnectedOne) {
  signIn();
  place();
  auto& call = manager->stateForTesting().call;
  call.currentSession = std::make_shared<CallSession>(
      CallSession{"PUSH-1", CallDirection::incoming, CallType::audio, bob(), Kind::ringing, std::nullopt});
  call.callState = Kind::ringing;
  const auto mark = portsMark();
  manager->dismissRingHandledElsewhere();
  EXPECT_EQ(manager->callState(), CallState(Kind::ended));
  queue.runUntilIdle();
  EXPECT_EQ(manager->callState(), CallState(Kind::idle));
  EXPECT_TRUE(portsContain(mark, "dismiss panel"));
  EXPECT_TRUE(portsContain(mark, "close audio"));
  EXPECT_TRUE(logged("[MultiDeviceCall] DISMISS local ringing — handled on another device | state=ringing session=PUSH-1"));

  CalleeScript t;
  t.connectCall();
  const auto connectedMark = t.portsMark();
  t.manager->dismissRingHandledElsewhere();
  t.queue.runUntilIdle();
  EXPECT_EQ(t.manager->callState(), CallState(Kind::connected));
  EXPECT_EQ(t.portsSince(connectedMark), (Strings{"stop tone", "dismiss panel"}));
}

}  // namespace
}  // namespace orvik::testing
