// Video upgrade on virtual time: an audio call to Bob's device B is turned
// into a video call by our offer and his answer; an offer he never answers
// is undone after 15 s, leaving the connection able to restart ICE.
#include <gtest/gtest.h>

#include <algorithm>

#include "calls/control/native_call_manager.h"
#include "calls/control/test_support/connected_call_harness.h"

namespace orvik::testing {
namespace {

using Strings = std::vector<std::string>;

class VideoUpgradeTest : public ::testing::Test, public ConnectedCallHarness {
 protected:
  // Asks for the upgrade; returns the "videoUpgradeOffer" frame sent.
  std::optional<nlohmann::json> requestUpgrade() {
    manager->requestVideoUpgrade();
    queue.runUntilIdle();
    for (const auto& payload : callPayloads()) {
      if (payload.value("type", "") == "videoUpgradeOffer") return payload;
    }
    return std::nullopt;
  }
  // Bob answers the upgrade offer on his connection.
  SDPPayload bobAnswers(const nlohmann::json& frame) {
    bob->setRemoteDescription({"offer", sdpMember(frame.value("sdp", "")), std::nullopt}, {});
    bob->createAnswer();
    queue.runUntilIdle();
    return {"answer", sdpMember(bobEvents->answers.back()), std::nullopt};
  }
  bool has(const std::string& line) const { return std::find(ports.begin(), ports.end(), line) != ports.end(); }
};

TEST_F(VideoUpgradeTest, OfferAndAnswerTurnTheAudioCallIntoAVideoCall) {
  connectCall(CallType::audio);
  const auto frame = requestUpgrade();
  ASSERT_TRUE(frame);
  // To that one device, unlike a call's first offer.
  EXPECT_EQ(frame->value("to", ""), "4712_B");
  EXPECT_EQ(frame->value("from", ""), "4711_deskA");
  EXPECT_NE(frame->value("sdp", "").find("m=video"), std::string::npos);
  EXPECT_FALSE(frame->contains("isAudio") || frame->contains("iceRestartV1") || frame->contains("pushId"));
  EXPECT_TRUE(has("upgrade state requesting"));
  EXPECT_TRUE(has("attach video"));
  EXPECT_TRUE(has("start capture video"));
  EXPECT_TRUE(has("upgrade preview"));

  manager->signalingDidReceiveVideoUpgradeAnswer(bobAnswers(*frame), "B");
  queue.runUntilIdle();
  EXPECT_EQ(manager->state().call.currentSession->type, CallType::video);
  EXPECT_EQ(ports.back(), "switch to video cameraOff=false preview");
  EXPECT_TRUE(logged("[NativeCallMgr] ✅ Video upgrade accepted — remote answered"));
  EXPECT_EQ(peer->signalingState(), FakePeerConnection::SignalingState::stable);
  // The answer cancelled the 15 s wait.
  queue.advance(20.0);
  EXPECT_FALSE(logged("no answer received within timeout"));
}

TEST_F(VideoUpgradeTest, AnAnswerIsAppliedOnlyWhileOurOfferWaitsAndOnlyFromThePeersDevice) {
  connectCall(CallType::audio);
  manager->signalingDidReceiveVideoUpgradeAnswer({"answer", "v=0", std::nullopt}, "B");
  queue.runUntilIdle();
  EXPECT_TRUE(logged("videoUpgradeAnswer ignored"));
  EXPECT_FALSE(logged("peer connection failed")) << "a stray answer never reaches the connection";

  const auto frame = requestUpgrade();
  ASSERT_TRUE(frame);
  const auto answer = bobAnswers(*frame);
  manager->signalingDidReceiveVideoUpgradeAnswer(answer, "C");
  queue.runUntilIdle();
  EXPECT_EQ(manager->state().call.currentSession->type, CallType::audio);
  manager->signalingDidReceiveVideoUpgradeAnswer(answer, "B");
  queue.runUntilIdle();
  EXPECT_EQ(manager->state().call.currentSession->type, CallType::video);
}

TEST_F(VideoUpgradeTest, AnUnansweredOfferIsUndoneAfter15SecondsAndIceCanStillRestart) {
  connectCall(CallType::audio);
  ASSERT_TRUE(requestUpgrade());
  EXPECT_EQ(peer->signalingState(), FakePeerConnection::SignalingState::haveLocalOffer);
  queue.advance(14.9);
  EXPECT_FALSE(logged("no answer received within timeout"));
  queue.advance(0.2);
  EXPECT_TRUE(logged("[NativeCallMgr] ⚠️ Video upgrade — no answer received within timeout"));
  EXPECT_EQ(peer->signalingState(), FakePeerConnection::SignalingState::stable);
  EXPECT_FALSE(peer->senderTrack) << "the upgrade's video sender is gone";
  EXPECT_TRUE(has("stop capture"));
  EXPECT_EQ(ports.back(), "upgrade state none");
  EXPECT_EQ(manager->state().call.currentSession->type, CallType::audio);

  // A late answer is not applied to a connection that rolled its offer back.
  manager->signalingDidReceiveVideoUpgradeAnswer({"answer", "v=0", std::nullopt}, "B");
  queue.runUntilIdle();
  EXPECT_FALSE(logged("peer connection failed"));

  std::optional<std::optional<std::string>> restart;
  peer->createIceRestartOffer([&](const std::optional<std::string>& offer) { restart = offer; });
  queue.runUntilIdle();
  ASSERT_TRUE(restart);
  EXPECT_TRUE(*restart) << "the connection is stable and can offer again";
}

TEST_F(VideoUpgradeTest, ACameraThatDoesNotStartMakesNoOfferAndOrdinaryOffersTakeTheOrdinaryPath) {
  connectCall(CallType::audio);
  capture.captureError = "camera busy";
  EXPECT_FALSE(requestUpgrade());
  EXPECT_TRUE(logged("camera failed to start: camera busy"));

  // An offer made while no upgrade asked for one is none of the upgrade's.
  EXPECT_FALSE(manager->takeVideoUpgradeOffer(std::string("{}")));
  // Missing addresses: the upgrade offer is not sent.
  capture.captureError.reset();
  queue.advance(20.0);
  manager->stateForTesting().call.remoteDeviceUdid.reset();
  EXPECT_FALSE(requestUpgrade());
  EXPECT_TRUE(logged("[NativeCallMgr] Video upgrade — peer or own address unknown; offer not sent"));
}

TEST_F(VideoUpgradeTest, ReArmingTheTimerLeavesOneTimeOutAndDecliningResetsTheAudioScreen) {
  connectCall(CallType::audio);
  manager->armVideoUpgradeAnswerTimer();
  queue.advance(10.0);
  manager->armVideoUpgradeAnswerTimer();
  queue.advance(10.0);
  EXPECT_FALSE(logged("no answer received within timeout"));
  queue.advance(10.0);
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const auto& l) { return l.find("no answer received within timeout") != std::string::npos; }),
            1);

  manager->declineVideoUpgrade();
  queue.runUntilIdle();
  EXPECT_EQ(ports.back(), "upgrade state none");
  EXPECT_TRUE(logged("[NativeCallMgr] Video upgrade offer declined by user — no answer sent"));
}

}  // namespace
}  // namespace orvik::testing
