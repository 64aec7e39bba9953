// The pre-call window's controller on virtual time, against a recording
// window, a camera whose sessions the test hands out, a capture
// authorisation the test sets and a recording main page: the status table
// with its auto-close, and the races between the auto-close, the camera and
// the next call's window.
#include "calls/windows/native_pre_call_window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>

#include "calls/control/call_strings.h"
#include "calls/media/camera_source.h"
#include "calls/windows/native_call_window.h"
#include "platform/dispatch/virtual_queue.h"
#include "platform/fake_capture_authorization.h"
#include "platform/recording_page_script_sink.h"

namespace orvik {
namespace {

using Lines = std::vector<std::string>;
using platform::CaptureAuthorizationStatus;
using platform::CaptureDevice;

class FakePreCallWindow final : public PreCallWindowSurface {
 public:
  FakePreCallWindow(Lines& log, std::string name, PreCallWindowDelegate& delegate)
      : log_(log), name_(std::move(name)), delegate_(delegate) {}
  ~FakePreCallWindow() override { log_.push_back("destroyed " + name_); }
  void present() override { log_.push_back("present " + name_); }
  void close() override { log_.push_back("close " + name_); }
  // The user clicks the window's close button.
  void userCloses() { delegate_.windowWillClose(); }

 private:
  Lines& log_;
  std::string name_;
  PreCallWindowDelegate& delegate_;
};

class FakeCamera final : public PreCallCamera {
 public:
  FakeCamera(Lines& log, platform::TaskQueue& queue) : log_(log), queue_(queue) {}
  void start(std::function<void(CameraSessionHandle)> done) override {
    log_.push_back("camera start");
    pending.push_back(std::move(done));
  }
  void stop(CameraSessionHandle session) override { log_.push_back("camera stop " + std::to_string(idOf(session))); }
  int idOf(const CameraSessionHandle& session) const { return ids.at(session.get()); }
  // Start number `which` answers with a running session `id` (0: no camera).
  void answer(std::size_t which, int id) {
    CameraSessionHandle session;
    if (id != 0) {
      session = std::make_shared<CameraSessionRef>();
      ids[session.get()] = id;
    }
    queue_.post([done = pending.at(which), session] { done(session); });
  }
  std::vector<std::function<void(CameraSessionHandle)>> pending;
  std::map<const CameraSessionRef*, int> ids;

 private:
  Lines& log_;
  platform::TaskQueue& queue_;
};

// A controller with its fakes; the tests below use it as their fixture, and
// the status table makes one per case.
struct PreCallHarness {
  PreCallHarness() {
    controller = NativePreCallWindow::create(
        {queue, authorization, strings,
         [this](const PreCallWindowSpec& windowSpec, PreCallControlState&, CaptureSessionBox& box, PreCallActions a,
                PreCallWindowDelegate& delegate) -> std::unique_ptr<PreCallWindowSurface> {
           const std::string name = windowSpec.calleeName;
           log.push_back("build " + name + (windowSpec.isAudio ? " audio " : " video ") + std::to_string(windowSpec.width) +
                         "x" + std::to_string(windowSpec.height) + " min " + std::to_string(windowSpec.minWidth) + "x" +
                         std::to_string(windowSpec.minHeight) + " '" + windowSpec.title + "'" +
                         (windowSpec.capturable ? " capturable" : "") + (box.session() ? " with camera" : ""));
           actions = std::move(a);
           auto built = std::make_unique<FakePreCallWindow>(log, name, delegate);
           window = built.get();
           return built;
         },
         &camera, [this] { return screenshotsAllowed; },
         [this] {
           log.push_back("close call window");
           return callWindowOpen;
         }});
    controller->setMainPage(page);
  }

  void show(const std::string& name, bool isAudio) {
    controller->show(name, "+1 (555) 123-4567", "", isAudio);
    queue.runUntilIdle();
  }
  void status(const std::string& text) {
    controller->updateStatus(text);
    queue.runUntilIdle();
  }
  bool saw(const std::string& line) const { return std::find(log.begin(), log.end(), line) != log.end(); }
  int count(const std::string& line) const { return static_cast<int>(std::count(log.begin(), log.end(), line)); }
  int notices() const {
    return static_cast<int>(
        std::count(page->scripts.begin(), page->scripts.end(), std::string(NativeCallWindow::kClosedNotice)));
  }
  const PreCallControlState& state() const { return controller->controlState(); }

