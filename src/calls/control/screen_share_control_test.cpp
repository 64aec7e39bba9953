// Screen-share control on virtual time: the manager drives a fake screen
// share and a fake connection whose peer (Bob) hears the control texts.
#include <gtest/gtest.h>

#include <algorithm>

#include "calls/control/native_call_manager.h"
#include "calls/control/test_support/connected_call_harness.h"
#include "calls/media/screen_share_capture.h"

namespace orvik::testing {
namespace {

using Kind = CallState::Kind;
using Strings = std::vector<std::string>;

const ShareableDisplay kDisplay{0, "Entire screen", 1920, 1080};

class ScreenShareControlTest : public ::testing::Test, public ConnectedCallHarness {
 protected:
  ScreenShareControlTest() { windows.windowNumbers = {7, 9}; }
  // Picks `target` and lets the capture start (or fail with `error`).
  void shareTarget(const ShareTarget& target, std::optional<std::string> error = std::nullopt) {
    manager->startScreenShare(target);
    queue.runUntilIdle();
    ASSERT_TRUE(share.pendingStart);
    share.finishStart(std::move(error));
    queue.runUntilIdle();
  }
  bool has(const std::string& line) const { return std::find(ports.begin(), ports.end(), line) != ports.end(); }
  std::string senderTrackId() const {
    if (!peer->senderTrack) return "none";
    const auto found = peer->madeTrackIds.find(peer->senderTrack.get());
    return found == peer->madeTrackIds.end() ? "camera" : found->second;
  }
};

TEST_F(ScreenShareControlTest, TheShareButtonAsksForContentOnlyDuringAConnectedVideoCall) {
  struct Case {
    const char* name;
    Kind kind;
    CallType type;
    bool sharing;
    bool asks;
  };
  const Case cases[] = {
      {"calling", Kind::calling, CallType::video, false, false},
      {"ringing", Kind::ringing, CallType::video, false, false},
      {"already sharing", Kind::connected, CallType::video, true, false},
      {"audio-only call", Kind::connected, CallType::audio, false, false},
      {"connecting video call", Kind::connecting, CallType::video, false, true},
      {"connected video call", Kind::connected, CallType::video, false, true},
  };
  signIn();
  placeCall(CallType::video);
  for (const auto& c : cases) {
    auto& call = manager->stateForTesting().call;
    call.callState = c.kind;
    call.currentSession->type = c.type;
    call.isScreenSharing = c.sharing;
    const auto mark = portsMark();
    manager->requestScreenShareOptions(false);
    const auto since = portsSince(mark);
    EXPECT_EQ(!since.empty() && since[0] == "fetch content allowOwn=false 7 9", c.asks) << c.name;
    if (c.asks) share.finishFetch(std::nullopt, "gone");
  }
  EXPECT_TRUE(logged("[NativeCallMgr] requestScreenShareOptions — no existing video sender (audio-only call)"));
  EXPECT_TRUE(logged("[NativeCallMgr] requestScreenShareOptions — fetch failed: gone"));
}

TEST_F(ScreenShareControlTest, WithoutPermissionThePrimerComesFirstAndARefusalShowsTheDeniedScreen) {
  connectCall(CallType::video);
  share.permitted = false;
  auto mark = portsMark();
  manager->toggleScreenShare();
  EXPECT_EQ(portsSince(mark), (Strings{"share primer"}));

  mark = portsMark();
  manager->requestScreenShareOptions(/*afterPrimer=*/true);
  queue.runUntilIdle();
  EXPECT_EQ(portsSince(mark), (Strings{"request share permission", "fetch content allowOwn=false 7 9"}));
  ShareableContent content;
  content.displays = {kDisplay};
  share.finishFetch(content);
  EXPECT_EQ(ports.back(), "share options 1 displays 0 windows");

  share.grantOnRequest = false;
  mark = portsMark();
  manager->requestScreenShareOptions(true);
  queue.runUntilIdle();
  EXPECT_EQ(portsSince(mark), (Strings{"request share permission", "share denied"}));
}

TEST_F(ScreenShareControlTest, SharingSwapsTheScreenOntoTheSenderAndStoppingRestoresTheSameCameraTrack) {
  connectCall(CallType::video);
  const auto camera = peer->senderTrack;
  ASSERT_TRUE(camera);
  manager->setScreenshotAccessAllowed(true);
  shareTarget(kDisplay);
  EXPECT_TRUE(has("start share display 7 9")) << "our call windows stay out, the rest of ours may show";
  EXPECT_EQ(senderTrackId(), "screen0");
  EXPECT_TRUE(manager->state().call.isScreenSharing);
  EXPECT_TRUE(manager->state().kept.screenShareStartedAt);
  EXPECT_EQ(windows.localScreenTrack, peer->senderTrack);
  EXPECT_TRUE(logged("[NativeCallMgr] Screen share started"));

  manager->toggleScreenShare();
  manager->stopScreenShare();  // a second stop while the camera goes back does nothing
  queue.runUntilIdle();
  EXPECT_EQ(peer->senderTrack, camera) << "exactly the camera track that was on the sender";
  EXPECT_FALSE(manager->state().call.isScreenSharing);
  EXPECT_FALSE(manager->state().kept.screenShareStartedAt);
  EXPECT_EQ(std::count(ports.begin(), ports.end(), "stop share"), 1);
  EXPECT_EQ(ports.back(), "sharing false no preview");
  queue.advance(0.5);
  EXPECT_EQ(bobEvents->messages, (Strings{R"({"type":"ScreenShareToggled","data":true})",
                                          R"({"type":"ScreenShareToggled","data":false})"}));
}

TEST_F(ScreenShareControlTest, ACaptureThatFailsToStartShowsTheAlertAndKeepsTheCamera) {
  connectCall(CallType::video);
  const auto camera = peer->senderTrack;
  shareTarget(ShareableWindow{77, "gone", OwningApplication{1, "Editor", "editor"}, 0, 800, 600, true}, "BadWindow");
  EXPECT_EQ(alerts.shown, (std::vector<std::pair<std::string, std::string>>{
                              {"Couldn't Share Screen",
                               "The selected screen or window is no longer available. Please try again."}}));
  EXPECT_EQ(peer->senderTrack, camera);
  EXPECT_FALSE(manager->state().call.isScreenSharing);
  EXPECT_TRUE(logged("[NativeCallMgr] startScreenShare — capture failed to start: BadWindow"));
  queue.advance(0.5);
  EXPECT_TRUE(bobEvents->messages.empty());
}

TEST_F(ScreenShareControlTest, WithoutAVideoSenderTheShareFailsAndThePeerHearsNothing) {
  connectCall(CallType::audio);
  manager->stateForTesting().call.currentSession->type = CallType::video;  // as a window would believe
  const auto mark = portsMark();
  manager->startScreenShare(kDisplay);
  queue.runUntilIdle();
  EXPECT_FALSE(share.pendingStart) << "no capture is started for a share that cannot be sent";
  EXPECT_EQ(portsSince(mark), (Strings{"alert Couldn't Share Screen"}));
  EXPECT_FALSE(manager->state().call.isScreenSharing);
  EXPECT_FALSE(manager->state().call.screenShareStarting);
  queue.advance(0.5);
  EXPECT_TRUE(bobEvents->messages.empty());
}

TEST_F(ScreenShareControlTest, TheSystemStoppingTheStreamRevertsToTheCameraOnlyWhileSharing) {
  connectCall(CallType::video);
  const auto camera = peer->senderTrack;
  share.streamDidStop();
  queue.runUntilIdle();
  EXPECT_FALSE(has("stop share"));

  shareTarget(kDisplay);
  share.streamDidStop();
  queue.runUntilIdle();
  EXPECT_TRUE(logged("[NativeCallMgr] Screen share stream stopped externally — reverting to camera"));
  EXPECT_EQ(peer->senderTrack, camera);
  EXPECT_FALSE(manager->state().call.isScreenSharing);
}

TEST_F(ScreenShareControlTest, ACallEndingWhileTheCaptureStartsStopsItAndTheLateStartDoesNothing) {
  connectCall(CallType::video);
  manager->startScreenShare(kDisplay);
  queue.runUntilIdle();
  ASSERT_TRUE(share.pendingStart);
  manager->cleanup();
  EXPECT_TRUE(has("stop share"));
  share.finishStart(std::string(ScreenShareCapture::kStartCancelled));
  queue.runUntilIdle();
  EXPECT_TRUE(alerts.shown.empty());
  EXPECT_FALSE(manager->state().call.isScreenSharing);
}

TEST_F(ScreenShareControlTest, RevokingScreenshotAccessDuringAShareStopsAnOwnWindowShareElseExcludesOurWindows) {
  connectCall(CallType::video);
  manager->setScreenshotAccessAllowed(true);
  shareTarget(ShareableWindow{21, "main", OwningApplication{1, "OrvikDesk", "orvikdesk"}, 0, 800, 600, true});
  share.sharingOwnWindow = true;
  manager->setScreenshotAccessAllowed(false);
  queue.runUntilIdle();
  EXPECT_FALSE(manager->state().call.isScreenSharing);
  EXPECT_TRUE(has("stop share"));

  share.sharingOwnWindow = false;
  shareTarget(kDisplay);
  const auto mark = portsMark();
  manager->setScreenshotAccessAllowed(false);
  queue.runUntilIdle();
  EXPECT_EQ(portsSince(mark), (Strings{"exclude 7 9"}));
}

}  // namespace
}  // namespace orvik::testing
