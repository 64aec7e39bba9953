// The call manager on virtual time against recording fakes of every port:
// placing, the end frames, the windows' and the clean-up's delays, the
// connecting watchdog, the generation guard and the state record's reset.
#include "calls/control/native_call_manager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "calls/control/test_support/manager_harness.h"

namespace orvik::testing {
namespace {

using Kind = CallState::Kind;
using Strings = std::vector<std::string>;

class NativeCallManagerTest : public ::testing::Test, public ManagerHarness {
 protected:
  // Puts the placed call into the shape a later behaviour would have left it in.
  void shapeCall(Kind kind, CallDirection direction, bool connected, std::optional<std::string> device,
                 std::set<std::string> ringing) {
    auto& call = manager->stateForTesting().call;
    if (direction == CallDirection::incoming) {
      call.currentSession = std::make_shared<CallSession>(
          CallSession{"PUSH-1", CallDirection::incoming, CallType::audio, bob(), kind, std::nullopt});
    }
    call.callState = kind;
    call.currentSession->state = kind;
    if (connected) call.currentSession->connectedAt = queue.clock().now();
    call.remoteDeviceUdid = std::move(device);
    call.ringingDeviceUdids = std::move(ringing);
  }
};

TEST_F(NativeCallManagerTest, PlacingACallStartsTheLocalSideAndConnectsWithTheCredentials) {
  signIn();
  pushToken = "push-A";
  manager->makeCall(bob(), CallType::audio);
  EXPECT_EQ(manager->callState(), CallState(Kind::calling));
  EXPECT_EQ(manager->callGeneration(), 1);
  queue.runUntilIdle();
  EXPECT_EQ(ports, (Strings{"inhibit Orvik Call In Progress", "tone connecting", "floating start Bob avatar= audio ringing=false",
                            "timer Calling..."}));
  ASSERT_TRUE(hub.last());
  EXPECT_EQ(hub.last()->url.find("token=tok-0123456789abcdef&userNumber=4711&deviceUdid=deskA&pushToken=push-A"
                                 "&isFreeUser=false") != std::string::npos,
            true)
      << hub.last()->url;
  EXPECT_EQ(page->scripts,
            Strings{"window.__orvikNativeCallActiveChanged && window.__orvikNativeCallActiveChanged(true);"});
  const auto& session = manager->state().call.currentSession;
  ASSERT_TRUE(session);
  EXPECT_EQ(session->direction, CallDirection::outgoing);
  EXPECT_EQ(session->sessionId.size(), 36u);
  EXPECT_EQ(manager->state().call.remoteUserNumber, "4712");
  EXPECT_TRUE(logged("[CallFlow] OUTGOING 4712 · +0.00s (+0.00s) · ▶ START — audio call placed"));
}

TEST_F(NativeCallManagerTest, WithoutAPushTokenTheSocketGetsAnEmptyOne) {
  signIn();
  manager->makeCall(bob(), CallType::audio);
  ASSERT_TRUE(hub.last());
  EXPECT_NE(hub.last()->url.find("pushToken=&isFreeUser=false"), std::string::npos) << hub.last()->url;
}

// (state, direction, connected, answering device known, ringing devices) →
// the frames on ending, in order.
struct EndRow {
  const char* name;
  Kind kind;
  CallDirection direction;
  bool connected;
  std::optional<std::string> device;
  std::set<std::string> ringing;
  Strings frames;
  bool dataChannelEnd;
  const char* reason;
};

TEST_F(NativeCallManagerTest, EndingSendsTheFramesTheCallsShapeCallsFor) {
  using D = CallDirection;
  const std::vector<EndRow> rows = {
      {"ringing out, no device rang", Kind::calling, D::outgoing, false, std::nullopt, {},
       {"endCall 4712 4711_deskA", "StopRinging 4712 4711_deskA"}, false,
       "I cancelled before it was answered (state=calling)"},
      {"ringing out on two devices", Kind::calling, D::outgoing, false, std::nullopt, {"B", "C"},
       {"endCall 4712 4711_deskA", "StopRinging 4712 4711_deskA", "endCall 4712_B 4711_deskA",
        "StopRinging 4712_B 4711_deskA", "endCall 4712_C 4711_deskA", "StopRinging 4712_C 4711_deskA"},
       false, "I cancelled before it was answered (state=calling)"},
      {"answered by B, not yet connected", Kind::connecting, D::outgoing, false, "B", {"B", "C"},
       {"endCall 4712 4711_deskA", "StopRinging 4712 4711_deskA", "endCall 4712_C 4711_deskA",
        "StopRinging 4712_C 4711_deskA"},
       true, "I cancelled before it was answered (state=connecting)"},
      {"connected through B", Kind::connected, D::outgoing, true, "B", {"B", "C"}, {"endCall 4712_B 4711_deskA"},
       true, "I hung up"},
      {"connected, device unknown", Kind::connected, D::outgoing, true, std::nullopt, {}, {"endCall 4712 4711_deskA"},
       true, "I hung up"},
      {"incoming still ringing", Kind::ringing, D::incoming, false, std::nullopt, {"C"},
       {"endCall 4712 4711_deskA", "StopRinging 4712 4711_deskA"}, false,
       "I ended it before it connected (state=ringing)"},
      {"busy answer", Kind::busy, D::outgoing, false, std::nullopt, {"B"},
       {"endCall 4712 4711_deskA", "StopRinging 4712 4711_deskA", "endCall 4712_B 4711_deskA",
        "StopRinging 4712_B 4711_deskA"},
       false, "I cancelled before it was answered (state=busy)"},
      {"failed after connecting once", Kind::failed, D::outgoing, true, "B", {}, {"endCall 4712_B 4711_deskA"}, false,
       "I cancelled before it was answered (state=failed)"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ManagerHarness h;
    h.signIn();
    h.placeCall();
    auto& call = h.manager->stateForTesting().call;
    if (row.direction == CallDirection::incoming) {
      call.currentSession = std::make_shared<CallSession>(
          CallSession{"PUSH-1", CallDirection::incoming, CallType::audio, bob(), row.kind, std::nullopt});
    }
    call.callState = row.kind == Kind::failed ? CallState::failed("ice") : CallState(row.kind);
    if (row.connected) call.currentSession->connectedAt = h.queue.clock().now();
    call.remoteDeviceUdid = row.device;
    call.ringingDeviceUdids = row.ringing;
    const auto before = h.callFrames().size();
    h.manager->endCall();
    h.queue.runUntilIdle();
    const auto all = h.callFrames();
    EXPECT_EQ(Strings(all.begin() + static_cast<long>(before), all.end()), row.frames);
    const auto& commands = h.peer->commands;
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "sendDataChannelMessage"), row.dataChannelEnd ? 1 : 0);
    EXPECT_EQ(h.manager->callState(), CallState(Kind::ended));
    h.queue.advance(5.0);
    EXPECT_TRUE(h.logged(std::string("■ END — ") + row.reason)) << row.reason;
  }
}

TEST_F(NativeCallManagerTest, WithoutOwnAddressNothingIsSentButTheCallStillEnds) {
  signIn();
  placeCall();
  manager->stateForTesting().kept.myDeviceUdid.reset();
  const auto before = callFrames().size();
  manager->endCall();
  queue.runUntilIdle();
  EXPECT_EQ(callFrames().size(), before);
  EXPECT_TRUE(logged("[NativeCallMgr] endCall — NOT sending (remoteUserNumber/from missing)"));
  EXPECT_EQ(manager->callState(), CallState(Kind::ended));
}

TEST_F(NativeCallManagerTest, AnUnansweredCallClosesItsWindowsAfterAThirdOfASecondAndCleansUpAfterTwoPointSix) {
  signIn();
  placeCall();
  const auto mark = portsMark();
  manager->endCall();
  manager->endCall();  // a second end while ended does nothing
  queue.runUntilIdle();
  EXPECT_EQ(portsSince(mark), (Strings{"floating end", "stop tone", "end tone", "timer Call ended", "connected false",
                                       "stop capture"}));
  queue.advance(0.29);
  EXPECT_EQ(portsSince(mark).size(), 6u);
  queue.advance(0.01);
  EXPECT_EQ(portsSince(mark).back(), "dismiss panel");
  const auto closed = portsMark();
  queue.advance(2.59);
  EXPECT_EQ(manager->callState(), CallState(Kind::ended));
  queue.advance(0.01);
  EXPECT_EQ(manager->callState(), CallState(Kind::idle));
  EXPECT_EQ(portsSince(closed), (Strings{"floating end", "uninhibit 1", "reset video model", "stop tone", "stop capture",
                                         "hide limit banner"}));
  EXPECT_FALSE(hub.last()->isLive());
  EXPECT_EQ(page->scripts.back(),
            "window.__orvikNativeCallActiveChanged && window.__orvikNativeCallActiveChanged(false);");
}

TEST_F(NativeCallManagerTest, AConnectedVideoCallMarksItsWindowAndClosesItAfterTwoSeconds) {
  signIn();
  placeCall(CallType::video);
  shapeCall(Kind::connected, CallDirection::outgoing, true, "B", {});
  const auto mark = portsMark();
  manager->endCall();
  queue.advance(1.99);
  auto since = portsSince(mark);
  EXPECT_NE(std::find(since.begin(), since.end(), "video ended"), since.end());
  EXPECT_EQ(std::find(since.begin(), since.end(), "close video"), since.end());
  queue.advance(0.01);
  since = portsSince(mark);
  EXPECT_NE(std::find(since.begin(), since.end(), "close video"), since.end());
  queue.advance(2.59);
  EXPECT_EQ(manager->callState(), CallState(Kind::ended));
  queue.advance(0.01);
  EXPECT_EQ(manager->callState(), CallState(Kind::idle));
}

TEST_F(NativeCallManagerTest, ARedialBeforeTheOldCallsDelayedStepsKeepsItsConnectionWindowsAndSocket) {
  signIn();
  placeCall();
  manager->endCall();
  queue.advance(0.1);
  // The user calls again while the ended call's windows are still up.
  manager->makeCall(bob(), CallType::audio);
  EXPECT_EQ(manager->callGeneration(), 2);
  EXPECT_TRUE(logged("[NativeCallMgr] makeCall — flushing lingering ended before new call"));
  acceptSocket();
  sendIceServers();
  ASSERT_TRUE(peer->isBuilt());
  EXPECT_TRUE(manager->state().call.peerConnIsReady);
  const auto mark = portsMark();
  queue.advance(10.0);
  // Neither the old window close nor the old clean-up touched the new call.
  EXPECT_EQ(manager->callState(), CallState(Kind::calling));
  EXPECT_TRUE(peer->isBuilt());
  EXPECT_TRUE(hub.last()->isLive());
  for (const auto& line : portsSince(mark)) {
    EXPECT_NE(line.rfind("close", 0), 0u) << line;
    EXPECT_NE(line, "stop capture");
  }
  EXPECT_TRUE(manager->state().call.powerAssertionActive);
}

TEST_F(NativeCallManagerTest, TheMediaTeardownOfAnEndedCallSkipsACallPlacedInTheSameTurn) {
  signIn();
  placeCall();
  sendIceServers();
  ASSERT_TRUE(peer->isBuilt());
  manager->endCall();
  manager->makeCall(bob(), CallType::audio);  // the lingering clean-up closes the old connection
  acceptSocket();
  sendIceServers();
  ASSERT_TRUE(peer->isBuilt());
  queue.advance(5.0);
  EXPECT_TRUE(peer->isBuilt()) << "the old call's teardown closed the new call's connection";
}

TEST_F(NativeCallManagerTest, TheConnectingWatchdogEndsACallStuckForExactlySixtySeconds) {
  signIn();
  placeCall();
  manager->timersForTesting().stopRingTimer();  // as the answer does
  manager->updateState(Kind::connecting);
  queue.advance(30.0);
  manager->updateState(Kind::connecting);  // no second watchdog, no tone change
  queue.advance(29.99);
  EXPECT_EQ(manager->callState(), CallState(Kind::connecting));
  queue.advance(0.01);
  EXPECT_EQ(manager->callState(), CallState(Kind::ended));
  EXPECT_TRUE(logged("[NativeCallMgr] ❌ CONNECTING HARD LIMIT: still connecting 60s after it started — ending "
                     "(answerSent=false answerReceived=false iceConnected=false attemptTimer=false)"));
  queue.advance(5.0);
  EXPECT_TRUE(logged("■ END — stuck on Connecting for 60s — safety limit | never connected"));
}

TEST_F(NativeCallManagerTest, TheWatchdogOfAnEarlierCallAndOfAConnectedCallDoNothing) {
  signIn();
  placeCall();
  manager->updateState(Kind::connecting);
  queue.advance(10.0);
  manager->endCall();
  queue.advance(1.0);
  placeCall();
  manager->timersForTesting().stopRingTimer();
  manager->updateState(Kind::connecting);  // the new call's own watchdog: due at 71 s
  queue.advance(59.0);                     // 70 s: the first call's watchdog has passed
  EXPECT_EQ(manager->callState(), CallState(Kind::connecting));

  ManagerHarness connected;
  connected.signIn();
  connected.placeCall();
  connected.manager->timersForTesting().stopRingTimer();
  connected.manager->updateState(Kind::connecting);
  connected.manager->stateForTesting().call.currentSession->connectedAt = connected.queue.clock().now();
  connected.queue.advance(61.0);
  EXPECT_EQ(connected.manager->callState(), CallState(Kind::connecting));
}

TEST_F(NativeCallManagerTest, UpdateStatePublishesEachStatesTextAndStepsTheTimelineOnlyOnChange) {
  struct Row {
    CallState state;
    Strings published;
  };
  const std::vector<Row> rows = {
      {Kind::idle, {"timer ", "connected false"}},
      {Kind::ringing, {"timer Incoming call"}},
      {Kind::calling, {"timer Calling..."}},
      {Kind::connected, {"timer ", "connected true"}},
      {Kind::ended, {"timer Call ended", "connected false"}},
      {Kind::rejected, {"timer Call rejected", "connected false"}},
      {Kind::missed, {"timer Missed call", "connected false"}},
      {Kind::busy, {"timer User busy right now", "connected false"}},
      {CallState::failed("Auth failed"), {"timer Failed: Auth failed", "connected false"}},
  };
  signIn();
  placeCall();
  for (const auto& row : rows) {
    const auto mark = portsMark();
    const auto steps = std::count_if(lines.begin(), lines.end(), [](auto& l) { return l.find("· state ") != l.npos; });
    const bool change = !(manager->callState() == row.state);
    manager->updateState(row.state);
    queue.runUntilIdle();
    EXPECT_EQ(portsSince(mark), row.published);
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](auto& l) { return l.find("· state ") != l.npos; }),
              steps + (change ? 1 : 0));
  }
  // A page text replaces the default.
  strings.setCallStrings(R"(setCallStrings:{"connecting":"Conectando..."})");
  const auto mark = portsMark();
  manager->updateState(Kind::connecting);
  queue.runUntilIdle();
  const auto published = portsSince(mark);
  EXPECT_NE(std::find(published.begin(), published.end(), "timer Conectando..."), published.end());
}

