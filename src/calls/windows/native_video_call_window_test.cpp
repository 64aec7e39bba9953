// The video call window's and the picture-in-picture panel's controllers
// against a recording call manager, recording window surfaces and an
// authorisation whose answers the test gives, on virtual time.
#include "calls/windows/native_video_call_window.h"

#include <gtest/gtest.h>

#include "calls/control/call_ports.h"
#include "calls/control/call_strings.h"
#include "calls/media/camera_source.h"
#include "calls/control/test_support/recording_call_control.h"
#include "calls/windows/floating_call_panel_control.h"
#include "calls/windows/native_video_pip.h"
#include "core/theme_manager.h"
#include "platform/capture_authorization.h"
#include "platform/dispatch/virtual_queue.h"
#include "platform/test_support/temp_dir.h"
#include "platform/user_defaults.h"

namespace orvik {
namespace {

using Status = platform::CaptureAuthorizationStatus;
using Lines = std::vector<std::string>;

class PendingAuthorization final : public platform::CaptureAuthorization {
 public:
  Status status(platform::CaptureDevice) const override { return microphone; }
  void request(platform::CaptureDevice, std::function<void(bool)> done) override {
    pending.push_back(std::move(done));
  }
  // The system's answer arrives on the main queue.
  void answer(bool granted) {
    auto done = std::move(pending.front());
    pending.erase(pending.begin());
    platform::mainQueue().post([done, granted] { done(granted); });
  }
  Status microphone = Status::authorized;
  std::vector<std::function<void(bool)>> pending;
};

class RecordingPanel final : public FloatingCallPanelControl {
 public:
  explicit RecordingPanel(Lines& log) : log_(log) {}
  void hide() override { log_.push_back("panel hide"); }
  void showIfNeeded() override { log_.push_back("panel showIfNeeded"); }
  void setSuppressAutoShow(bool on) override { log_.push_back(std::string("panel suppress ") + (on ? "on" : "off")); }

 private:
  Lines& log_;
};

class RecordingAlerts final : public CallAlerts {
 public:
  void showCallAlert(const std::string& title, const std::string&) override { titles.push_back(title); }
  Lines titles;
};

// A window as the user and the window system would treat it.
class FakeWindow final : public VideoCallWindowSurface {
 public:
  FakeWindow(Lines& log, VideoCallWindowDelegate& delegate, std::uint64_t number)
      : log_(log), delegate_(delegate), number_(number) {}
  ~FakeWindow() override { log_.push_back("window destroyed"); }
  void setDarkMode(bool dark) override { log_.push_back(std::string("window dark ") + (dark ? "true" : "false")); }
  void orderFront() override { log_.push_back("window front"); }
  void bringToFront() override { log_.push_back("window bring to front"); }
  void setElevated(bool up) override { log_.push_back(std::string("window elevated ") + (up ? "true" : "false")); }
  void close() override {
    log_.push_back("window close");
    delegate_.windowWillClose();
  }
  std::uint64_t windowNumber() const override { return number_; }
  bool userCloses() {
    if (!delegate_.windowShouldClose()) return false;
    close();
    return true;
  }

 private:
  Lines& log_;
  VideoCallWindowDelegate& delegate_;
  std::uint64_t number_;
};

class FakePiPPanel final : public VideoPiPSurface {
 public:
  FakePiPPanel(Lines& log, StageRect frame) : log_(log), frame(frame) {}
  ~FakePiPPanel() override { log_.push_back("pip destroyed"); }
  void orderFront() override {
    shown_ = true;
    log_.push_back("pip front");
  }
  void orderOut() override {
    shown_ = false;
    log_.push_back("pip out");
  }
  bool isShown() const override { return shown_; }
  std::uint64_t windowNumber() const override { return 77; }

