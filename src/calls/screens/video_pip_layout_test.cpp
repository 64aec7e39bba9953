// The video picture-in-picture panel's frame and content as tables.
#include "calls/screens/video_pip_layout.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "calls/media/camera_source.h"
#include "calls/screens/video_call_view_model.h"

namespace orvik {
namespace {

TEST(VideoPiPFrame, TwentyInFromTheTopRightOfTheWorkArea) {
  struct Row {
    StageRect workArea;
    StageRect frame;
  };
  for (const Row& row : std::vector<Row>{
           {{0, 0, 1440, 900}, {1156, 20, 264, 208}},
           // A panel along the top and a dock on the left.
           {{64, 32, 1216, 868}, {996, 52, 264, 208}},
           // A second monitor to the right.
           {{1920, 0, 1280, 1024}, {2916, 20, 264, 208}},
           // No work area known: the 1440 × 900 fallback at the origin.
           {{0, 0, 0, 0}, {1156, 20, 264, 208}},
       }) {
    EXPECT_EQ(videoPiPFrame(row.workArea), row.frame) << row.workArea.x << "," << row.workArea.y;
  }
  EXPECT_EQ(clampVideoPiPSize({100, 100}), (StageSize{200, 170}));
  EXPECT_EQ(clampVideoPiPSize({300, 250}), (StageSize{300, 250}));
  EXPECT_EQ(clampVideoPiPSize({1000, 900}), (StageSize{640, 520}));
}

TEST(VideoPiPContent, MainPictureAndInsetForEachState) {
  const auto session = std::make_shared<CameraSessionRef>();
  struct Row {
    const char* state;
    bool sharing, swapped, remoteSharing, cameraOff, remoteVideoOff, hasRemoteVideo, session;
    bool remoteTrack, screenTrack;
    PiPContent expected;
  };
  using F = PiPFeed;
  const std::vector<Row> rows = {
      {"plain call", false, false, false, false, false, true, true, true, false,
       {{F::remote, true, false, 56}, {F::local, true, true, 30}, 1}},
      {"swapped", false, true, false, false, false, true, true, true, false,
       {{F::local, true, true, 56}, {F::remote, true, true, 30}, 1}},
      {"I share my screen", true, false, false, false, false, true, true, true, true,
       {{F::localScreenShare, true, false, 56}, {F::remote, true, true, 30}, 1}},
      {"sharing flag without its track yet", true, false, false, false, false, true, true, true, false,
       {{F::remote, true, false, 56}, {F::remote, true, true, 30}, 1}},
      {"the other party shares: whole in the main picture, inset invisible", false, false, true, false, false,
       true, true, true, false, {{F::remote, true, false, 56}, {F::local, true, true, 30}, 0}},
      {"swapped while the other party shares: the inset shows its screen whole", false, true, true, false, false,
       true, true, true, false, {{F::local, true, true, 56}, {F::remote, true, false, 30}, 0}},
      {"camera off with a session: my avatar", false, false, false, true, false, true, true, true, false,
       {{F::remote, true, false, 56}, {F::local, false, false, 30}, 1}},
      {"no session yet: my avatar", false, false, false, false, false, true, false, true, false,
       {{F::remote, true, false, 56}, {F::local, false, false, 30}, 1}},
      {"remote camera off: the callee's avatar", false, false, false, false, true, true, true, true, false,
       {{F::remote, false, false, 56}, {F::local, true, true, 30}, 1}},
      {"no remote video yet", false, false, false, false, false, false, true, true, false,
       {{F::remote, false, false, 56}, {F::local, true, true, 30}, 1}},
      {"remote flag without its track", false, false, false, false, false, true, true, false, false,
       {{F::remote, false, false, 56}, {F::local, true, true, 30}, 1}},
  };
  for (const Row& row : rows) {
    VideoCallFields f;
    f.isScreenSharing = row.sharing;
    f.isSwapped = row.swapped;
    f.remoteScreenSharing = row.remoteSharing;
    f.isCameraOff = row.cameraOff;
    f.remoteVideoOff = row.remoteVideoOff;
    f.hasRemoteVideo = row.hasRemoteVideo;
    if (row.session) f.cameraSession = session;
    const PiPContent content = videoPiPContent(f, row.remoteTrack, row.screenTrack);
    EXPECT_EQ(content.main, row.expected.main) << row.state;
    EXPECT_EQ(content.inset, row.expected.inset) << row.state;
    EXPECT_EQ(content.insetOpacity, row.expected.insetOpacity) << row.state;
  }
}

TEST(VideoPiPBar, NameTimerAndMuteIconWithTheirFallbacks) {
  VideoCallFields f;
  f.timerText.clear();
  EXPECT_EQ(videoPiPTitle(f), "Call");
  EXPECT_EQ(videoPiPTimer(f), "Connected");
  EXPECT_EQ(videoPiPMuteIcon(f), "microphone.fill");
  f.calleeName = "anna_lee";
  f.timerText = "03:12";
  f.isMuted = true;
  EXPECT_EQ(videoPiPTitle(f), "anna_lee");
  EXPECT_EQ(videoPiPTimer(f), "03:12");
  EXPECT_EQ(videoPiPMuteIcon(f), "microphone.slash.fill");
}

}  // namespace
}  // namespace orvik
