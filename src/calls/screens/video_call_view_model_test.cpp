#include "calls/screens/video_call_view_model.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "calls/control/call_strings.h"
#include "platform/dispatch/virtual_queue.h"

#include "calls/control/test_support/recording_call_ports.h"
#include "calls/media/call_peer_connection_internal.h"

namespace orvik {
namespace {

class VideoCallViewModelTest : public ::testing::Test {
 protected:
  platform::VirtualQueue queue;
  platform::ScopedMainQueue main{queue};
  CallStrings strings{[](const std::string&) {}};
};

TEST_F(VideoCallViewModelTest, ANewModelHasTheStartValuesOfEveryField) {
  VideoCallViewModel model(strings);
  const VideoCallFields& f = model.fields();
  struct Row {
    const char* field;
    bool holds;
  };
  const std::vector<Row> rows = {
      {"calleeName", f.calleeName.empty()},
      {"calleeOrvikID", f.calleeOrvikID.empty()},
      {"imageUrl", f.imageUrl.empty()},
      {"localName", f.localName.empty()},
      {"localImageUrl", f.localImageUrl.empty()},
      {"isConnected", !f.isConnected},
      {"isMuted", !f.isMuted},
      {"isCameraOff", !f.isCameraOff},
      {"isSpeakerOff", !f.isSpeakerOff},
      {"timerText", f.timerText == "Calling..."},
      {"hasRemoteVideo", !f.hasRemoteVideo},
      {"cameraSession", f.cameraSession == nullptr},
      {"isIncoming", !f.isIncoming},
      {"isSubscribed", !f.isSubscribed},
      {"callEnded", !f.callEnded},
      {"remoteMuted", !f.remoteMuted},
      {"remoteVideoOff", !f.remoteVideoOff},
      {"isScreenSharing", !f.isScreenSharing},
      {"remoteScreenSharing", !f.remoteScreenSharing},
      {"isSwapped", !f.isSwapped},
      {"screenShareOptions", f.screenShareOptions == nullptr},
      {"showScreenSharePrimer", !f.showScreenSharePrimer},
      {"showScreenRecordingDenied", !f.showScreenRecordingDenied},
      {"limitWarning", !f.limitWarning.has_value()},
      {"callLimitCanExtend", !f.callLimitCanExtend},
      {"isDarkMode", f.isDarkMode},
      {"remoteVideoTrack (plain)", model.remoteVideoTrack() == nullptr},
      {"localScreenTrack (plain)", model.localScreenTrack() == nullptr},
  };
  EXPECT_EQ(rows.size(), 28u);  // 26 published and 2 plain
  for (const Row& row : rows) EXPECT_TRUE(row.holds) << row.field;
}

TEST_F(VideoCallViewModelTest, TheStartStatusIsThePagesCallingTextWhenItSentOne) {
  strings.setCallStrings(R"(setCallStrings:{"calling":"Llamando...","lang":"es"})");
  VideoCallViewModel model(strings);
  EXPECT_EQ(model->timerText, "Llamando...");
}

TEST_F(VideoCallViewModelTest, ObserversHearChangedPublishedFieldsOnlyAndPlainFieldsChangeSilently) {
  VideoCallViewModel model(strings);
  int notices = 0;
  auto subscription = model.addObserver([&] { ++notices; });
  model.set(&VideoCallFields::isSwapped, true);
  EXPECT_EQ(notices, 1);
  model.set(&VideoCallFields::isSwapped, true);  // unchanged
  EXPECT_EQ(notices, 1);
  model.set(&VideoCallFields::limitWarning, std::string("5 minutes left"));
  EXPECT_EQ(notices, 2);
  model.setRemoteVideoTrack(std::make_shared<VideoTrackRef>());
  model.setLocalScreenTrack(std::make_shared<VideoTrackRef>());
  EXPECT_EQ(notices, 2);
  // The track is seen with the next published change.
  bool sawTrack = false;
  auto reader = model.addObserver([&] { sawTrack = model.remoteVideoTrack() != nullptr; });
  model.set(&VideoCallFields::hasRemoteVideo, true);
  EXPECT_TRUE(sawTrack);
  subscription.reset();
  model.set(&VideoCallFields::isMuted, true);
  EXPECT_EQ(notices, 3);  // the removed observer heard hasRemoteVideo, not isMuted
}

// What a window opening rewrites, and what it keeps from the call before.
TEST_F(VideoCallViewModelTest, AnOpeningRewritesTheWindowsFieldsAndKeepsTheCallManagersOnes) {
  VideoCallViewModel model(strings);
  auto session = std::make_shared<CameraSessionRef>();
  auto track = std::make_shared<VideoTrackRef>();
  // A previous call left everything set.
  for (auto field : {&VideoCallFields::isConnected, &VideoCallFields::isMuted, &VideoCallFields::isCameraOff,
                     &VideoCallFields::isSpeakerOff, &VideoCallFields::hasRemoteVideo, &VideoCallFields::isIncoming,
                     &VideoCallFields::callEnded, &VideoCallFields::remoteMuted, &VideoCallFields::remoteVideoOff,
                     &VideoCallFields::isScreenSharing, &VideoCallFields::remoteScreenSharing,
                     &VideoCallFields::isSwapped, &VideoCallFields::showScreenSharePrimer,
                     &VideoCallFields::showScreenRecordingDenied, &VideoCallFields::callLimitCanExtend}) {
    model.set(field, true);
  }
  model.set(&VideoCallFields::isDarkMode, false);
  model.set(&VideoCallFields::cameraSession, session);
  model.set(&VideoCallFields::limitWarning, std::string("2 minutes left"));
  model.set(&VideoCallFields::screenShareOptions, std::make_shared<const ShareableContent>());
  model.setRemoteVideoTrack(track);
  model.setLocalScreenTrack(std::make_shared<VideoTrackRef>());

  int notices = 0;
  auto subscription = model.addObserver([&] { ++notices; });
  model.applyOpening({"anna_lee", "1234", "https://a/x.png", "me", "https://a/me.png", false, true, true, false, true});
  EXPECT_EQ(notices, 1) << "one change for the whole opening";
  const VideoCallFields& f = model.fields();

  struct Row {
    const char* field;
    bool holds;
  };
  const std::vector<Row> rewritten = {
      {"calleeName", f.calleeName == "anna_lee"},
      {"calleeOrvikID", f.calleeOrvikID == "1234"},
      {"imageUrl", f.imageUrl == "https://a/x.png"},
      {"localName", f.localName == "me"},
      {"localImageUrl", f.localImageUrl == "https://a/me.png"},
      {"isConnected", !f.isConnected},
      {"isSubscribed", f.isSubscribed},
      {"isDarkMode", f.isDarkMode},
      {"callEnded", !f.callEnded},
      {"isMuted", !f.isMuted},
      {"isCameraOff", !f.isCameraOff},
      {"isSpeakerOff", !f.isSpeakerOff},
      {"remoteMuted", !f.remoteMuted},
      {"remoteVideoOff", !f.remoteVideoOff},
      {"isScreenSharing", !f.isScreenSharing},
      {"remoteScreenSharing", !f.remoteScreenSharing},
      {"isSwapped", !f.isSwapped},
      {"screenShareOptions", f.screenShareOptions == nullptr},
      {"showScreenSharePrimer", !f.showScreenSharePrimer},
      {"showScreenRecordingDenied", !f.showScreenRecordingDenied},
      {"localScreenTrack", model.localScreenTrack() == nullptr},
      {"isIncoming", !f.isIncoming},
      {"timerText", f.timerText == "Calling..."},
  };
  for (const Row& row : rewritten) EXPECT_TRUE(row.holds) << "rewritten: " << row.field;
  const std::vector<Row> kept = {
      {"hasRemoteVideo", f.hasRemoteVideo},
      {"cameraSession", f.cameraSession == session},
      {"remoteVideoTrack", model.remoteVideoTrack() == track},
      {"limitWarning", f.limitWarning == "2 minutes left"},
      {"callLimitCanExtend", f.callLimitCanExtend},
  };
  for (const Row& row : kept) EXPECT_TRUE(row.holds) << "kept: " << row.field;
}

TEST_F(VideoCallViewModelTest, TheOpeningsStatusFollowsUpgradeAndDirection) {
  strings.setCallStrings(R"(setCallStrings:{"connecting":"Conectando...","lang":"es"})");
  struct Case {
    bool isUpgrade;
    bool isOutgoing;
    const char* timerText;
    bool isIncoming;
  };
  for (const Case& c : std::vector<Case>{{false, true, "Calling...", false},
                                         {false, false, "Incoming call", true},
                                         {true, false, "Conectando...", false},
                                         {true, true, "Conectando...", false}}) {
    VideoCallViewModel model(strings);
    VideoCallOpening opening;
    opening.isUpgrade = c.isUpgrade;
    opening.isOutgoing = c.isOutgoing;
    model.applyOpening(opening);
    EXPECT_EQ(model->timerText, c.timerText) << c.isUpgrade << c.isOutgoing;
    EXPECT_EQ(model->isIncoming, c.isIncoming) << c.isUpgrade << c.isOutgoing;
  }
}

TEST_F(VideoCallViewModelTest, AnOpeningThatChangesNothingTellsNobody) {
  VideoCallViewModel model(strings);
  int notices = 0;
  auto subscription = model.addObserver([&] { ++notices; });
  model.applyOpening({});
  EXPECT_EQ(notices, 0);
}

}  // namespace
}  // namespace orvik