TEST_F(NativeCallManagerTest, ConnectingPlaysTheConnectingToneOnlyForAnIncomingCallThatNeverConnected) {
  struct Row {
    const char* name;
    CallDirection direction;
    bool connectedBefore;
    const char* tone;
  };
  for (const auto& row : std::vector<Row>{{"incoming", CallDirection::incoming, false, "tone connecting"},
                                          {"incoming reconnecting", CallDirection::incoming, true, "stop tone"},
                                          {"outgoing", CallDirection::outgoing, false, "stop tone"}}) {
    SCOPED_TRACE(row.name);
    ManagerHarness h;
    h.signIn();
    h.placeCall();
    auto& call = h.manager->stateForTesting().call;
    if (row.direction == CallDirection::incoming) {
      call.currentSession = std::make_shared<CallSession>(
          CallSession{"PUSH-1", CallDirection::incoming, CallType::audio, bob(), Kind::ringing, std::nullopt});
      call.callState = Kind::ringing;
    }
    if (row.connectedBefore) call.currentSession->connectedAt = h.queue.clock().now();
    const auto mark = h.portsMark();
    h.manager->updateState(Kind::connecting);
    EXPECT_EQ(h.portsSince(mark), Strings{row.tone});
  }
}

struct GuardRow {
  const char* name;
  std::function<void(ManagerHarness&)> setUp;
  CallUser callee;
  CallType type;
  std::int64_t generation;
  bool newTimeline;
  std::optional<std::string> alert;
  bool windowsClosed;
  Kind state;
  std::optional<std::string> logLine;
};