  Lines& log_;
  StageRect frame;
  bool shown_ = false;
};

class NativeVideoCallWindowTest : public ::testing::Test {
 protected:
  NativeVideoCallWindowTest() {
    window = NativeVideoCallWindow::create(
        {calls, authorization, strings, &theme, panel, alerts, [this] { return me; }, [this] { return pip.get(); },
         [this](const VideoCallWindowSetup& setup, VideoCallViewModel&, VideoCallActions a,
                VideoCallWindowDelegate& delegate) -> std::unique_ptr<VideoCallWindowSurface> {
           log.push_back("window built \"" + setup.title + "\" dark=" + (setup.isDarkMode ? "true" : "false") +
                         " capturable=" + (setup.capturable ? "true" : "false"));
           actions = std::move(a);
           auto built = std::make_unique<FakeWindow>(log, delegate, ++windowsBuilt);
           surface = built.get();
           return built;
         },
         [this](const std::string& line) { logged.push_back(line); }});
    pip = NativeVideoPiP::create({calls, window->model(), [this] { log.push_back("return to call"); },
                                  [this] { return workArea; }, [this] { return calls.screenshotAccessAllowed; },
                                  [this](const VideoPiPSetup& setup, VideoCallViewModel&, VideoPiPActions a) {
                                    pipActions = std::move(a);
                                    log.push_back(std::string("pip built capturable=") +
                                                  (setup.capturable ? "true" : "false"));
                                    auto built = std::make_unique<FakePiPPanel>(log, setup.frame);
                                    pipPanel = built.get();
                                    return built;
                                  }});
  }

  VideoCallWindowRequest request(VideoCallEntry entry) {
    return videoCallRequest(entry, {"Bob", "4711", "https://img.test/b.png"}, true, false);
  }
  const VideoCallFields& fields() { return window->model().fields(); }
  // The manager places the call it is asked for.
  void managerPlacesCalls() {
    calls.onMakeCall = [this] { calls.state = CallState(CallState::Kind::calling); };
  }

