// The call manager's writes into the video call window through the shell's
// call-windows port: which way each opening goes (ringing, answered,
// upgraded), the teardown reset, the share screens' flags and the window
// numbers left out of a shared screen, against the real window controller
// with a recording window on virtual time.
#include <gtest/gtest.h>

#include <tuple>

#include "app/call_engine_ports.h"
#include "calls/control/call_ports.h"
#include "calls/control/call_strings.h"
#include "calls/control/test_support/recording_call_control.h"
#include "calls/media/call_peer_connection_internal.h"
#include "calls/media/camera_source.h"
#include "calls/windows/audio_call_window_surface.h"
#include "calls/windows/floating_call_panel_control.h"
#include "calls/windows/native_audio_call_window.h"
#include "calls/windows/native_video_call_window.h"
#include "platform/capture_authorization.h"
#include "platform/dispatch/virtual_queue.h"

namespace orvik {
namespace {

class Granted final : public platform::CaptureAuthorization {
 public:
  platform::CaptureAuthorizationStatus status(platform::CaptureDevice) const override {
    return platform::CaptureAuthorizationStatus::authorized;
  }
  void request(platform::CaptureDevice, std::function<void(bool)> done) override { done(true); }
};

class NoAlerts final : public CallAlerts {
 public:
  void showCallAlert(const std::string&, const std::string&) override {}
};

class Surface final : public VideoCallWindowSurface {
 public:
  explicit Surface(VideoCallWindowDelegate& delegate) : delegate_(delegate) {}
  void setDarkMode(bool) override {}
  void orderFront() override {}
  void bringToFront() override {}
  void setElevated(bool) override {}
  void close() override { delegate_.windowWillClose(); }
  std::uint64_t windowNumber() const override { return 4242; }

 private:
  VideoCallWindowDelegate& delegate_;
};

class AudioSurface final : public AudioCallWindowSurface {
 public:
  explicit AudioSurface(AudioCallWindowDelegate& delegate) : delegate_(delegate) {}
  void setDarkMode(bool) override {}
  void orderFront() override {}
  void raiseAboveAppWindows() override {}
  void setElevated(bool) override {}
  void close() override { delegate_.windowWillClose(); }

 private:
  AudioCallWindowDelegate& delegate_;
};

class ShellVideoCallWindowsTest : public ::testing::Test {
 protected:
  ShellVideoCallWindowsTest() {
    audio = NativeAudioCallWindow::create(
        {calls, microphone, strings, nullptr, floating, alerts,
         [](const AudioCallWindowSetup&, AudioCallViewModel&, AudioCallActions,
            AudioCallWindowDelegate& delegate) -> std::unique_ptr<AudioCallWindowSurface> {
           return std::make_unique<AudioSurface>(delegate);
         },
         [](const std::string&) {}});
    window = NativeVideoCallWindow::create(
        {calls, microphone, strings, nullptr, floating, alerts, [] { return LocalCallIdentity{"me", {}, ""}; }, {},
         [this](const VideoCallWindowSetup& setup, VideoCallViewModel&, VideoCallActions,
                VideoCallWindowDelegate& delegate) -> std::unique_ptr<VideoCallWindowSurface> {
           titles.push_back(setup.title);
           return std::make_unique<Surface>(delegate);
         },
         [](const std::string&) {}});
    shell.setVideoCallWindow([this] { return window.get(); }, [] { return nullptr; });
  }
  const VideoCallFields& fields() { return window->model().fields(); }