TEST_F(NativeCallManagerTest, MakeCallGuardsRunInOrder) {
  const auto signedIn = [](ManagerHarness& h) { h.signIn(); };
  CallUser blank = bob();
  blank.userNumber = " \t ";
  const std::vector<GuardRow> rows = {
      {"decoy", [](ManagerHarness& h) { h.signIn(); h.manager->setSecurityState(true, false); }, bob(), CallType::audio,
       0, false, std::nullopt, false, Kind::idle, "[NativeCallMgr] makeCall blocked — decoy/wipeout active"},
      {"wipe-out", [](ManagerHarness& h) { h.signIn(); h.manager->setSecurityState(false, true); }, bob(),
       CallType::audio, 0, false, std::nullopt, false, Kind::idle, std::nullopt},
      {"already ringing",
       [](ManagerHarness& h) {
         h.signIn();
         h.manager->stateForTesting().call.callState = Kind::ringing;
       },
       bob(), CallType::audio, 0, false, std::nullopt, false, Kind::ringing,
       "[NativeCallMgr] makeCall ignored — already in a call (ringing)"},
      {"blank callee", signedIn, blank, CallType::audio, 0, true, "Can't Place Call", true, Kind::idle,
       "[NativeCallMgr] makeCall ABORTED — callee OrvikID is empty (name=Bob); the caller sent no userNumber"},
      {"no credentials", [](ManagerHarness&) {}, bob(), CallType::audio, 1, true, "Can't Place Call", true, Kind::idle,
       "[NativeCallMgr] makeCall failed — no credentials"},
      {"no microphone", [](ManagerHarness& h) { h.signIn(); h.capture.microphone = false; }, bob(), CallType::audio, 1,
       true, "No Microphone Found", true, Kind::idle, "[NativeCallMgr] makeCall — no microphone attached, aborting"},
      {"video, no camera", [](ManagerHarness& h) { h.signIn(); h.capture.camera = false; }, bob(), CallType::video, 1,
       true, "No Camera Found", false, Kind::calling,
       "[NativeCallMgr] makeCall — no camera attached, continuing audio-only"},
      {"audio, no camera", [](ManagerHarness& h) { h.signIn(); h.capture.camera = false; }, bob(), CallType::audio, 1,
       true, std::nullopt, false, Kind::calling, std::nullopt},
      {"video with camera", signedIn, bob(), CallType::video, 1, true, std::nullopt, false, Kind::calling,
       std::nullopt},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ManagerHarness h;
    row.setUp(h);
    h.manager->timeline().begin("EARLIER", "call", "still running");
    h.manager->makeCall(row.callee, row.type);
    h.queue.runUntilIdle();
    EXPECT_EQ(h.manager->callGeneration(), row.generation);
    EXPECT_EQ(h.logged("▶ START — "), true);  // the earlier one
    EXPECT_EQ(h.logged("(previous timeline closed by a new call)"), row.newTimeline);
    if (row.alert) {
      ASSERT_EQ(h.alerts.shown.size(), 1u);
      EXPECT_EQ(h.alerts.shown[0].first, *row.alert);
    } else {
      EXPECT_TRUE(h.alerts.shown.empty());
    }
    const bool closed = std::find(h.ports.begin(), h.ports.end(), "close audio") != h.ports.end();
    EXPECT_EQ(closed, row.windowsClosed);
    if (closed) {
      // The alert comes before the windows close.
      EXPECT_LT(std::find(h.ports.begin(), h.ports.end(), "alert " + *row.alert),
                std::find(h.ports.begin(), h.ports.end(), "close audio"));
    }
    EXPECT_EQ(h.manager->callState(), CallState(row.state));
    if (row.logLine) {
      EXPECT_TRUE(h.logged(*row.logLine)) << *row.logLine;
    }
  }
}