  Lines log;
  platform::VirtualQueue queue;
  platform::ScopedMainQueue main{queue};
  platform::FakeCaptureAuthorization authorization;
  CallStrings strings{[](const std::string&) {}};
  FakeCamera camera{log, queue};
  std::shared_ptr<platform::RecordingPageScriptSink> page = std::make_shared<platform::RecordingPageScriptSink>();
  bool screenshotsAllowed = false;
  bool callWindowOpen = false;
  PreCallActions actions;
  FakePreCallWindow* window = nullptr;
  std::shared_ptr<NativePreCallWindow> controller;
};

class NativePreCallWindowTest : public ::testing::Test, public PreCallHarness {};

// ---------------------------------------------------------------- statuses

TEST(PreCallTextRules, EndingStatusesNumbersAndTheStatusLine) {
  for (const char* ending : {"Busy", "User Busy", "End Call", "Call Ended", "Connection failed", "Failed"}) {
    EXPECT_TRUE(isPreCallEndingStatus(ending)) << ending;
  }
  for (const char* ringing : {"busy", "Busy ", "Calling...", "Ringing...", "", "Connection Failed"}) {
    EXPECT_FALSE(isPreCallEndingStatus(ringing)) << ringing;
  }

  const std::pair<const char*, const char*> numbers[] = {
      {"+1 (555) 123-4567", "155 512 345 67"}, {"123456789", "123 456 789"}, {"1234", "123 4"},
      {"12", "12"}, {"+12", "+12"}, {"ab", "ab"}, {"+1 (555) 123", "155 512 3"}, {"", ""},
  };
  for (const auto& [number, shown] : numbers) EXPECT_EQ(preCallFormattedNumber(number), shown) << number;

  struct Line {
    const char* status;
    int dots;
    const char* shown;
  };
  const Line lines[] = {
      {"Calling...", 1, "Calling."}, {"Calling...", 2, "Calling.."}, {"Calling...", 3, "Calling..."},
      {"Ringing", 2, "Ringing"},     {"Failed", 3, "Failed"},         {"Calling…", 1, "Calling…"},
      {"...", 2, ".."},
  };
  for (const auto& line : lines) EXPECT_EQ(preCallStatusText(line.status, line.dots), line.shown) << line.status;
  EXPECT_EQ(advanceDots(1), 2);
  EXPECT_EQ(advanceDots(2), 3);
  EXPECT_EQ(advanceDots(3), 1);
}

TEST(PreCallStatusTable, EndingStatusesCloseTheWindowQuietlyAfterTheirDelay) {
  struct Case {
    const char* status;
    std::optional<double> closesAfter;
  };
  const Case cases[] = {
      {"Busy", 2.5},       {"User Busy", 2.5},         {"Failed", 1.8},         {"Connection failed", 1.8},
      {"End Call", 1.8},   {"Call Ended", 1.8},        {"Calling...", {}},      {"busy", {}},
      {"Ringing...", {}},  {"", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.status);
    PreCallHarness fixture;
    fixture.show("alice_1234", true);
    fixture.status(c.status);
    EXPECT_EQ(fixture.state().status(), c.status);
    if (!c.closesAfter) {
      fixture.queue.advance(30.0);
      EXPECT_TRUE(fixture.controller->hasWindow());
      EXPECT_FALSE(fixture.controller->isAutoClosePending());
      continue;
    }
    fixture.queue.advance(*c.closesAfter - 0.01);
    EXPECT_TRUE(fixture.controller->hasWindow());
    fixture.queue.advance(0.02);
    EXPECT_FALSE(fixture.controller->hasWindow());
    EXPECT_FALSE(fixture.controller->isActive());
    EXPECT_EQ(fixture.count("close alice_1234"), 1);
    // A quiet close: the web call window and the main page hear nothing.
    EXPECT_FALSE(fixture.saw("close call window"));
    EXPECT_EQ(fixture.notices(), 0);
  }
}

TEST_F(NativePreCallWindowTest, TheWindowIsSizedAndTitledByTheKindOfCall) {
  screenshotsAllowed = true;
  show("alice_1234", true);
  show("bob", false);
  camera.answer(0, 0);
  queue.runUntilIdle();
  EXPECT_EQ(log, (Lines{"build alice_1234 audio 620x570 min 560x520 'Orvik – Audio Call' capturable",
                        "present alice_1234", "close alice_1234", "camera start",
                        "destroyed alice_1234",
                        "build bob video 860x640 min 500x400 'You are making a secure end to end encrypted call' "
                        "capturable",
                        "present bob"}));
}

TEST_F(NativePreCallWindowTest, IsActiveAsSoonAsShowIsCalled) {
  EXPECT_FALSE(controller->isActive());
  controller->show("alice", "", "", true);
  EXPECT_TRUE(controller->isActive());
  EXPECT_FALSE(controller->hasWindow());
  queue.runUntilIdle();
  EXPECT_TRUE(controller->hasWindow());
}

TEST_F(NativePreCallWindowTest, ACloseOrHangUpBeforeTheQueuedShowRunsLeavesNoWindow) {
  controller->show("alice", "", "", true);
  controller->close();  // callConnected in the same turn
  queue.runUntilIdle();
  EXPECT_FALSE(controller->hasWindow());
  EXPECT_FALSE(controller->isActive());
  show("bob", true);
  EXPECT_TRUE(controller->hasWindow()) << "a later show builds again";
}

TEST_F(NativePreCallWindowTest, ALaterEndingStatusSchedulesNoSecondClose) {
  show("alice", true);
  status("Busy");
  status("Failed");
  queue.advance(1.9);
  EXPECT_TRUE(controller->hasWindow()) << "the 1.8 s of the second status would close it here";
  EXPECT_EQ(state().status(), "Failed");
  queue.advance(0.7);
  EXPECT_FALSE(controller->hasWindow());
  EXPECT_EQ(count("close alice"), 1);
}

TEST_F(NativePreCallWindowTest, ARingingStatusDoesNotCallOffThePendingClose) {
  show("alice", true);
  status("Busy");
  status("Calling...");
  queue.advance(2.6);
  EXPECT_FALSE(controller->hasWindow());
}

TEST_F(NativePreCallWindowTest, CallWindowCloseEndsARingingCallAfterOnePointEightSeconds) {
  show("alice", true);
  controller->markCallEnded();
  queue.runUntilIdle();
  EXPECT_EQ(state().status(), "Call Ended");
  queue.advance(1.79);
  EXPECT_TRUE(controller->hasWindow());
  queue.advance(0.02);
  EXPECT_FALSE(controller->hasWindow());
}

TEST_F(NativePreCallWindowTest, CallWindowCloseKeepsAnEndingStatusAndItsOwnClose) {
  show("alice", true);
  status("User Busy");
  queue.advance(1.0);
  controller->markCallEnded();
  queue.runUntilIdle();
  EXPECT_EQ(state().status(), "User Busy");
  queue.advance(1.49);
  EXPECT_TRUE(controller->hasWindow());
  queue.advance(0.02);
  EXPECT_FALSE(controller->hasWindow());
  EXPECT_EQ(count("close alice"), 1);
}

TEST_F(NativePreCallWindowTest, CallWindowCloseWithoutAWindowChangesNothing) {
  controller->markCallEnded();
  queue.advance(5.0);
  EXPECT_NE(state().status(), "Call Ended");
  EXPECT_FALSE(controller->isAutoClosePending());
}

// ---------------------------------------------------------------- auto-close races

TEST_F(NativePreCallWindowTest, ARedialWithinTheBusyDelayStaysOpen) {
  show("alice", true);
  status("Busy");
  queue.advance(1.0);
  show("alice", true);
  EXPECT_EQ(state().status(), "Calling...");
  EXPECT_FALSE(controller->isAutoClosePending());
  queue.advance(10.0);
  EXPECT_TRUE(controller->hasWindow());
  EXPECT_EQ(count("close alice"), 1) << "only the first window closes, when the redial replaces it";
}

TEST_F(NativePreCallWindowTest, ACloseCallsOffThePendingAutoCloseForTheNextWindow) {
  show("alice", true);
  status("Failed");
  controller->close();  // the call connected
  EXPECT_FALSE(controller->isAutoClosePending());
  show("bob", true);
  queue.advance(5.0);
  EXPECT_TRUE(controller->hasWindow());
  EXPECT_FALSE(saw("close bob"));
}

TEST_F(NativePreCallWindowTest, AHangUpOrAUserCloseCallsOffThePendingAutoClose) {
  show("alice", true);
  status("Busy");
  actions.onHangup();
  show("bob", true);
  status("Calling...");
  queue.advance(3.0);
  EXPECT_FALSE(saw("close bob"));

  status("Failed");
  window->userCloses();
  show("carol", true);
  queue.advance(3.0);
  EXPECT_TRUE(controller->hasWindow());
  EXPECT_FALSE(saw("close carol"));
}

TEST_F(NativePreCallWindowTest, ANewShowReplacesTheWindowQuietlyAndResetsTheControls) {
  show("alice", true);
  actions.onMicToggle();
  actions.onSpeakerToggle();
  status("Ringing...");
  page->scripts.clear();
  show("bob", true);
  EXPECT_TRUE(saw("close alice"));
  EXPECT_FALSE(saw("close call window"));
  EXPECT_EQ(notices(), 0);
  EXPECT_FALSE(state().isMuted());
  EXPECT_TRUE(state().isVideoOn());
  EXPECT_TRUE(state().isSpeakerOn());
  EXPECT_EQ(state().status(), "Calling...");
}

TEST_F(NativePreCallWindowTest, TheStatusResetsToThePagesCallingText) {
  strings.setCallStrings(R"(setCallStrings:{"calling":"Appel..."})");
  show("alice", true);
  EXPECT_EQ(state().status(), "Appel...");
}

// ---------------------------------------------------------------- buttons and notices

TEST_F(NativePreCallWindowTest, TogglesFlipTheirStateAndTellThePage) {
  show("alice", false);
  camera.answer(0, 1);
  queue.runUntilIdle();
  actions.onMicToggle();
  EXPECT_TRUE(state().isMuted());
  actions.onVideoToggle();
  EXPECT_FALSE(state().isVideoOn());
  actions.onSpeakerToggle();
  EXPECT_FALSE(state().isSpeakerOn());
  EXPECT_EQ(page->scripts, (Lines{"window.__orvikToggleMute?.();", "window.__orvikToggleVideo?.();"}))
      << "the speaker tells nobody";
  actions.onMicToggle();
  EXPECT_FALSE(state().isMuted());
}

TEST_F(NativePreCallWindowTest, WithoutAMainPageTheTogglesStillChangeTheirState) {
  page.reset();
  show("alice", true);
  actions.onMicToggle();
  EXPECT_TRUE(state().isMuted());
}

TEST_F(NativePreCallWindowTest, ButtonsOfAReplacedWindowDoNothing) {
  show("alice", true);
  PreCallActions old = actions;
  show("bob", true);
  old.onMicToggle();
  old.onHangup();
  EXPECT_FALSE(state().isMuted());
  EXPECT_TRUE(controller->hasWindow());
  EXPECT_TRUE(page->scripts.empty());
}

TEST_F(NativePreCallWindowTest, HangUpClosesTheCallWindowAndTellsThePageOnce) {
  show("alice", true);
  PreCallActions clicked = actions;
  clicked.onHangup();
  clicked.onHangup();  // a second click before the window went
  queue.runUntilIdle();
  EXPECT_FALSE(controller->hasWindow());
  EXPECT_FALSE(controller->isActive());
  EXPECT_EQ(count("close call window"), 1);
  EXPECT_EQ(notices(), 1);
}

TEST_F(NativePreCallWindowTest, TheWebCallWindowsOwnNoticeIsTheOnlyOne) {
  callWindowOpen = true;
  show("alice", true);
  actions.onHangup();
  queue.runUntilIdle();
  EXPECT_EQ(count("close call window"), 1);
  EXPECT_EQ(notices(), 0) << "the web call window tells the page as it closes";
}

TEST_F(NativePreCallWindowTest, AUserCloseClosesTheCallWindowTellsThePageAndEndsPreparing) {
  show("alice", true);
  window->userCloses();
  queue.runUntilIdle();
  EXPECT_FALSE(controller->hasWindow());
  EXPECT_FALSE(controller->isActive()) << "bringCallWindowToFront goes to the web call window again";
  EXPECT_FALSE(saw("close alice")) << "the window is closing itself";
  EXPECT_TRUE(saw("destroyed alice"));
  EXPECT_EQ(count("close call window"), 1);
  EXPECT_EQ(notices(), 1);
  // The page's callWindowClose afterwards shows nothing more.
  controller->markCallEnded();
  queue.advance(5.0);
  EXPECT_EQ(notices(), 1);
}

TEST_F(NativePreCallWindowTest, FocusChangesAreReportedAtOnceAndBringToFrontPresents) {
  show("alice", true);
  controller->windowDidBecomeKey();
  controller->windowDidResignKey();
  EXPECT_EQ(page->scripts, (Lines{callWindowFocusScript(true), callWindowFocusScript(false)}));
  EXPECT_EQ(callWindowFocusScript(true),
            "window.__orvikCallWindowFocused = true\n"
            "window.dispatchEvent(new CustomEvent('orvikCallWindowFocusChanged'));");
  log.clear();
  controller->bringToFront();
  queue.runUntilIdle();
  EXPECT_EQ(log, (Lines{"present alice"}));
  controller->close();
  queue.runUntilIdle();
  log.clear();
  controller->bringToFront();
  queue.runUntilIdle();
  EXPECT_TRUE(log.empty()) << "nothing to bring forward";
}

// ---------------------------------------------------------------- camera

TEST_F(NativePreCallWindowTest, AVideoWindowOpensOnItsRunningCamera) {
  controller->show("alice", "", "", false);
  queue.runUntilIdle();
  EXPECT_TRUE(controller->isActive());
  EXPECT_FALSE(controller->hasWindow()) << "waiting for the camera";
  camera.answer(0, 1);
  queue.runUntilIdle();
  EXPECT_TRUE(saw("build alice video 860x640 min 500x400 'You are making a secure end to end encrypted call' "
                  "with camera"));
  ASSERT_NE(controller->sessionBox(), nullptr);
  EXPECT_EQ(camera.idOf(controller->sessionBox()->session()), 1);

  actions.onHangup();
  EXPECT_TRUE(saw("camera stop 1"));
  EXPECT_EQ(controller->sessionBox()->session(), nullptr);
}

TEST_F(NativePreCallWindowTest, WithCameraAccessDeniedTheVideoWindowOpensAtOnceAndNeverStartsTheCamera) {
  for (auto denied : {CaptureAuthorizationStatus::denied, CaptureAuthorizationStatus::restricted}) {
    authorization.statuses[CaptureDevice::camera] = denied;
    show("alice", false);
    EXPECT_TRUE(controller->hasWindow());
    actions.onVideoToggle();
    actions.onVideoToggle();
    queue.runUntilIdle();
    EXPECT_TRUE(state().isVideoOn());
    EXPECT_FALSE(saw("camera start"));
    EXPECT_EQ(controller->sessionBox()->session(), nullptr);
  }
}

TEST_F(NativePreCallWindowTest, AnUndecidedCameraAsksFirst) {
  authorization.statuses[CaptureDevice::camera] = CaptureAuthorizationStatus::notDetermined;
  authorization.holdAnswers = true;
  controller->show("alice", "", "", false);
  queue.runUntilIdle();
  EXPECT_EQ(authorization.asked, (std::vector<CaptureDevice>{CaptureDevice::camera}));
  EXPECT_FALSE(saw("camera start"));
  authorization.answerAll();
  queue.runUntilIdle();
  camera.answer(0, 1);
  queue.runUntilIdle();
  EXPECT_TRUE(controller->hasWindow());

  // Refused: the window opens without a camera.
  authorization.answers[CaptureDevice::camera] = false;
  controller->show("bob", "", "", false);
  queue.runUntilIdle();
  authorization.answerAll();
  queue.runUntilIdle();
  EXPECT_TRUE(controller->hasWindow());
  EXPECT_EQ(count("camera start"), 1);
}

TEST_F(NativePreCallWindowTest, ACameraThatStartsAfterTheCallConnectedBuildsNothingAndStops) {
  controller->show("alice", "", "", false);
  queue.runUntilIdle();
  controller->close();  // callConnected
  camera.answer(0, 1);
  queue.runUntilIdle();
  EXPECT_FALSE(controller->hasWindow());
  EXPECT_FALSE(saw("build alice video 860x640 min 500x400 'You are making a secure end to end encrypted call' "
                   "with camera"));
  EXPECT_TRUE(saw("camera stop 1"));
  EXPECT_FALSE(controller->isActive());
}

TEST_F(NativePreCallWindowTest, ACameraThatStartsAfterTheCallEndedBuildsNothingAndStops) {
  controller->show("alice", "", "", false);
  queue.runUntilIdle();
  controller->markCallEnded();
  queue.advance(1.8);
  EXPECT_FALSE(controller->isActive());
  camera.answer(0, 1);
  queue.runUntilIdle();
  EXPECT_EQ(std::count_if(log.begin(), log.end(), [](const std::string& l) { return l.starts_with("build"); }), 0);
  EXPECT_TRUE(saw("camera stop 1"));
}

TEST_F(NativePreCallWindowTest, AShowWhileAnEarlierVideoWindowWaitsForItsCameraLeavesOneWindow) {
  controller->show("alice", "", "", false);
  queue.runUntilIdle();
  controller->show("bob", "", "", false);
  queue.runUntilIdle();
  ASSERT_EQ(camera.pending.size(), 2u);
  camera.answer(0, 1);
  queue.runUntilIdle();
  EXPECT_FALSE(controller->hasWindow()) << "alice's camera builds no window for her call";
  EXPECT_TRUE(saw("camera stop 1"));
  camera.answer(1, 2);
  queue.runUntilIdle();
  EXPECT_TRUE(controller->hasWindow());
  EXPECT_EQ(std::count_if(log.begin(), log.end(), [](const std::string& l) { return l.starts_with("build"); }), 1);
  EXPECT_TRUE(saw("present bob"));
  EXPECT_EQ(camera.idOf(controller->sessionBox()->session()), 2);
}

TEST_F(NativePreCallWindowTest, CameraStartsAndStopsAreSerialisedAndASupersededSessionStops) {
  show("alice", false);
  camera.answer(0, 1);
  queue.runUntilIdle();
  ASSERT_TRUE(controller->hasWindow());

  // Off stops the running session at once; on starts a new one.
  actions.onVideoToggle();
  EXPECT_TRUE(saw("camera stop 1"));
  EXPECT_EQ(controller->sessionBox()->session(), nullptr);
  actions.onVideoToggle();
  EXPECT_EQ(count("camera start"), 2);

  // Off and on again while it starts: no second start, the session is kept.
  actions.onVideoToggle();
  actions.onVideoToggle();
  EXPECT_EQ(count("camera start"), 2);
  camera.answer(1, 2);
  queue.runUntilIdle();
  EXPECT_EQ(camera.idOf(controller->sessionBox()->session()), 2);

  // Off while it starts: the session that arrives is stopped.
  actions.onVideoToggle();
  actions.onVideoToggle();
  EXPECT_EQ(count("camera start"), 3);
  actions.onVideoToggle();
  camera.answer(2, 3);
  queue.runUntilIdle();
  EXPECT_TRUE(saw("camera stop 3"));
  EXPECT_EQ(controller->sessionBox()->session(), nullptr);
  EXPECT_FALSE(state().isVideoOn());
}

TEST_F(NativePreCallWindowTest, ACameraStartedForAReplacedWindowStops) {
  show("alice", false);
  camera.answer(0, 1);
  queue.runUntilIdle();
  actions.onVideoToggle();
  actions.onVideoToggle();  // a second start, still on its way
  show("bob", true);
  EXPECT_TRUE(saw("camera stop 1"));
  camera.answer(1, 2);
  queue.runUntilIdle();
  EXPECT_TRUE(saw("camera stop 2"));
  EXPECT_EQ(controller->sessionBox()->session(), nullptr);
}

TEST_F(NativePreCallWindowTest, ACameraAnsweringAfterTheControllerWentStops) {
  controller->show("alice", "", "", false);
  queue.runUntilIdle();
  controller.reset();
  camera.answer(0, 1);
  queue.runUntilIdle();
  EXPECT_TRUE(saw("camera stop 1"));
}

TEST_F(NativePreCallWindowTest, AnAutoCloseOutlivingTheControllerDoesNothing) {
  show("alice", true);
  status("Busy");
  controller.reset();
  EXPECT_TRUE(saw("close alice"));
  log.clear();
  queue.advance(5.0);
  EXPECT_TRUE(log.empty());
}

}  // namespace
}  // namespace orvik
