// Outgoing negotiation, candidate exchange, connection states and remote
// endings on virtual time: this program's manager calls a scripted callee (a
// FakePeerConnection the test drives) while the test plays the call server.
#include <gtest/gtest.h>

#include <algorithm>

#include "calls/control/test_support/callee_script.h"

namespace orvik::testing {
namespace {

using Kind = CallState::Kind;
using Strings = std::vector<std::string>;
using nlohmann::json;

class CallNegotiationTest : public ::testing::Test, public CalleeScript {};

TEST_F(CallNegotiationTest, AFullCallConnectsWithCandidatesBothWaysAndRingsUntilAnswered) {
  signIn();
  place();
  receiveIceServers();
  queue.runUntilIdle();
  EXPECT_EQ(sentEvents("getUserDevices").size(), 1u);
  EXPECT_EQ(sentEvents("getUserDevices")[0].data[1], json({{"userNumber", "4712"}}));
  answerDevices(bobsDevices());
  queue.advance(0.1);

  const auto offers = frames("offer");
  ASSERT_EQ(offers.size(), 1u);
  const auto& offer = offers[0];
  EXPECT_EQ(offer["to"], "4712");
  EXPECT_EQ(offer["from"], "4711_deskA");
  EXPECT_EQ(offer["isAudio"], true);
  EXPECT_EQ(offer["isFreeUser"], "false");
  EXPECT_EQ(offer["iceRestartV1"], true);
  const auto description = json::parse(offer["sdp"].get<std::string>());
  EXPECT_EQ(description["type"], "offer");
  EXPECT_EQ(description["deviceUdids"], "deskA");
  EXPECT_EQ(description["deviceSource"], "desktop");
  EXPECT_EQ(description["iceRestartV1"], true);
  EXPECT_EQ(offer["addRecord"]["callerOffer"], description);
  EXPECT_EQ(offer["addRecord"]["pushData"]["deviceToken"], "apns-B-0123456789");
  // The caller's candidates wait for the answer.
  EXPECT_TRUE(frames("candidate").empty());
  EXPECT_EQ(manager->state().call.pendingLocalCandidates.size(), 1u);

  // Two devices ring: the ringback starts, each one gives a fresh 35 s.
  const auto mark = portsMark();
  deliver({{"type", "offerReceived"}, {"from", "4712_B"}, {"to", "4711_deskA"}});
  queue.advance(30.0);
  deliver({{"type", "offerReceived"}, {"from", "4712_C"}, {"to", "4711_deskA"}});
  queue.advance(34.0);
  EXPECT_EQ(manager->callState(), CallState(Kind::calling));
  EXPECT_EQ(manager->state().call.ringingDeviceUdids, (std::set<std::string>{"B", "C"}));
  EXPECT_EQ(manager->state().call.remoteDeviceUdid, "B");
  EXPECT_EQ(count(portsSince(mark), "tone ringback"), 2u);
  EXPECT_EQ(count(portsSince(mark), "timer Ringing..."), 2u);

  calleeAnswers("B", " Desktop\n");
  EXPECT_EQ(manager->callState(), CallState(Kind::connecting));
  EXPECT_EQ(manager->state().call.remoteDeviceUdid, "B");
  // The held candidate went to the answering device.
  const auto candidates = frames("candidate");
  ASSERT_EQ(candidates.size(), 1u);
  EXPECT_EQ(candidates[0]["to"], "4712_B");
  EXPECT_EQ(candidates[0]["from"], "4711_deskA");
  EXPECT_EQ(candidates[0]["iceRestartV1"], true);
  EXPECT_EQ(candidates[0]["candidate"]["sdpMid"], "0");
  EXPECT_TRUE(manager->state().call.pendingLocalCandidates.empty());
  EXPECT_NE(std::find(ports.begin(), ports.end(), "video upgrade offered"), ports.end());

  exchangeCandidates();
  const auto beforeConnect = portsMark();
  queue.advance(1.0);
  EXPECT_EQ(manager->callState(), CallState(Kind::connected));
  ASSERT_TRUE(manager->state().call.currentSession->connectedAt);
  EXPECT_EQ(portsSince(beforeConnect), (Strings{"stop tone", "timer ", "connected true"}));
  EXPECT_TRUE(logged("✅ CONNECTED — audio/video can flow"));
  EXPECT_EQ(manager->timersForTesting().elapsedSeconds(), 0.0);
  queue.advance(3.0);
  EXPECT_EQ(manager->timersForTesting().elapsedSeconds(), 3.0);
  // The re-send schedule found ICE up and sent nothing more.
  queue.advance(20.0);
  EXPECT_EQ(frames("candidate").size(), 1u);
  EXPECT_EQ(manager->state().call.candidateResendsDone, 0);
}

// One row per order in which the device list, the offer and the user's
// hang-up can come: the offer goes out exactly once, or not at all.
struct OrderRow {
  const char* name;
  std::function<void(CalleeScript&)> run;
  std::size_t offers;
  bool addRecord;
  const char* logLine;
};

TEST_F(CallNegotiationTest, TheOfferIsSentExactlyOnceWhicheverOrderTheEventsCome) {
  const auto upToCapture = [](CalleeScript& t) {
    t.signIn();
    t.place();
    t.receiveIceServers();
  };
  const std::vector<OrderRow> rows = {
      {"offer first, then the device list",
       [&](CalleeScript& t) {
         upToCapture(t);
         t.queue.runUntilIdle();
         t.answerDevices(bobsDevices());
         t.queue.runUntilIdle();
       },
       1, true, "[NativeCallMgr] Sending deferred offer (device fetch completed last)"},
      {"device list first, then the offer",
       [&](CalleeScript& t) {
         t.network.offerDelay = 0.5;
         upToCapture(t);
         t.queue.runUntilIdle();
         t.answerDevices(bobsDevices());  // arrives before the offer is written
         t.queue.advance(1.0);
       },
       1, true, "[NativeCallMgr] Offer ready & device fetch done — sending immediately"},
      {"the device list times out after 10 s",
       [&](CalleeScript& t) {
         upToCapture(t);
         t.queue.advance(9.9);
         EXPECT_TRUE(t.frames("offer").empty());
         t.queue.advance(0.1);
       },
       1, false, "[NativeCallMgr] getUserDevices done — addRecord=false"},
      {"no device of the callee is known",
       [&](CalleeScript& t) {
         upToCapture(t);
         t.queue.runUntilIdle();
         t.answerDevices(json::array());
         t.queue.runUntilIdle();
       },
       1, false, "[NativeCallMgr] buildAddRecord — skipped (no device token)"},
      {"hung up while the offer was being written",
       [&](CalleeScript& t) {
         t.network.offerDelay = 0.5;
         upToCapture(t);
         t.queue.runUntilIdle();
         t.answerDevices(bobsDevices());
         t.queue.runUntilIdle();
         t.manager->endCall();
         t.queue.advance(1.0);
       },
       0, false, "[NativeCallMgr] endCall — callState=calling"},
      {"hung up before the device list came",
       [&](CalleeScript& t) {
         upToCapture(t);
         t.queue.runUntilIdle();
         t.manager->endCall();
         t.queue.advance(12.0);
       },
       0, false, "[NativeCallMgr] Offer ready but device fetch pending — storing SDP"},
      {"capture failed",
       [&](CalleeScript& t) {
         t.capture.captureError = "no input device";
         upToCapture(t);
         t.queue.advance(12.0);
       },
       0, false, "[NativeCallMgr] Capture failed: no input device"},
      {"capture completes only after the user hung up",
       [&](CalleeScript& t) {
         t.capture.holdCapture = true;
         upToCapture(t);
         t.queue.runUntilIdle();
         t.manager->endCall();
         t.queue.advance(5.0);
         t.capture.finishCapture();
         t.queue.advance(12.0);
       },
       0, false, "[NativeCallMgr] Starting capture isVideo=false startVideo=false cameraOff=false"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    CalleeScript t;
    row.run(t);
    const auto offers = t.frames("offer");
    EXPECT_EQ(offers.size(), row.offers);
    if (!offers.empty()) {
      EXPECT_EQ(offers[0].contains("addRecord"), row.addRecord);
    }
    EXPECT_TRUE(t.logged(row.logLine)) << row.logLine;
  }
}

// One row per answer: which is taken and what it leaves behind.
struct AnswerRow {
  const char* name;
  json frame;
  Kind state;
  std::optional<std::string> device;
  std::set<std::string> ignored;
  const char* logLine;
};

TEST_F(CallNegotiationTest, TheFirstAnswerOfTheCalleeWinsAndLaterOnesAreRemembered) {
  const auto answer = [](const std::string& from) {
    return json{{"type", "answer"}, {"from", from}, {"to", "4711_deskA"},
                {"sdp", {{"type", "answer"}, {"sdp", "v=0"}}}, {"deviceSource", "mobile"}};
  };
  const std::vector<AnswerRow> rows = {
      {"a second device answers", answer("4712_C"), Kind::connecting, "B", {"C"},
       "[NativeCallMgr] second answer from C ignored — already answered by B"},
      {"the winning device answers again", answer("4712_B"), Kind::connecting, "B", {},
       "[NativeCallMgr] second answer from B ignored — already answered by B"},
      {"another user answers", answer("4799_X"), Kind::connecting, "B", {},
       "[NativeCallMgr] answer from 4799_X ignored — not the callee (4712)"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    CalleeScript t;
    t.placeUntilOfferSent();
    t.calleeAnswers();
    t.deliver(row.frame);
    EXPECT_EQ(t.manager->callState(), CallState(row.state));
    EXPECT_EQ(t.manager->state().call.remoteDeviceUdid, row.device);
    EXPECT_EQ(t.manager->state().call.ignoredAnswerUdids, row.ignored);
    EXPECT_TRUE(t.logged(row.logLine)) << row.logLine;
    t.exchangeCandidates();
    t.queue.advance(1.0);
    EXPECT_EQ(t.manager->callState(), CallState(Kind::connected)) << "the winning answer's call still connects";
  }

  // An answer of someone else before the callee's is never applied.
  CalleeScript t;
  t.placeUntilOfferSent();
  t.deliver(answer("4799_X"));
  EXPECT_EQ(t.manager->callState(), CallState(Kind::calling));
  EXPECT_FALSE(t.manager->state().call.remoteAnswerReceived);
  EXPECT_EQ(std::count(t.peer->commands.begin(), t.peer->commands.end(), "setRemoteDescription"), 0);

  // An answer while a plain re-offer waits goes to the restart answer path.
  CalleeScript r;
  r.connectCall();
  r.manager->stateForTesting().call.plainRestartInFlight = true;
  r.deliver(answer("4712_B"));
  EXPECT_FALSE(r.manager->state().call.plainRestartInFlight);
  EXPECT_EQ(std::count(r.peer->commands.begin(), r.peer->commands.end(), "applyIceRestartAnswer"), 1);
  EXPECT_TRUE(r.logged("[ICERestart] mobile peer's restart answer could NOT be applied"));
  EXPECT_EQ(r.manager->callState(), CallState(Kind::connected));
}

TEST_F(CallNegotiationTest, CandidatesAreResentAtSixAndTwelveSecondsWhileNothingConnects) {
  placeUntilOfferSent();
  calleeAnswers();
  // Nothing comes back from the callee; the path stays down.
  network.cut();
  ASSERT_EQ(frames("candidate").size(), 1u);
  queue.advance(5.9);
  EXPECT_EQ(frames("candidate").size(), 1u);
  queue.advance(0.1);
  // Once by broadcast and once to the known device.
  auto sent = frames("candidate");
  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[1]["to"], "4712");
  EXPECT_EQ(sent[2]["to"], "4712_B");
  EXPECT_TRUE(logged("[Deliver] still not connected 6s after the answer (received 0 candidate(s) from the peer) — "
                     "re-sending 1 local candidate(s) by broadcast → 4712 (remoteDeviceUdid=B)"));
  queue.advance(6.0);
  EXPECT_EQ(frames("candidate").size(), 5u);
  EXPECT_TRUE(logged("still not connected 12s after the answer"));
  // Well past where a third would fall (18 s), and before the 30 s attempt
  // time-out gives the call up.
  queue.advance(17.0);
  EXPECT_EQ(frames("candidate").size(), 5u) << "at most two re-sends";
  EXPECT_EQ(manager->state().call.candidateResendsDone, 2);
}

TEST_F(CallNegotiationTest, AResendOfAnEarlierCallNeverTouchesTheNextOne) {
  placeUntilOfferSent();
  calleeAnswers();
  manager->endCall();
  queue.advance(0.5);
  manager->makeCall(bob(), CallType::audio);
  acceptSocket();
  const auto before = frames("candidate").size();
  const auto generation = manager->callGeneration();
  queue.advance(13.0);
  EXPECT_EQ(manager->callGeneration(), generation);
  EXPECT_EQ(frames("candidate").size(), before);
  EXPECT_FALSE(logged("[Deliver]"));
}

TEST_F(CallNegotiationTest, TheCalleeBroadcastsUntilItLearnsTheCallersDeviceFromACandidate) {
  signIn();
  place();
  // The incoming side's shape: a ringing incoming call whose caller device is
  // still unknown.
  auto& call = manager->stateForTesting().call;
  call.currentSession = std::make_shared<CallSession>(
      CallSession{"PUSH-1", CallDirection::incoming, CallType::audio, bob(), Kind::ringing, std::nullopt});
  call.callState = Kind::ringing;
  manager->peerConnectionDidGenerateCandidate({"0", 0, "candidate:1 1 udp 1 10.0.0.1 5000 typ host"});
  auto sent = frames("candidate");
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0]["to"], "4712");
  EXPECT_TRUE(logged("[NativeCallMgr] Sending ICE candidate → 4712 (broadcast — caller device unknown) sdpMid=0"));