TEST_F(NativeCallManagerTest, AVideoCallShowsThePreviewOrFallsBackToCameraOff) {
  signIn();
  placeCall(CallType::video);
  EXPECT_NE(std::find(ports.begin(), ports.end(), "prewarm camera"), ports.end());
  EXPECT_NE(std::find(ports.begin(), ports.end(), "preview set"), ports.end());

  ManagerHarness without;
  without.signIn();
  without.capture.camera = false;
  without.placeCall(CallType::video);
  const auto& p = without.ports;
  EXPECT_NE(std::find(p.begin(), p.end(), "capture camera off"), p.end());
  EXPECT_NE(std::find(p.begin(), p.end(), "camera off in windows"), p.end());
  EXPECT_EQ(without.manager->state().call.currentSession->type, CallType::video);
  EXPECT_FALSE(without.manager->state().call.localCameraOff);
}

TEST_F(NativeCallManagerTest, WithoutCredentialsThePageIsAskedAndALingeringCallIsStillFlushed) {
  signIn();
  placeCall();
  manager->endCall();
  queue.advance(0.1);
  manager->clearCredentials();
  manager->makeCall(bob(), CallType::audio);
  EXPECT_EQ(manager->callGeneration(), 2);
  EXPECT_EQ(manager->callState(), CallState(Kind::idle));
  EXPECT_EQ(fetches, Strings{"outgoing-call"});
}

