// The audio call window's controller against a recording call manager, a
// recording window surface and an authorisation whose answers the test
// gives, on virtual time.
#include "calls/windows/native_audio_call_window.h"

#include <gtest/gtest.h>

#include "calls/control/call_ports.h"
#include "calls/control/call_strings.h"
#include "calls/control/test_support/recording_call_control.h"
#include "calls/windows/floating_call_panel_control.h"
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
class FakeSurface final : public AudioCallWindowSurface {
 public:
  FakeSurface(Lines& log, AudioCallWindowDelegate& delegate) : log_(log), delegate_(delegate) {}
  ~FakeSurface() override { log_.push_back("window destroyed"); }
  void setDarkMode(bool dark) override { log_.push_back(std::string("window dark ") + (dark ? "true" : "false")); }
  void orderFront() override { log_.push_back("window front"); }
  void raiseAboveAppWindows() override { log_.push_back("window raise"); }
  void setElevated(bool up) override { log_.push_back(std::string("window elevated ") + (up ? "true" : "false")); }
  void close() override {
    log_.push_back("window close");
    delegate_.windowWillClose();
  }
  // The user clicks the window's close button.
  bool userCloses() {
    if (!delegate_.windowShouldClose()) return false;
    close();
    return true;
  }

 private:
  Lines& log_;
  AudioCallWindowDelegate& delegate_;
};

class NativeAudioCallWindowTest : public ::testing::Test {
 protected:
  NativeAudioCallWindowTest() {
    window = NativeAudioCallWindow::create(
        {calls, authorization, strings, &theme, panel, alerts,
         [this](const AudioCallWindowSetup& setup, AudioCallViewModel&, AudioCallActions a,
                AudioCallWindowDelegate& delegate) -> std::unique_ptr<AudioCallWindowSurface> {
           log.push_back("window built \"" + setup.title + "\" dark=" + (setup.isDarkMode ? "true" : "false") +
                         " capturable=" + (setup.capturable ? "true" : "false"));
           actions = std::move(a);
           auto built = std::make_unique<FakeSurface>(log, delegate);
           surface = built.get();
           return built;
         },
         [this](const std::string& line) { logged.push_back(line); }});
  }

  AudioCallWindowRequest outgoing() { return {"Bob", "4711", "", false, true, false, true}; }
  AudioCallWindowRequest incoming() { return {"Ann", "815", "https://img.test/a.png", true, false, false, false}; }
  AudioCallWindowRequest accepted() { return {"Ann", "815", "", false, true, true, false}; }
  const AudioCallViewState& state() { return window->model().state(); }

  // Before the queue: windows still queued for release write here as they go.
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
  AudioCallActions actions;
  FakeSurface* surface = nullptr;
  std::shared_ptr<NativeAudioCallWindow> window;
};

TEST_F(NativeAudioCallWindowTest, OpenWritesTheModelForEachKindOfCall) {
  struct Case {
    const char* what;
    AudioCallWindowRequest request;
    bool incoming;
    const char* status;
    const char* title;
  };
  strings.setCallStrings(R"(setCallStrings:{"connecting":"Conectando..."})");
  const Case cases[] = {
      {"outgoing", {"Bob", "4711", "", false, true, false, true}, false, "Calling...", "Orvik – Audio Call"},
      {"incoming", {"Ann", "815", "", true, false, false, false}, true, "Incoming call",
       "Orvik – Incoming Audio Call"},
      {"accepted", {"Ann", "815", "", true, true, true, false}, false, "Conectando...", "Orvik – Audio Call"},
  };
  for (const auto& c : cases) {
    log.clear();
    window->model().update([](AudioCallViewState& s) {
      s.isConnected = s.isMuted = s.isSpeakerOff = s.remoteMuted = s.canRequestVideoUpgrade = true;
    });
    window->open(c.request);
    EXPECT_EQ(state().calleeName, c.request.calleeName) << c.what;
    EXPECT_EQ(state().calleeOrvikID, c.request.calleeOrvikID) << c.what;
    EXPECT_EQ(state().isSubscribed, c.request.isSubscribed) << c.what;
    EXPECT_EQ(state().isDarkMode, c.request.isDarkMode) << c.what;
    EXPECT_EQ(state().isIncoming, c.incoming) << c.what;
    EXPECT_EQ(state().timerText, c.status) << c.what;
    EXPECT_FALSE(state().isConnected || state().isMuted || state().isSpeakerOff || state().remoteMuted ||
                 state().canRequestVideoUpgrade)
        << c.what;
    ASSERT_FALSE(log.empty()) << c.what;
    EXPECT_EQ(log.front(), std::string("window built \"") + c.title + "\" dark=" +
                               (c.request.isDarkMode ? "true" : "false") + " capturable=false")
        << c.what;
    window->close();
    queue.runUntilIdle();
    EXPECT_FALSE(window->hasWindow()) << c.what;
  }
}

