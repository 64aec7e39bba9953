// The microphone, speaker and camera buttons on a connected call whose peer
// (Bob's fake connection) hears the control texts: exact texts, track flags,
// screen models, and the camera capture left alone under a screen share.
#include <gtest/gtest.h>

#include <algorithm>

#include "calls/control/native_call_manager.h"
#include "calls/control/test_support/connected_call_harness.h"

namespace orvik::testing {
namespace {

using Strings = std::vector<std::string>;

class InCallControlsTest : public ::testing::Test, public ConnectedCallHarness {
 protected:
  // What Bob received and the screens showed since the marks.
  Strings bobSince(std::size_t from) const {
    return {bobEvents->messages.begin() + static_cast<std::ptrdiff_t>(from), bobEvents->messages.end()};
  }
  std::size_t bobMark() const { return bobEvents->messages.size(); }
};

TEST_F(InCallControlsTest, MuteAndCameraSendExactTextsFlipTheirTracksAndMirrorIntoTheScreens) {
  connectCall(CallType::video);
  struct Case {
    const char* name;
    std::function<void(NativeCallManager&)> press;
    Strings toBob;
    Strings ports;
  };
  const Case cases[] = {
      {"mute", [](NativeCallManager& m) { m.setMuted(true); }, {R"({"type":"AudioToggled","data":false})"},
       {"muted true"}},
      {"unmute", [](NativeCallManager& m) { m.setMuted(false); }, {R"({"type":"AudioToggled","data":true})"},
       {"muted false"}},
      {"speaker off", [](NativeCallManager& m) { m.setSpeakerEnabled(false); }, {}, {"speaker off true"}},
      {"speaker on", [](NativeCallManager& m) { m.setSpeakerEnabled(true); }, {}, {"speaker off false"}},
      {"camera off", [](NativeCallManager& m) { m.setCameraOff(true); }, {R"({"type":"VideoToggled","data":false})"},
       {"stop capture", "camera off true", "preview none"}},
      {"camera off again", [](NativeCallManager& m) { m.setCameraOff(true); },
       {R"({"type":"VideoToggled","data":false})"}, {"stop capture", "camera off true", "preview none"}},
      {"camera on", [](NativeCallManager& m) { m.setCameraOff(false); }, {R"({"type":"VideoToggled","data":true})"},
       {"start capture video", "camera off false", "preview set"}},
  };
  for (const auto& c : cases) {
    const auto bobFrom = bobMark();
    const auto mark = portsMark();
    c.press(*manager);
    queue.runUntilIdle();
    EXPECT_EQ(bobSince(bobFrom), c.toBob) << c.name;
    EXPECT_EQ(portsSince(mark), c.ports) << c.name;
  }
  EXPECT_TRUE(peer->localAudioEnabled);
  EXPECT_TRUE(peer->remoteAudioEnabled);
  EXPECT_TRUE(peer->localVideoEnabled);

  manager->setMuted(true);
  manager->setSpeakerEnabled(false);
  manager->setCameraOff(true);
  queue.runUntilIdle();
  EXPECT_FALSE(peer->localAudioEnabled);
  EXPECT_FALSE(peer->remoteAudioEnabled) << "the peer's voice is silenced here only";
  EXPECT_FALSE(peer->localVideoEnabled);
  EXPECT_TRUE(capture.isMuted);
  EXPECT_TRUE(capture.isCameraOff);
  EXPECT_TRUE(manager->state().call.localMuted);
  EXPECT_TRUE(manager->state().call.localCameraOff);
}

TEST_F(InCallControlsTest, UnderAScreenShareTheCameraButtonFlipsTheSentScreenAndKeepsTheCameraRunning) {
  connectCall(CallType::video);
  manager->startScreenShare(ShareableDisplay{0, "Entire screen", 1920, 1080});
  queue.runUntilIdle();
  share.finishStart();
  queue.runUntilIdle();
  ASSERT_TRUE(manager->state().call.isScreenSharing);

  auto bobFrom = bobMark();
  auto mark = portsMark();
  manager->setCameraOff(true);
  queue.runUntilIdle();
  EXPECT_EQ(bobSince(bobFrom), Strings{R"({"type":"VideoToggled","data":false})"});
  EXPECT_EQ(portsSince(mark), Strings{"camera off true"}) << "no capture stop, the preview stays";
  EXPECT_FALSE(peer->localVideoEnabled) << "the screen track on the sender";
  EXPECT_EQ(peer->asideCameraEnabled, false) << "and the camera track kept aside";

  bobFrom = bobMark();
  mark = portsMark();
  manager->setCameraOff(false);
  queue.runUntilIdle();
  EXPECT_EQ(bobSince(bobFrom), Strings{R"({"type":"VideoToggled","data":true})"});
  EXPECT_EQ(portsSince(mark), Strings{"camera off false"}) << "no capture restart";
  EXPECT_TRUE(peer->localVideoEnabled);
  EXPECT_EQ(peer->asideCameraEnabled, true);
}

TEST_F(InCallControlsTest, AMuteChosenBeforeTheConnectionExistsReachesItsTrackWhenItIsBuilt) {
  signIn();
  placeCall(CallType::video);
  manager->setMuted(true);
  manager->setCameraOff(true);
  queue.runUntilIdle();
  EXPECT_TRUE(manager->state().call.localMuted);
  sendIceServers();
  ASSERT_TRUE(peer->isBuilt());
  EXPECT_FALSE(peer->localAudioEnabled);
  EXPECT_FALSE(peer->localVideoEnabled);
  EXPECT_TRUE(logged("startVideo=false cameraOff=true"));
}

TEST_F(InCallControlsTest, ACameraThatFailsToStartLeavesThePreviewEmpty) {
  connectCall(CallType::video);
  manager->setCameraOff(true);
  queue.runUntilIdle();
  capture.captureError = "busy";
  const auto mark = portsMark();
  manager->setCameraOff(false);
  queue.runUntilIdle();
  EXPECT_EQ(portsSince(mark), (Strings{"start capture video", "camera off false"}));
}

}  // namespace
}  // namespace orvik::testing