TEST_F(NativeCallManagerTest, CleanupResetsEveryPerCallFieldKeepsTheRestAndIsSafeTwice) {
  signIn();
  manager->setSecurityState(false, false);
  placeCall(CallType::video);
  auto& state = manager->stateForTesting();
  auto timer = [this] {
    auto item = std::make_shared<platform::WorkItem>([] { ADD_FAILURE() << "a timer of a cleaned-up call ran"; });
    queue.postAfter(100.0, item);
    return item;
  };
  auto& call = state.call;
  call.currentCallId = 77;
  call.remoteDeviceUdid = "B";
  call.outgoingAddRecord = nlohmann::json{{"to", "4712"}};
  call.incomingFromPush = call.reauthAttempted = call.awaitingReauth = true;
  call.localMuted = call.localCameraOff = call.isScreenSharing = true;
  call.pendingRemoteOffer = PendingRemoteOffer{"4712_B", {"offer", "v=0", "mobile"}, false, "B"};
  call.captureReadyForAnswer = call.answerInProgress = call.pendingAutoAccept = call.peerConnIsReady = true;
  call.acceptBroadcastSent = call.localAnswerSent = call.deviceFetchDone = call.remoteAnswerReceived = true;
  call.acceptWatchdogTimer = timer();
  call.pendingOfferSDP = "{}";
  call.ringingDeviceUdids = {"B"};
  call.ignoredAnswerUdids = {"C"};
  call.pendingLocalCandidates = {{"0", 0, "candidate:1"}};
  call.localCandidatesThisGeneration = {{"0", 0, "candidate:2"}};
  call.remoteCandidatesReceived = call.candidateResendsDone = 3;
  call.candidateResendTimer = timer();
  call.iceAttemptTimer = timer();
  call.iceDisconnectTimer = timer();
  call.iceWatchdogTimer = timer();
  call.iceAttemptStartedAt = call.lastIceRecoverAt = call.lastPeerMidCallOfferAt = call.serverCallFinishedAt =
      queue.clock().now();
  call.iceRestartCount = call.iceRestartRequestsSent = call.callSocketConnects = 2;
  call.iceRestartInFlight = call.midCallOfferInProgress = call.plainRestartInFlight = true;
  call.iceRestartCapablePeers = {"4712_B"};
  call.originalRemoteOfferSDP = "v=0";
  call.remoteDeviceSource = "mobile";
  call.callCapSeconds = 600;
  call.callExtendCount = 1;
  call.peerCallLimitExempt = true;
  call.sentCallLimitExemptAt = call.firedCallLimitWarnings = call.firedDailyVideoWarnings = {300};
  call.videoDailyUsedAtStart = 120;
  state.kept.otherDeviceBusy = true;
  state.kept.callLimitExempt = true;
  state.kept.specialCallingNumbers = {"4799"};
  state.kept.localIsSubscribed = true;
  const auto kept = state.kept;
  std::vector<std::shared_ptr<platform::WorkItem>> timers = {call.acceptWatchdogTimer, call.candidateResendTimer,
                                                             call.iceAttemptTimer, call.iceDisconnectTimer,
                                                             call.iceWatchdogTimer};

  manager->cleanup();
  EXPECT_EQ(state.call, NativeCallState::PerCall{});
  EXPECT_EQ(state.kept, kept);
  for (const auto& item : timers) EXPECT_TRUE(item->isCancelled());
  EXPECT_NE(std::find(ports.begin(), ports.end(), "stop share"), ports.end());
  EXPECT_NE(std::find(ports.begin(), ports.end(), "uninhibit 1"), ports.end());

  const auto mark = portsMark();
  manager->cleanup();
  queue.advance(200.0);
  EXPECT_EQ(state.call, NativeCallState::PerCall{});
  EXPECT_EQ(state.kept, kept);
  const auto again = portsSince(mark);
  EXPECT_EQ(std::count(again.begin(), again.end(), "uninhibit 1"), 0);
  EXPECT_EQ(std::count(again.begin(), again.end(), "stop share"), 0);
}