  deliver({{"type", "candidate"}, {"from", "4712_A"}, {"to", "4711_deskA"},
           {"candidate", {{"candidate", "candidate:9"}, {"sdpMid", "0"}, {"sdpMLineIndex", 0}}}});
  EXPECT_EQ(call.remoteDeviceUdid, "A");
  EXPECT_EQ(call.remoteCandidatesReceived, 1);
  // A later candidate of another device does not move the call.
  deliver({{"type", "candidate"}, {"from", "4712_Z"}, {"to", "4711_deskA"},
           {"candidate", {{"candidate", "candidate:10"}, {"sdpMid", "0"}, {"sdpMLineIndex", 0}}}});
  EXPECT_EQ(call.remoteDeviceUdid, "A");
  // Both wait in the buffer until a remote description exists.
  EXPECT_EQ(manager->state().call.remoteCandidatesReceived, 2);

  manager->peerConnectionDidGenerateCandidate({"", 1, "candidate:2 1 udp 1 10.0.0.1 5001 typ host"});
  sent = frames("candidate");
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[1]["to"], "4712_A");
  EXPECT_TRUE(sent[1]["candidate"]["sdpMid"].is_null());
  EXPECT_EQ(sent[1]["candidate"]["sdpMLineIndex"], 1);

  // Without my device identifier a candidate is dropped for good.
  manager->stateForTesting().kept.myDeviceUdid.reset();
  manager->peerConnectionDidGenerateCandidate({"0", 0, "candidate:3"});
  EXPECT_EQ(frames("candidate").size(), 2u);
  EXPECT_EQ(call.localCandidatesThisGeneration.size(), 2u);
  EXPECT_TRUE(logged("[NativeCallMgr] ICE candidate — missing remoteUserNumber or myFromAddress, dropping"));
}

}  // namespace
}  // namespace orvik::testing