TEST_F(NativeAudioCallWindowTest, TheMicrophoneGatesOnlyOutgoingCalls) {
  struct Case {
    const char* what;
    AudioCallWindowRequest request;
    Status microphone;
    std::optional<bool> answer;  // the system's answer to a request
    bool window;
    Lines calls;
    Lines alerts;
    bool deniedLine;
  };
  const AudioCallWindowRequest out{"Bob", "4711", "", true, true, false, true};
  const AudioCallWindowRequest in{"Ann", "815", "", false, true, false, false};
  const AudioCallWindowRequest accepted{"Ann", "815", "", false, true, true, false};
  const Lines bob = {"makeCall Bob 4711 audio"};
  const Lines alert = {"Microphone Access Needed"};
  const Case cases[] = {
      {"outgoing, authorised", out, Status::authorized, std::nullopt, true, bob, {}, false},
      {"outgoing, asked, granted", out, Status::notDetermined, true, true, bob, {}, false},
      {"outgoing, asked, refused", out, Status::notDetermined, false, false, {}, alert, true},
      {"outgoing, denied", out, Status::denied, std::nullopt, false, {}, alert, true},
      {"outgoing, restricted", out, Status::restricted, std::nullopt, false, {}, alert, true},
      {"incoming, denied: no gate", in, Status::denied, std::nullopt, true, {}, {}, false},
      {"accepted, denied: no gate", accepted, Status::denied, std::nullopt, true, {}, {}, false},
  };
  for (const auto& c : cases) {
    calls.calls.clear();
    alerts.titles.clear();
    logged.clear();
    authorization.microphone = c.microphone;
    window->open(c.request);
    if (c.answer) {
      ASSERT_EQ(authorization.pending.size(), 1u) << c.what;
      EXPECT_FALSE(window->hasWindow()) << c.what << ": built before the answer";
      EXPECT_TRUE(calls.calls.empty()) << c.what << ": placed before the answer";
      authorization.answer(*c.answer);
    }
    queue.runUntilIdle();
    EXPECT_EQ(window->hasWindow(), c.window) << c.what;
    EXPECT_EQ(calls.calls, c.calls) << c.what;
    EXPECT_EQ(alerts.titles, c.alerts) << c.what;
    const bool deniedLine = std::find(logged.begin(), logged.end(),
                                      "[AudioCallWindow] mic permission denied — outgoing call not started") !=
                            logged.end();
    EXPECT_EQ(deniedLine, c.deniedLine) << c.what;
    window->close();
    queue.runUntilIdle();
  }
}

TEST_F(NativeAudioCallWindowTest, ThePlacedCallCarriesTheCallee) {
  AudioCallWindowRequest request{"Bob", "4711", "https://img.test/b.png", true, true, false, true};
  window->open(request);
  EXPECT_EQ(calls.lastCallee.OrvikID, "4711");
  EXPECT_EQ(calls.lastCallee.userNumber, "4711");
  EXPECT_EQ(calls.lastCallee.name, "Bob");
  EXPECT_EQ(calls.lastCallee.avatarURL, "https://img.test/b.png");
  EXPECT_TRUE(calls.lastCallee.isSubscribed);
  window->close();
  queue.runUntilIdle();
  request.imageUrl.clear();
  window->open(request);
  EXPECT_FALSE(calls.lastCallee.avatarURL);
}

TEST_F(NativeAudioCallWindowTest, ASecondOpenOnlyRefreshesAndBringsTheWindowForward) {
  window->open(outgoing());
  log.clear();
  window->open(outgoing());
  EXPECT_EQ(calls.calls, Lines{"makeCall Bob 4711 audio"});
  EXPECT_EQ(log, (Lines{"window front", "panel hide"}));
  window->open(incoming());
  EXPECT_EQ(state().calleeName, "Ann");
  EXPECT_EQ(calls.calls.size(), 1u);
}