TEST_F(NativeCallManagerTest, CleanupRemembersEndedIncomingCallsForThreeMinutes) {
  signIn();
  placeCall();
  auto incoming = [this](std::string id) {
    manager->stateForTesting().call.currentSession = std::make_shared<CallSession>(
        CallSession{std::move(id), CallDirection::incoming, CallType::audio, bob(), Kind::ringing, std::nullopt});
    manager->cleanup();
  };
  incoming("PUSH-1");
  incoming("");
  EXPECT_TRUE(manager->wasRecentlyEndedIncoming("PUSH-1"));
  EXPECT_FALSE(manager->wasRecentlyEndedIncoming(""));
  queue.advance(179.9);
  EXPECT_TRUE(manager->wasRecentlyEndedIncoming("PUSH-1"));
  queue.advance(0.1);
  EXPECT_FALSE(manager->wasRecentlyEndedIncoming("PUSH-1"));
}

TEST_F(NativeCallManagerTest, OneInhibitionServesTwoStartsAndARefusalIsTriedAgain) {
  manager->preventDisplaySleep();
  manager->preventDisplaySleep();
  EXPECT_EQ(ports, Strings{"inhibit Orvik Call In Progress"});
  manager->cleanup();
  EXPECT_EQ(std::count(ports.begin(), ports.end(), "uninhibit 1"), 1);

  ManagerHarness refusing;
  refusing.displaySleep.refuse = true;
  refusing.manager->preventDisplaySleep();
  EXPECT_FALSE(refusing.manager->state().call.powerAssertionActive);
  refusing.displaySleep.refuse = false;
  refusing.manager->preventDisplaySleep();
  EXPECT_TRUE(refusing.manager->state().call.powerAssertionActive);
  EXPECT_EQ(std::count(refusing.ports.begin(), refusing.ports.end(), "inhibit Orvik Call In Progress"), 2);
}