  Lines log;
  Lines logged;
  platform::VirtualQueue queue;
  platform::ScopedMainQueue main{queue};
  testing::TempDir dir;
  platform::UserDefaults defaults{dir / "defaults.json"};
  ThemeManager theme{defaults};
  CallStrings strings{[](const std::string&) {}};
  testing::RecordingCallControl calls;
  PendingAuthorization authorization;
  RecordingPanel panel{log};
  RecordingAlerts alerts;
  LocalCallIdentity me{"Me Myself", "555", "https://img.test/me.png"};
  StageRect workArea{0, 0, 1440, 900};
  VideoCallActions actions;
  VideoPiPActions pipActions;
  FakeWindow* surface = nullptr;
  FakePiPPanel* pipPanel = nullptr;
  std::uint64_t windowsBuilt = 0;
  std::shared_ptr<NativeVideoCallWindow> window;
  std::shared_ptr<NativeVideoPiP> pip;
};

TEST_F(NativeVideoCallWindowTest, EachEntryMapsToItsFlagsAndStatus) {
  struct Row {
    VideoCallEntry entry;
    bool connected, upgrade, outgoing;
    bool incoming;
    const char* status;
    const char* title;
    Lines calls;
  };
  const std::vector<Row> rows = {
      {VideoCallEntry::outgoing, false, false, true, false, "Calling...", "Orvik – Video Call",
       {"makeCall Bob 4711 video"}},
      {VideoCallEntry::incoming, false, false, false, true, "Incoming call", "Orvik – Incoming Video Call", {}},
      {VideoCallEntry::accepted, false, true, false, false, "Connecting...", "Orvik – Video Call", {}},
      {VideoCallEntry::upgrade, true, true, false, false, "Connecting...", "Orvik – Video Call", {}},
  };
  managerPlacesCalls();
  for (const Row& row : rows) {
    const VideoCallWindowRequest r = request(row.entry);
    EXPECT_EQ(r.isConnected, row.connected);
    EXPECT_EQ(r.isUpgrade, row.upgrade);
    EXPECT_EQ(r.isOutgoing, row.outgoing);
    calls.calls.clear();
    calls.state = CallState();
    log.clear();
    window->open(r);
    EXPECT_EQ(fields().isIncoming, row.incoming) << row.status;
    EXPECT_EQ(fields().timerText, row.status);
    EXPECT_EQ(fields().isConnected, row.connected) << row.status;
    EXPECT_EQ(calls.calls, row.calls) << row.status;
    ASSERT_TRUE(window->hasWindow()) << row.status;
    EXPECT_EQ(log.front(), std::string("window built \"") + row.title + "\" dark=false capturable=false");
    // The manager closes it at the end of the call.
    window->close();
    queue.runUntilIdle();
    EXPECT_FALSE(window->hasWindow());
  }
}

TEST_F(NativeVideoCallWindowTest, OpenWritesTheModelAndKeepsWhatTheManagerOwns) {
  VideoCallViewModel& model = window->model();
  const auto session = std::make_shared<CameraSessionRef>();
  model.set(&VideoCallFields::hasRemoteVideo, true);
  model.set(&VideoCallFields::cameraSession, session);
  model.set(&VideoCallFields::limitWarning, std::string("2 minutes left"));
  model.set(&VideoCallFields::callEnded, true);
  model.set(&VideoCallFields::isMuted, true);
  model.set(&VideoCallFields::isSwapped, true);
  window->open(request(VideoCallEntry::incoming));
  EXPECT_EQ(fields().calleeName, "Bob");
  EXPECT_EQ(fields().calleeOrvikID, "4711");
  EXPECT_EQ(fields().imageUrl, "https://img.test/b.png");
  EXPECT_EQ(fields().localName, "Me Myself");
  EXPECT_EQ(fields().localImageUrl, "https://img.test/me.png");
  EXPECT_TRUE(fields().isSubscribed);
  EXPECT_FALSE(fields().isDarkMode);
  EXPECT_FALSE(fields().callEnded);
  EXPECT_FALSE(fields().isMuted);
  EXPECT_FALSE(fields().isSwapped);
  EXPECT_TRUE(fields().hasRemoteVideo);
  EXPECT_EQ(fields().cameraSession, session);
  EXPECT_EQ(fields().limitWarning, "2 minutes left");

  struct Row {
    LocalCallIdentity me;
    std::string argument;
    std::string name;
  };
  for (const Row& row : std::vector<Row>{{{"Me", "555", ""}, "Given", "Given"},
                                         {{"Me", "555", ""}, "", "Me"},
                                         {{"", "555", ""}, "", "555"},
                                         {{"", std::nullopt, ""}, "", "?"}}) {
    me = row.me;
    VideoCallWindowRequest r = request(VideoCallEntry::incoming);
    r.localName = row.argument;
    window->open(r);
    EXPECT_EQ(fields().localName, row.name);
  }
}

TEST_F(NativeVideoCallWindowTest, MicrophoneGateOfAnOutgoingCall) {
  managerPlacesCalls();
  // Denied: no window, no call, the alert once; the model shows the callee.
  authorization.microphone = Status::denied;
  window->open(request(VideoCallEntry::outgoing));
  EXPECT_FALSE(window->hasWindow());
  EXPECT_TRUE(calls.calls.empty());
  EXPECT_EQ(alerts.titles, (Lines{"Microphone Access Needed"}));
  EXPECT_EQ(logged.back(), "[VideoCallWindow] mic permission denied — outgoing call not started");
  EXPECT_EQ(fields().calleeName, "Bob");

  // Never asked: granted builds the window and places the call.
  authorization.microphone = Status::notDetermined;
  window->open(request(VideoCallEntry::outgoing));
  EXPECT_FALSE(window->hasWindow());
  authorization.answer(true);
  queue.runUntilIdle();
  EXPECT_TRUE(window->hasWindow());
  EXPECT_EQ(calls.calls, (Lines{"makeCall Bob 4711 video"}));
  window->close();
  queue.runUntilIdle();

  // Refused: the denial.
  calls.state = CallState();
  window->open(request(VideoCallEntry::outgoing));
  authorization.answer(false);
  queue.runUntilIdle();
  EXPECT_FALSE(window->hasWindow());
  EXPECT_EQ(alerts.titles.size(), 2u);
  EXPECT_EQ(calls.calls.size(), 1u);
}

TEST_F(NativeVideoCallWindowTest, ALateMicrophoneAnswerNeverBuildsASecondWindowNorPlacesASecondCall) {
  managerPlacesCalls();
  authorization.microphone = Status::notDetermined;
  window->open(request(VideoCallEntry::outgoing));
  window->open(request(VideoCallEntry::outgoing));
  ASSERT_EQ(authorization.pending.size(), 2u);
  authorization.answer(true);  // the first open's answer: overtaken
  authorization.answer(true);
  queue.runUntilIdle();
  EXPECT_EQ(windowsBuilt, 1u);
  EXPECT_EQ(calls.calls, (Lines{"makeCall Bob 4711 video"}));

  // An incoming call's window came up while the page's call waited for access.
  window->close();
  queue.runUntilIdle();
  calls.calls.clear();
  calls.state = CallState();
  window->open(request(VideoCallEntry::outgoing));
  const auto generationAnswer = std::move(authorization.pending.back());
  authorization.pending.clear();
  window->open(request(VideoCallEntry::incoming));
  EXPECT_EQ(windowsBuilt, 2u);
  generationAnswer(true);
  EXPECT_EQ(windowsBuilt, 2u);
  EXPECT_TRUE(calls.calls.empty());
}

TEST_F(NativeVideoCallWindowTest, ARefusedCallClosesTheWindowOpenedForIt) {
  struct Row {
    const char* name;
    CallState before;
    std::function<void()> manager;
    bool stays;
  };
  const std::vector<Row> rows = {
      {"placed", CallState(), [this] { calls.state = CallState(CallState::Kind::calling); }, true},
      {"refused: nothing changes", CallState(), [] {}, false},
      {"ignored: another call runs", CallState(CallState::Kind::connected), [] {}, false},
  };
  for (const Row& row : rows) {
    calls.state = row.before;
    calls.onMakeCall = row.manager;
    window->open(request(VideoCallEntry::outgoing));
    EXPECT_EQ(window->hasWindow(), row.stays) << row.name;
    window->close();
    queue.runUntilIdle();
  }
}

TEST_F(NativeVideoCallWindowTest, CloseRules) {
  managerPlacesCalls();
  calls.onEndCall = [this] { calls.state = CallState(CallState::Kind::ended); };
  struct Row {
    const char* name;
    CallState::Kind state;
    bool closesAtOnce;
    Lines calls;
  };
  const std::vector<Row> rows = {
      {"ringing", CallState::Kind::ringing, false, {"endCall"}},
      {"calling", CallState::Kind::calling, false, {"endCall"}},
      {"connecting", CallState::Kind::connecting, false, {"endCall"}},
      {"connected", CallState::Kind::connected, false, {"endCall"}},
      {"ended", CallState::Kind::ended, true, {}},
      {"idle", CallState::Kind::idle, true, {}},
  };
  for (const Row& row : rows) {
    window->open(request(VideoCallEntry::incoming));
    calls.state = CallState(row.state);
    calls.calls.clear();
    EXPECT_EQ(surface->userCloses(), row.closesAtOnce) << row.name;
    EXPECT_EQ(calls.calls, row.calls) << row.name;
    EXPECT_EQ(window->hasWindow(), !row.closesAtOnce) << row.name;
    // The manager's close after the end.
    window->close();
    queue.runUntilIdle();
    EXPECT_FALSE(window->hasWindow()) << row.name;
  }
  // A close with no window still counts as ending; the next open clears it.
  window->close();
  queue.runUntilIdle();
  EXPECT_TRUE(window->isEnding());
  window->open(request(VideoCallEntry::incoming));
  EXPECT_FALSE(window->isEnding());
}

TEST_F(NativeVideoCallWindowTest, AnOpenOverAnEndedCallsWindowReplacesItAndALateCloseLeavesTheNewOne) {
  window->open(request(VideoCallEntry::incoming));
  const auto first = windowsBuilt;
  // The call ended; the manager's close is still on its way.
  window->model().set(&VideoCallFields::callEnded, true);
  window->close();
  calls.state = CallState(CallState::Kind::ringing);
  window->open(request(VideoCallEntry::incoming));
  EXPECT_EQ(windowsBuilt, first + 1) << "the ended call's window made way";
  queue.runUntilIdle();
  EXPECT_TRUE(window->hasWindow()) << "the earlier close was for the ended call";
  EXPECT_FALSE(fields().callEnded);

  // A window of a running call is only brought forward.
  log.clear();
  window->open(request(VideoCallEntry::incoming));
  EXPECT_EQ(windowsBuilt, first + 1);
  EXPECT_EQ(log, (Lines{"window front", "panel hide"}));
  // A close asked for before such an open still closes: no new window was
  // built for another call.
  window->close();
  window->open(request(VideoCallEntry::incoming));
  queue.runUntilIdle();
  EXPECT_FALSE(window->hasWindow());
}

TEST_F(NativeVideoCallWindowTest, ControlsReachTheManager) {
  window->open(request(VideoCallEntry::incoming));
  calls.state = CallState(CallState::Kind::connected);
  actions.onAccept();
  actions.onReject();
  actions.onMuteToggle();
  EXPECT_TRUE(fields().isMuted);
  actions.onMuteToggle();
  actions.onCameraToggle();
  EXPECT_TRUE(fields().isCameraOff);
  actions.onSpeakerToggle();
  window->model().set(&VideoCallFields::isSpeakerOff, true);
  actions.onSpeakerToggle();
  EXPECT_TRUE(fields().isSpeakerOff) << "the manager writes it back";
  actions.onScreenShareToggle();
  actions.requestScreenShareOptions(true);
  ShareableWindow shared;
  shared.id = 42;
  actions.startScreenShare(shared);
  actions.extendCall();
  actions.onEndCall();
  EXPECT_EQ(calls.calls, (Lines{"acceptCall", "rejectCall", "setMuted true", "setMuted false", "setCameraOff true",
                                "setSpeakerEnabled false", "setSpeakerEnabled true", "toggleScreenShare",
                                "requestScreenShareOptions true", "startScreenShare window 42", "extendCall true",
                                "endCall"}));
  queue.runUntilIdle();
  EXPECT_TRUE(window->hasWindow()) << "the manager closes a running call's window";
  // The end button with no call left: the window closes itself.
  calls.state = CallState(CallState::Kind::ended);
  actions.onEndCall();
  queue.runUntilIdle();
  EXPECT_FALSE(window->hasWindow());
  // Controls of a window that is gone do nothing harmful.
  window.reset();
  calls.calls.clear();
  actions.onMuteToggle();
  actions.onEndCall();
  EXPECT_TRUE(calls.calls.empty());
}

TEST_F(NativeVideoCallWindowTest, ThemeOrderingAndSizes) {
  theme.setDarkMode(true);
  EXPECT_TRUE(fields().isDarkMode) << "with no window only the model changes";
  window->open(request(VideoCallEntry::incoming));
  log.clear();
  theme.setDarkMode(false);
  window->bringToFront();
  window->orderFront();
  window->setElevated(true);
  EXPECT_EQ(log, (Lines{"window dark false"})) << "the rest hops to the main queue";
  queue.runUntilIdle();
  EXPECT_EQ(log, (Lines{"window dark false", "window bring to front", "window front", "window elevated true"}));
  EXPECT_EQ(NativeVideoCallWindow::clampedSize(700, 500), (std::pair{780, 620}));
  EXPECT_EQ(NativeVideoCallWindow::clampedSize(1000, 700), (std::pair{1000, 700}));
  // Key changes tell the floating panel.
  log.clear();
  window->windowDidBecomeKey();
  window->windowDidResignKey();
  EXPECT_EQ(log, (Lines{"panel hide", "panel showIfNeeded"}));
}

TEST_F(NativeVideoCallWindowTest, PictureInPictureFollowsTheWindow) {
  // Before any window: nothing shows.
  pip->showIfActive();
  queue.runUntilIdle();
  EXPECT_FALSE(pip->hasPanel());

  calls.screenshotAccessAllowed = true;
  window->open(request(VideoCallEntry::upgrade));
  queue.runUntilIdle();
  EXPECT_TRUE(pip->isActive());
  pip->showIfActive();
  queue.runUntilIdle();
  ASSERT_TRUE(pip->isShown());
  EXPECT_EQ(pipPanel->frame, (StageRect{1156, 20, 264, 208}));
  EXPECT_EQ(pip->windowNumber(), 77u);

  // Expand: the panel goes out and the call windows come back; a later show
  // brings the same panel again.
  log.clear();
  pipActions.onExpand();
  queue.runUntilIdle();
  EXPECT_EQ(log, (Lines{"return to call", "pip out"}));
  auto* same = pipPanel;
  pip->showIfActive();
  queue.runUntilIdle();
  EXPECT_EQ(pipPanel, same);
  EXPECT_TRUE(pip->isShown());

  // Mute and end.
  pipActions.onMute();
  EXPECT_TRUE(fields().isMuted);
  pipActions.onEnd();
  EXPECT_EQ(calls.calls, (Lines{"setMuted true", "endCall"}));

  // The call ended: no panel shows; the window's close destroys it.
  pip->hide();
  window->model().set(&VideoCallFields::callEnded, true);
  pip->showIfActive();
  queue.runUntilIdle();
  EXPECT_FALSE(pip->isShown());
  window->close();
  queue.runUntilIdle();
  EXPECT_FALSE(pip->isActive());
  EXPECT_FALSE(pip->hasPanel());
  pip->hide();
  queue.runUntilIdle();
}

}  // namespace
}  // namespace orvik