TEST_F(NativeAudioCallWindowTest, AMicrophoneAnswerAfterAWindowCameUpPlacesNoSecondCall) {
  authorization.microphone = Status::notDetermined;
  window->open(outgoing());
  authorization.microphone = Status::authorized;
  // The call manager opens the window for an accepted call meanwhile.
  window->open(accepted());
  authorization.answer(true);
  queue.runUntilIdle();
  EXPECT_TRUE(calls.calls.empty());
  EXPECT_TRUE(window->hasWindow());
}

TEST_F(NativeAudioCallWindowTest, ButtonsCallTheManager) {
  window->open(outgoing());
  calls.calls.clear();
  calls.state = CallState::Kind::connected;
  actions.onAccept();
  actions.onReject();
  actions.onMuteToggle();
  EXPECT_TRUE(state().isMuted);
  actions.onMuteToggle();
  EXPECT_FALSE(state().isMuted);
  actions.onSpeakerToggle();
  window->model().update([](AudioCallViewState& s) { s.isSpeakerOff = true; });
  actions.onSpeakerToggle();
  actions.onAcceptVideoUpgrade();
  actions.onDeclineVideoUpgrade();
  actions.onCancelVideoUpgrade();
  actions.onRequestVideoUpgrade();
  actions.onExtendCall();
  EXPECT_EQ(calls.calls, (Lines{"acceptCall", "rejectCall", "setMuted true", "setMuted false",
                                "setSpeakerEnabled false", "setSpeakerEnabled true", "acceptVideoUpgrade",
                                "declineVideoUpgrade", "requestVideoUpgrade", "extendCall true"}));
  calls.calls.clear();
  calls.state = CallState::Kind::calling;
  actions.onRequestVideoUpgrade();  // only a connected call switches to video
  EXPECT_TRUE(calls.calls.empty());
}

TEST_F(NativeAudioCallWindowTest, ClosingTheLimitBannerClearsBothFields) {
  window->open(outgoing());
  window->model().update([](AudioCallViewState& s) {
    s.limitWarning = "5 minutes left";
    s.callLimitCanExtend = true;
  });
  actions.onCloseLimitBanner();
  EXPECT_FALSE(state().limitWarning);
  EXPECT_FALSE(state().callLimitCanExtend);
}

TEST_F(NativeAudioCallWindowTest, EndClosesTheWindowItselfOnlyWhenNoCallWasInProgress) {
  struct Case {
    CallState state;
    bool closes;
  };
  const Case cases[] = {
      {CallState::Kind::ringing, false},   {CallState::Kind::calling, false}, {CallState::Kind::connecting, false},
      {CallState::Kind::connected, false}, {CallState::Kind::ended, true},    {CallState::failed("ice"), true},
      {CallState::Kind::idle, true},       {CallState::Kind::busy, true},
  };
  for (const auto& c : cases) {
    calls.state = CallState::Kind::idle;
    window->open(incoming());
    calls.state = c.state;
    calls.calls.clear();
    actions.onEndCall();
    queue.runUntilIdle();
    EXPECT_EQ(calls.calls, Lines{"endCall"});
    EXPECT_EQ(window->hasWindow(), !c.closes) << static_cast<int>(c.state.kind());
    window->close();
    queue.runUntilIdle();
  }
}

TEST_F(NativeAudioCallWindowTest, TheCloseButtonEndsACallAndTheManagerClosesTheWindow) {
  calls.state = CallState::Kind::connected;
  window->open(outgoing());
  calls.calls.clear();
  calls.onEndCall = [this] {
    calls.state = CallState::Kind::ended;
    // The manager closes the call windows a moment after the end.
    platform::mainQueue().postAfter(2.0, [this] { window->close(); });
  };
  EXPECT_FALSE(surface->userCloses());
  EXPECT_EQ(calls.calls, Lines{"endCall"});
  EXPECT_TRUE(window->hasWindow());
  queue.advance(2.0);
  EXPECT_FALSE(window->hasWindow());
  EXPECT_EQ(calls.calls, Lines{"endCall"});  // not ended a second time
  EXPECT_FALSE(window->isEnding());
}

TEST_F(NativeAudioCallWindowTest, WithoutACallTheCloseButtonClosesTheWindowDirectly) {
  for (CallState state : {CallState(CallState::Kind::idle), CallState(CallState::Kind::ended),
                          CallState::failed("no answer")}) {
    calls.state = CallState::Kind::ringing;
    window->open(incoming());
    calls.state = state;
    calls.calls.clear();
    EXPECT_TRUE(surface->userCloses());
    EXPECT_FALSE(window->hasWindow());
    EXPECT_TRUE(calls.calls.empty());
  }
}