TEST_F(NativeCallManagerTest, ThePageHearsOfTheCallOnlyWhileItsViewExists) {
  manager->notifyWebNativeCallActive(true);
  queue.runUntilIdle();
  EXPECT_EQ(page->scripts,
            Strings{"window.__orvikNativeCallActiveChanged && window.__orvikNativeCallActiveChanged(true);"});
  page.reset();
  manager->notifyWebNativeCallActive(false);
  queue.runUntilIdle();  // skipped without a view, silently
}

TEST_F(NativeCallManagerTest, TheMainWindowComesForwardBesideTheCallWindowUnlessItIsElsewhere) {
  struct Row {
    bool callWindow;
    MainWindowPlacement placement;
    Strings lines;
  };
  const std::vector<Row> rows = {
      {true, MainWindowPlacement::available, {"raise call windows", "activate", "present main", "raise call windows"}},
      {true, MainWindowPlacement::onOtherDesktop, {"raise call windows", "activate", "raise call windows"}},
      {false, MainWindowPlacement::available, {"activate", "present main"}},
      {false, MainWindowPlacement::none, {"activate"}},
  };
  for (const auto& row : rows) {
    ManagerHarness h;
    h.windows.callWindow = row.callWindow;
    h.windows.placement = row.placement;
    h.manager->showMainAppWindow();
    EXPECT_EQ(h.ports, row.lines);
  }
}

