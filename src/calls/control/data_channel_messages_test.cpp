// The peer's data-channel messages: the lenient reading of the texts, what
// each does to the call and its screens when Bob's fake connection sends it,
// the screen-share conflict (role × timing × camera), the remote video
// track, and the generation-checked teardown steps.
#include "calls/control/data_channel_messages.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "calls/control/native_call_manager.h"
#include "calls/control/test_support/connected_call_harness.h"

namespace orvik::testing {
namespace {

using nlohmann::json;
using Kind = CallState::Kind;
using Strings = std::vector<std::string>;

TEST(DataChannelFlag, ReadsBooleansOneAndTrueTextsAsTrueAndEverythingElseAsFalse) {
  const std::pair<const char*, bool> cases[] = {
      {"true", true},     {"false", false},   {"1", true},       {"0", false},       {"2", false},
      {"-1", false},      {"1.0", false},     {R"("1")", true},  {R"("TRUE")", true}, {R"("True")", true},
      {R"("true")", true}, {R"("yes")", false}, {R"("0")", false}, {R"(" 1")", false}, {R"("")", false},
      {"null", false},    {"[1]", false},     {R"({"a":1})", false},
  };
  for (const auto& [text, expected] : cases) {
    const auto value = json::parse(text);
    EXPECT_EQ(parseDataChannelFlag(&value), expected) << text;
  }
  EXPECT_FALSE(parseDataChannelFlag(nullptr)) << "absent";
}

TEST(DataChannelMessageText, TakesAnObjectWithAStringTypeTrimmedOfBlanksAndQuotes) {
  using Message = std::optional<DataChannelMessage>;
  const std::pair<const char*, Message> cases[] = {
      {R"({"type":"AudioToggled","data":false})", DataChannelMessage{"AudioToggled", false}},
      {R"({"type":" 'AudioToggled' ","data":"1"})", DataChannelMessage{"AudioToggled", true}},
      {R"({"type":"`\"VideoToggled\"`"})", DataChannelMessage{"VideoToggled", false}},
      {R"( {"data":true,"type":"CallExtended"} )", DataChannelMessage{"CallExtended", true}},
      {R"({"type":"audiotoggled","data":true})", DataChannelMessage{"audiotoggled", true}},
      {R"({"type":"  "})", DataChannelMessage{"", false}},
      {"endCall ", std::nullopt},
      {"EndCall", std::nullopt},
      {"accepted", std::nullopt},
      {"", std::nullopt},
      {R"({"type":5,"data":true})", std::nullopt},
      {R"({"data":true})", std::nullopt},
      {R"(["AudioToggled",false])", std::nullopt},
      {R"({"type":"AudioToggled","data":false)", std::nullopt},
      {R"({"type":"AudioToggled"} trailing)", std::nullopt},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(parseDataChannelMessage(text), expected) << text;
}

class DataChannelMessagesTest : public ::testing::Test, public ConnectedCallHarness {
 protected:
  // Bob's text crosses the fake channel; what it does is settled.
  void bobSends(const std::string& text) {
    bob->sendDataChannelMessage(text);
    queue.runUntilIdle();
  }
  // What Bob received since `from`.
  Strings bobReceived(std::size_t from = 0) const {
    return {bobEvents->messages.begin() + static_cast<std::ptrdiff_t>(from), bobEvents->messages.end()};
  }
  // This side answers the call instead of placing it.
  void becomeCallee() {
    auto& call = manager->stateForTesting().call;
    const auto s = *call.currentSession;
    call.currentSession = std::make_shared<CallSession>(
        CallSession{s.sessionId, CallDirection::incoming, s.type, s.remoteUser, s.state, s.connectedAt});
  }
  void shareScreen() {
    manager->startScreenShare(ShareableDisplay{0, "Entire screen", 1920, 1080});
    queue.runUntilIdle();
    ASSERT_TRUE(share.pendingStart);
    share.finishStart();
    queue.runUntilIdle();
    ASSERT_TRUE(manager->state().call.isScreenSharing);
  }
};

TEST_F(DataChannelMessagesTest, EachMessageWritesItsScreenFlagAndOthersAreDroppedSilently) {
  connectCall(CallType::video);
  struct Case {
    const char* text;
    Strings ports;
    const char* logLine;
  };
  const Case cases[] = {
      {R"({"type":"AudioToggled","data":false})", {"remote muted true"},
       "[NativeCallMgr] DataChannel AudioToggled — remoteMuted=true"},
      {R"({"type":" 'AudioToggled' ","data":"1"})", {"remote muted false"},
       "[NativeCallMgr] DataChannel AudioToggled — remoteMuted=false"},
      {R"({"type":"VideoToggled"})", {"remote video off true"},
       "[NativeCallMgr] DataChannel VideoToggled — remoteVideoOff=true"},
      {R"({"type":"VideoToggled","data":2})", {"remote video off true"}, nullptr},
      {R"({"type":"VideoToggled","data":1})", {"remote video off false"},
       "[NativeCallMgr] DataChannel VideoToggled — remoteVideoOff=false"},
      {R"({"type":"ScreenShareToggled","data":false})", {"remote sharing false"},
       "[NativeCallMgr] DataChannel ScreenShareToggled — remoteSharing=false"},
      {R"({"type":"ScreenShareToggled","data":"TRUE"})", {"remote sharing true"},
       "[NativeCallMgr] DataChannel ScreenShareToggled — remoteSharing=true"},
      {R"({"type":"CallLimitExempt","data":false})", {},
       "[CallLimit] peer says it has special calling access — no limits for this call"},
      {"endCall ", {}, nullptr},
      {"ENDCALL", {}, nullptr},
      {"accepted", {}, nullptr},
      {R"({"type":"RaiseHand","data":true})", {}, nullptr},
      {R"({"type":"AudioToggled")", {}, nullptr},
  };
  for (const auto& c : cases) {
    const auto mark = portsMark();
    const auto linesBefore = lines.size();
    bobSends(c.text);
    EXPECT_EQ(portsSince(mark), c.ports) << c.text;
    const Strings newLines(lines.begin() + static_cast<std::ptrdiff_t>(linesBefore), lines.end());
    if (c.logLine) {
      EXPECT_EQ(newLines, Strings{c.logLine}) << c.text;
    } else if (c.ports.empty()) {
      EXPECT_TRUE(newLines.empty()) << c.text << ": " << ::testing::PrintToString(newLines);
    }
  }
  EXPECT_FALSE(manager->state().call.peerCallLimitExempt) << "a false CallLimitExempt changes nothing";
  EXPECT_EQ(manager->callState(), CallState(Kind::connected));
}

TEST_F(DataChannelMessagesTest, ThePeersEndCallEndsTheCallEvenWhileItIsReconnecting) {
  connectCall(CallType::audio);
  // A dropped connection holds a plain remote end back; the peer's own
  // hang-up must not wait.
  manager->beginReconnectWindow("test", "Reconnecting...");
  bobSends("endCall");
  EXPECT_TRUE(logged("[NativeCallMgr] DataChannel endCall received — remote ended connected call"));
  EXPECT_NE(manager->callState(), CallState(Kind::connected));
  queue.advance(10.0);
  EXPECT_EQ(manager->callState(), CallState(Kind::idle));
}

TEST_F(DataChannelMessagesTest, ThePeersSpecialAccessHidesTheBannerOnceAndStopsTheLimits) {
  connectCall(CallType::audio);
  manager->showCallLimitWarning("This call will end in 5 minutes.", false);
  queue.runUntilIdle();
  ASSERT_TRUE(windows.limitWarning);
  const auto mark = portsMark();
  bobSends(R"({"type":"CallLimitExempt","data":true})");
  bobSends(R"({"type":"CallLimitExempt","data":1})");
  bobSends(R"({"type":"CallLimitExempt","data":false})");
  EXPECT_EQ(portsSince(mark), Strings{"hide limit banner"});
  EXPECT_TRUE(manager->state().call.peerCallLimitExempt);
  // The cap does not end this call any more.
  manager->checkCallLimits(3600);
  queue.runUntilIdle();
  EXPECT_EQ(manager->callState(), CallState(Kind::connected));
}

TEST_F(DataChannelMessagesTest, ThePeersExtendExtendsHereWhateverItsFlagAndIsNotEchoed) {
  connectCall(CallType::audio);
  const auto sent = bobEvents->messages.size();
  bobSends(R"({"type":"CallExtended","data":false})");
  EXPECT_EQ(manager->state().call.callCapSeconds, 4800);
  EXPECT_EQ(manager->state().call.callExtendCount, 1);
  EXPECT_TRUE(logged("[CallLimit] peer tapped Extend — extending here too"));
  EXPECT_TRUE(logged("[CallLimit] call extended by 20 min (1/2) — new cap 4800s (sentToPeer=false)"));
  EXPECT_EQ(bobReceived(sent), Strings{});
}

TEST_F(DataChannelMessagesTest, TheCalleeSaysAcceptedWhenTheCallersChannelArrives) {
  connectCall(CallType::audio);
  auto sent = bobEvents->messages.size();
  manager->peerConnectionDidOpenRemoteDataChannel();
  queue.runUntilIdle();
  EXPECT_EQ(bobReceived(sent), Strings{}) << "the caller says nothing";
  becomeCallee();
  manager->peerConnectionDidOpenRemoteDataChannel();
  queue.runUntilIdle();
  EXPECT_EQ(bobReceived(sent), Strings{"accepted"});
  EXPECT_TRUE(logged("[NativeCallMgr] Remote data channel opened — sending 'accepted' to caller"));
}

TEST_F(DataChannelMessagesTest, BothSharingTheCallerWinsWithinOneAndAHalfSecondsElseTheLaterShare) {
  struct Case {
    const char* name;
    bool caller;
    bool cameraOffBefore;   // the user turned the camera off before sharing
    bool cameraOffDuring;   // ... or while sharing
    double peerStartsAfter;  // seconds after our share started
    bool unsetStart;        // our start time is not known
    bool keepsShare;
    bool cameraOnAfter;
  };
  const Case cases[] = {
      {"caller, 1 s apart", true, false, false, 1.0, false, true, true},
      {"callee, 1 s apart", false, false, false, 1.0, false, false, true},
      {"callee, 1 s apart, camera off while sharing", false, false, true, 1.0, false, false, true},
      {"callee, 1 s apart, camera off before sharing", false, true, false, 1.0, false, false, false},
      {"caller, 1.5 s apart", true, false, false, 1.5, false, false, true},
      {"caller, 2 s apart, camera off while sharing", true, false, true, 2.0, false, false, true},
      {"caller, 2 s apart, camera off before sharing", true, true, false, 2.0, false, false, false},
      {"callee, 2 s apart", false, false, false, 2.0, false, false, true},
      {"caller, start unknown", true, false, false, 0.1, true, false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ConnectedCallHarness h;
    h.connectCall(CallType::video);
    if (!c.caller) {
      auto& call = h.manager->stateForTesting().call;
      const auto s = *call.currentSession;
      call.currentSession = std::make_shared<CallSession>(
          CallSession{s.sessionId, CallDirection::incoming, s.type, s.remoteUser, s.state, s.connectedAt});
    }
    if (c.cameraOffBefore) h.manager->setCameraOff(true);
    h.queue.runUntilIdle();
    h.manager->startScreenShare(ShareableDisplay{0, "Entire screen", 1920, 1080});
    h.queue.runUntilIdle();
    h.share.finishStart();
    h.queue.runUntilIdle();
    ASSERT_TRUE(h.manager->state().call.isScreenSharing);
    if (c.cameraOffDuring) h.manager->setCameraOff(true);
    if (c.unsetStart) h.manager->stateForTesting().kept.screenShareStartedAt.reset();
    h.queue.advance(c.peerStartsAfter);
    const auto sent = h.bobEvents->messages.size();
    h.bob->sendDataChannelMessage(R"({"type":"ScreenShareToggled","data":true})");
    h.queue.runUntilIdle();

    EXPECT_EQ(h.manager->state().call.isScreenSharing, c.keepsShare);
    EXPECT_EQ(!h.manager->state().call.localCameraOff, c.cameraOnAfter);
    Strings expected;
    if (!c.keepsShare) expected.push_back(R"({"type":"ScreenShareToggled","data":false})");
    if (!c.keepsShare && c.cameraOffDuring) expected.insert(expected.begin(), R"({"type":"VideoToggled","data":true})");
    EXPECT_EQ(Strings(h.bobEvents->messages.begin() + static_cast<std::ptrdiff_t>(sent), h.bobEvents->messages.end()),
              expected);
    EXPECT_TRUE(h.logged(c.keepsShare
                             ? "[NativeCallMgr] peer started sharing at the same time — we're the caller, keeping ours"
                             : "[NativeCallMgr] peer started screen sharing — stopping ours, camera back on"));
    if (!c.keepsShare) {
      EXPECT_EQ(h.peer->localVideoEnabled, c.cameraOnAfter) << "the camera track back on the sender";
    }
  }
}

TEST_F(DataChannelMessagesTest, ThePeersShareStartWithoutOneOfOursOnlyShowsItsScreen) {
  connectCall(CallType::video);
  const auto mark = portsMark();
  bobSends(R"({"type":"ScreenShareToggled","data":true})");
  EXPECT_EQ(portsSince(mark), Strings{"remote sharing true"});
  EXPECT_FALSE(logged("stopping ours"));
}

TEST_F(DataChannelMessagesTest, ARemoteVideoTrackReachesTheVideoScreenAndAudioNeedsNothing) {
  connectCall(CallType::video);
  auto mark = portsMark();
  manager->attachRemoteTrack({"audio", "a0", true, nullptr});
  queue.runUntilIdle();
  EXPECT_EQ(portsSince(mark), Strings{});
  EXPECT_TRUE(logged("[NativeCallMgr] Remote track: kind=audio id=a0"));
  EXPECT_FALSE(logged("attaching to VideoCallView"));

  // Two distinct track handles of the fake engine.
  const VideoTrackHandle first = bob->senderTrack;
  const VideoTrackHandle second = peer->senderTrack;
  ASSERT_TRUE(first && second && first != second);
  const auto held = first.use_count();
  manager->attachRemoteTrack({"video", "v0", true, first});
  queue.runUntilIdle();
  EXPECT_EQ(first.use_count(), held + 1);
  manager->attachRemoteTrack({"video", "v1", true, second});
  queue.runUntilIdle();
  EXPECT_EQ(portsSince(mark), (Strings{"remote video", "remote video"}));
  EXPECT_EQ(windows.remoteVideoTrack, second);
  EXPECT_EQ(first.use_count(), held) << "the previous track is let go";
  EXPECT_TRUE(logged("[NativeCallMgr] Remote video track — attaching to VideoCallView"));
}

TEST_F(DataChannelMessagesTest, AStaleTeardownStepLeavesTheNextCallAlone) {
  connectCall(CallType::audio);
  const auto oldGeneration = manager->callGeneration();
  manager->endCall();
  queue.advance(10.0);
  ASSERT_EQ(manager->callState(), CallState(Kind::idle));
  placeCall();
  sendIceServers();
  ASSERT_TRUE(peer->isBuilt());
  const auto mark = portsMark();
  manager->teardownMediaIfSameGeneration(oldGeneration);
  manager->cleanupIfSameGeneration(oldGeneration);
  queue.runUntilIdle();
  EXPECT_TRUE(peer->isBuilt());
  EXPECT_EQ(manager->callState(), CallState(Kind::calling));
  EXPECT_EQ(std::count(ports.begin() + static_cast<std::ptrdiff_t>(mark), ports.end(), "stop capture"), 0);

  manager->teardownMediaIfSameGeneration(manager->callGeneration());
  queue.runUntilIdle();
  EXPECT_FALSE(peer->isBuilt());
  EXPECT_EQ(std::count(ports.begin() + static_cast<std::ptrdiff_t>(mark), ports.end(), "stop capture"), 1);
  manager->cleanupIfSameGeneration(manager->callGeneration());
  EXPECT_EQ(manager->callState(), CallState(Kind::idle));
}

}  // namespace
}  // namespace orvik::testing