TEST_F(NativeAudioCallWindowTest, CloseAndCloseForUpgradeRunOnTheMainQueueWithoutEndingTheCall) {
  calls.state = CallState::Kind::connected;
  window->open(outgoing());
  calls.calls.clear();
  logged.clear();
  window->close();
  EXPECT_EQ(logged, Lines{"[AudioCallWindow] close() called — hasWindow=true"});
  EXPECT_TRUE(window->hasWindow());  // posted
  queue.runUntilIdle();
  EXPECT_FALSE(window->hasWindow());
  EXPECT_TRUE(calls.calls.empty());

  window->open(outgoing());
  logged.clear();
  log.clear();
  window->closeForUpgrade();
  queue.runUntilIdle();
  EXPECT_FALSE(window->hasWindow());
  EXPECT_TRUE(logged.empty());
  EXPECT_EQ(log, (Lines{"window close", "panel hide", "window destroyed"}));

  window->close();
  EXPECT_EQ(logged, Lines{"[AudioCallWindow] close() called — hasWindow=false"});
  queue.runUntilIdle();
}

TEST_F(NativeAudioCallWindowTest, PlacementOperationsActOnAWindowOnly) {
  window->bringToFront();
  window->raiseAboveAppWindows();
  window->setElevated(true);
  queue.runUntilIdle();
  EXPECT_TRUE(log.empty());
  window->open(incoming());
  log.clear();
  window->bringToFront();
  window->raiseAboveAppWindows();
  window->setElevated(true);
  window->setElevated(false);
  EXPECT_TRUE(log.empty());  // posted
  queue.runUntilIdle();
  EXPECT_EQ(log, (Lines{"window front", "window raise", "window elevated true", "window elevated false"}));
}

TEST_F(NativeAudioCallWindowTest, TheOutputPickerElevatesBringsForwardAndHoldsThePanelBack) {
  window->open(incoming());
  log.clear();
  actions.setFloatingPanelSuppressed(true);
  actions.onOutputPickerElevate(true);
  actions.onOutputPickerDismissed();
  actions.onOutputPickerElevate(false);
  actions.setFloatingPanelSuppressed(false);
  queue.runUntilIdle();
  EXPECT_EQ(log, (Lines{"panel suppress on", "panel suppress off", "window elevated true", "window front",
                        "window elevated false"}));
}

TEST_F(NativeAudioCallWindowTest, KeyChangesDriveTheFloatingPanel) {
  window->open(incoming());
  log.clear();
  window->windowDidBecomeKey();
  window->windowDidResignKey();
  EXPECT_EQ(log, (Lines{"panel hide", "panel showIfNeeded"}));
}

TEST_F(NativeAudioCallWindowTest, TheThemeReachesTheModelAndTheWindow) {
  window->open(incoming());
  log.clear();
  theme.setDarkMode(false);
  EXPECT_FALSE(state().isDarkMode);
  theme.setDarkMode(true);
  EXPECT_TRUE(state().isDarkMode);
  EXPECT_EQ(log, (Lines{"window dark false", "window dark true"}));
}

TEST_F(NativeAudioCallWindowTest, ScreenshotAccessIsReadWhenTheWindowIsBuilt) {
  calls.screenshotAccessAllowed = true;
  window->open(incoming());
  EXPECT_EQ(log.front(), "window built \"Orvik – Incoming Audio Call\" dark=false capturable=true");
}

TEST_F(NativeAudioCallWindowTest, ResizesKeepEachSideAt560AtLeast) {
  EXPECT_EQ(NativeAudioCallWindow::clampedSize(400, 900), std::make_pair(560, 900));
  EXPECT_EQ(NativeAudioCallWindow::clampedSize(700, 100), std::make_pair(700, 560));
  EXPECT_EQ(NativeAudioCallWindow::clampedSize(620, 570), std::make_pair(620, 570));
}

TEST_F(NativeAudioCallWindowTest, ActionsOfAGoneControllerDoNothing) {
  window->open(outgoing());
  calls.calls.clear();
  window.reset();
  queue.runUntilIdle();
  actions.onAccept();
  actions.onMuteToggle();
  actions.onEndCall();
  EXPECT_TRUE(calls.calls.empty());
}

}  // namespace
}  // namespace orvik