TEST_F(NativeCallManagerTest, AStalePanelOrWindowGoesOnlyWhenNoCallIsInProgress) {
  manager->dismissCallUIIfIdle();
  EXPECT_EQ(ports, (Strings{"dismiss panel", "close audio", "close video", "floating end"}));
  signIn();
  placeCall();
  const auto mark = portsMark();
  manager->dismissCallUIIfIdle();
  EXPECT_TRUE(portsSince(mark).empty());
}

TEST_F(NativeCallManagerTest, HangingUpEndsOnlyACallInProgress) {
  for (Kind kind : {Kind::idle, Kind::ended, Kind::failed, Kind::missed}) {
    ManagerHarness h;
    h.manager->stateForTesting().call.callState = kind;
    h.manager->hangUpCurrentCall();
    h.queue.runUntilIdle();
    EXPECT_TRUE(h.ports.empty());
  }
  signIn();
  placeCall();
  manager->hangUpCurrentCall();
  EXPECT_EQ(manager->callState(), CallState(Kind::ended));
  EXPECT_TRUE(logged("[NativeCallMgr] hangUpCurrentCall — ending active call"));
}

TEST_F(NativeCallManagerTest, EndCallFromAnotherThreadMovesToTheMainQueue) {
  signIn();
  placeCall();
  std::thread([m = manager] { m->endCall(); }).join();
  EXPECT_EQ(manager->callState(), CallState(Kind::calling));
  queue.runUntilIdle();
  EXPECT_EQ(manager->callState(), CallState(Kind::ended));
}

TEST_F(NativeCallManagerTest, SignOutDuringACallTearsItDownFirst) {
  signIn();
  placeCall();
  manager->clearCredentials();
  // The call ends the whole way (the peer told, the record written) and is
  // torn down once its windows closed.
  EXPECT_EQ(manager->callState(), CallState(Kind::ended));
  EXPECT_FALSE(manager->hasCredentials());
  queue.advance(NativeCallManager::kWindowCloseSeconds + NativeCallManager::kCleanupAfterWindowCloseSeconds);
  EXPECT_EQ(manager->callState(), CallState(Kind::idle));
  EXPECT_NE(std::find(ports.begin(), ports.end(), "uninhibit 1"), ports.end());
}

TEST_F(NativeCallManagerTest, TheSecurityFlagsArePersistedAndReadBackByTheNextManager) {
  manager->setSecurityState(true, false);
  platform::UserDefaults reread(defaults.path());
  NativeCallManager::Collaborators c{signaling, peer, tones, windows, alerts, capture, share, displaySleep, reread};
  c.log = [](const std::string&) {};
  const auto next = NativeCallManager::create(std::move(c));
  EXPECT_TRUE(next->isMaskedOrWiped());
  EXPECT_TRUE(next->state().kept.isMasked);
  EXPECT_FALSE(next->state().kept.isWiped);
}

TEST_F(NativeCallManagerTest, HelpersWriteTheirExactTexts) {
  EXPECT_EQ(NativeCallManager::dataChannelFlagMessage("AudioToggled", true), R"({"type":"AudioToggled","data":true})");
  EXPECT_EQ(NativeCallManager::dataChannelFlagMessage("VideoToggled", false), R"({"type":"VideoToggled","data":false})");
  EXPECT_FALSE(manager->makeCallLogContext());
  signIn();
  placeCall(CallType::video);
  manager->stateForTesting().call.currentCallId = 1001;
  const auto context = manager->makeCallLogContext();
  ASSERT_TRUE(context);
  EXPECT_EQ(context->callId, 1001);
  EXPECT_FALSE(context->isAudio);
  EXPECT_EQ(context->remoteUserNumber, "4712");
  EXPECT_EQ(context->webView.lock(), page);
}

TEST_F(NativeCallManagerTest, RevokedScreenshotAccessStopsAShareOfOurOwnWindowElseUpdatesTheExclusion) {
  windows.windowNumbers = {0x3a00007, 0x3a00011};
  manager->applyScreenshotAccess(false);
  manager->applyScreenshotAccess(true);
  share.sharingOwnWindow = true;
  manager->applyScreenshotAccess(false);
  EXPECT_EQ(ports, (Strings{"exclude 60817415 60817425", "include 60817415 60817425", "stop share"}));
}

}  // namespace
}  // namespace orvik::testing