  platform::VirtualQueue queue;
  platform::ScopedMainQueue main{queue};
  CallStrings strings{[](const std::string&) {}};
  testing::RecordingCallControl calls;
  Granted microphone;
  NoFloatingCallPanel floating;
  NoAlerts alerts;
  std::vector<std::string> titles;
  std::shared_ptr<NativeVideoCallWindow> window;
  std::shared_ptr<NativeAudioCallWindow> audio;
  ShellCallWindows shell{[]() -> GtkWindow* { return nullptr; }, [this] { return audio.get(); }};
};

TEST_F(ShellVideoCallWindowsTest, EachOpeningOfTheManagerTakesItsWay) {
  struct Row {
    const char* name;
    std::function<void()> open;
    bool incoming, connected;
    const char* status;
    const char* title;
  };
  const std::vector<Row> rows = {
      {"a call rings here", [this] { shell.openVideoCallWindow("ann", "815", "", true, true, false); }, true, false,
       "Incoming call", "Orvik – Incoming Video Call"},
      {"a ringing call was answered", [this] { shell.openVideoCallWindow("ann", "815", "", true, true, true); },
       false, false, "Connecting...", "Orvik – Video Call"},
      {"an audio call became a video call", [this] { shell.switchCallUIToVideo(true, nullptr); }, false, true,
       "Connecting...", "Orvik – Video Call"},
  };
  for (const Row& row : rows) {
    titles.clear();
    row.open();
    EXPECT_EQ(fields().isIncoming, row.incoming) << row.name;
    EXPECT_EQ(fields().isConnected, row.connected) << row.name;
    EXPECT_EQ(fields().timerText, row.status) << row.name;
    EXPECT_EQ(titles, std::vector<std::string>{row.title}) << row.name;
    EXPECT_TRUE(calls.calls.empty()) << row.name << ": no call is placed";
    EXPECT_EQ(shell.ownCallWindowNumbers(), std::vector<std::uint64_t>{4242});
    shell.closeVideoCallWindow();
    queue.runUntilIdle();
    EXPECT_FALSE(window->hasWindow()) << row.name;
    EXPECT_TRUE(shell.ownCallWindowNumbers().empty());
  }
  EXPECT_TRUE(fields().isCameraOff) << "the upgrade without a camera";
}

TEST_F(ShellVideoCallWindowsTest, TheManagersWritesAndTheTeardownReset) {
  shell.openVideoCallWindow("ann", "815", "", false, true, false);
  shell.clearIncomingFlag();
  EXPECT_FALSE(fields().isIncoming);
  shell.publishConnected(true);
  shell.publishTimerText("00:03");
  EXPECT_TRUE(fields().isConnected);
  EXPECT_EQ(fields().timerText, "00:03");
  const auto session = std::make_shared<CameraSessionRef>();
  shell.setVideoCameraSession(session);
  shell.showScreenSharePrimer();
  shell.showScreenRecordingDenied();
  ShareableContent content;
  content.displays.push_back({1, "Entire screen", 1280, 900});
  shell.publishScreenShareOptions(content);
  shell.publishScreenSharing(true, std::make_shared<VideoTrackRef>());
  window->model().set(&VideoCallFields::hasRemoteVideo, true);
  window->model().set(&VideoCallFields::remoteScreenSharing, true);
  window->model().set(&VideoCallFields::limitWarning, std::string("1 minute left"));
  EXPECT_EQ(fields().cameraSession, session);
  EXPECT_TRUE(fields().showScreenSharePrimer);
  EXPECT_TRUE(fields().showScreenRecordingDenied);
  ASSERT_NE(fields().screenShareOptions, nullptr);
  EXPECT_EQ(fields().screenShareOptions->displays.size(), 1u);
  EXPECT_TRUE(fields().isScreenSharing);
  EXPECT_NE(window->model().localScreenTrack(), nullptr);

  shell.hideCallLimitBanner();
  EXPECT_EQ(fields().limitWarning, std::nullopt);
  shell.markCameraOff();
  EXPECT_TRUE(fields().isCameraOff);
  shell.markVideoCallEnded();
  EXPECT_TRUE(fields().callEnded);
  shell.resetVideoCallModel();
  EXPECT_FALSE(fields().hasRemoteVideo);
  EXPECT_FALSE(fields().isScreenSharing);
  EXPECT_FALSE(fields().remoteScreenSharing);
  EXPECT_FALSE(fields().showScreenSharePrimer);
  EXPECT_FALSE(fields().showScreenRecordingDenied);
  EXPECT_EQ(fields().cameraSession, nullptr);
  EXPECT_EQ(fields().screenShareOptions, nullptr);
  EXPECT_EQ(window->model().localScreenTrack(), nullptr);
  EXPECT_EQ(window->model().remoteVideoTrack(), nullptr);
  EXPECT_TRUE(fields().callEnded) << "the card stays until the window closes";
}

// What the manager learns mid-call reaches the screen of the call's kind:
// the accepted call's incoming flag on both screens, a corrected caller,
// and where a switch to video stands on the audio screen.
TEST_F(ShellVideoCallWindowsTest, IdentityIncomingFlagAndUpgradeStateReachTheScreenOfTheCall) {
  shell.openAudioCallWindow("guess", "100", "https://img.test/guess.png", false, true, false, false);
  shell.openVideoCallWindow("guess", "100", "https://img.test/guess.png", false, true, false);
  queue.runUntilIdle();
  ASSERT_TRUE(audio->model().state().isIncoming);
  ASSERT_TRUE(fields().isIncoming);
  shell.clearIncomingFlag();
  EXPECT_FALSE(audio->model().state().isIncoming);
  EXPECT_FALSE(fields().isIncoming);

  shell.updateCallScreenIdentity(true, "Robert", "4711", "", true);
  const AudioCallViewState& a = audio->model().state();
  EXPECT_EQ(std::tie(a.calleeName, a.calleeOrvikID, a.imageUrl, a.isSubscribed),
            std::make_tuple(std::string("Robert"), std::string("4711"), std::string(), true));
  EXPECT_EQ(fields().calleeName, "guess") << "an audio call's correction leaves the video screen";

  shell.updateCallScreenIdentity(false, "Ann", "815", "https://img.test/ann.png", false);
  EXPECT_EQ(std::tie(fields().calleeName, fields().calleeOrvikID, fields().imageUrl, fields().isSubscribed),
            std::make_tuple(std::string("Ann"), std::string("815"), std::string("https://img.test/ann.png"), false));
  EXPECT_EQ(a.calleeName, "Robert");

  using Port = CallWindows::VideoUpgradeState;
  const std::vector<std::pair<Port, VideoUpgradeState>> upgrades = {
      {Port::requesting, VideoUpgradeState::requesting},
      {Port::connecting, VideoUpgradeState::connecting},
      {Port::incomingRequest, VideoUpgradeState::incomingRequest},
      {Port::none, VideoUpgradeState::none},
  };
  for (const auto& [told, shown] : upgrades) {
    shell.setAudioUpgradeState(told);
    EXPECT_EQ(audio->model().state().upgradeState, shown);
  }
}

}  // namespace
}  // namespace orvik
