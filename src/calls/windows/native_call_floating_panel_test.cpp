// The floating return-to-call panel's controller on virtual time against a
// fake desktop (the program's windows, their frames and a stacking oracle
// that derives what can be seen from the order), a recording panel window
// and a recording call manager: when the return surface shows and goes, and
// which path calls which operation exactly once. The card's content as
// tables.
#include "calls/windows/native_call_floating_panel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "calls/control/call_strings.h"
#include "calls/control/test_support/recording_call_control.h"
#include "core/theme_manager.h"
#include "platform/dispatch/virtual_queue.h"
#include "platform/user_defaults.h"
#include "platform/test_support/temp_dir.h"

namespace orvik {
namespace {

using Lines = std::vector<std::string>;
using Role = FloatingPanelWindowRole;
using Kind = FloatingPanelEvent::Kind;

constexpr std::uint64_t kMain = 1;
constexpr std::uint64_t kAudio = 2;
constexpr std::uint64_t kVideo = 3;
constexpr std::uint64_t kOther = 9;  // another program's window

// The program's windows on a fake desktop. What can be seen of a window
// follows from the stacking order the test arranges and the frames, as the
// program derives it from the window manager.
class FakeDesktop final : public FloatingPanelHost {
 public:
  explicit FakeDesktop(Lines& log) : log_(log) { reset(); }

  std::optional<FloatingPanelWindow> audioCallWindow() override { return seen(audio); }
  std::optional<FloatingPanelWindow> videoCallWindow() override { return seen(video); }
  std::vector<FloatingPanelWindow> mainWindows() override {
    std::vector<FloatingPanelWindow> windows;
    if (auto window = seen(main)) windows.push_back(*window);
    return windows;
  }
  std::optional<std::vector<platform::StackedWindow>> onScreenWindows() override {
    if (!stackReadable) return std::nullopt;
    std::vector<platform::StackedWindow> stack;
    for (std::uint64_t number : order) {
      const FloatingPanelWindow* window = byNumber(number);
      if (number == kOther) {
        stack.push_back({kOther, otherFrame});
      } else if (window && window->isVisible && !window->isMiniaturized) {
        stack.push_back({number, window->frame});
      }
    }
    return stack;
  }
  bool isApplicationActive() override { return active; }
  void activateApplication() override { log_.push_back("activate"); }
  void raiseCallWindows() override { log_.push_back("raise call windows"); }
  void showVideoPictureInPicture() override { log_.push_back("pip show"); }
  void hideVideoPictureInPicture() override { log_.push_back("pip hide"); }
  platform::Subscription observe(std::function<void(const FloatingPanelEvent&)> event) override {
    return events_.add(std::move(event));
  }
  platform::Subscription monitorClicks(std::function<void(const FloatingPanelClick&)> click) override {
    return clicks_.add(std::move(click));
  }

  // The desktop as each test starts with it: the main window over the
  // whole call window, the program active.
  void reset() {
    main = FloatingPanelWindow{kMain, {0, 0, 1200, 800}, true, false, false, false};
    audio = FloatingPanelWindow{kAudio, {300, 100, 620, 570}, true, false, false, false};
    video.reset();
    order = {kAudio, kMain};
    stackReadable = true;
    active = true;
  }
  // Front to back.
  void arrange(std::vector<std::uint64_t> frontToBack) { order = std::move(frontToBack); }
  void send(Kind kind, Role role = Role::notMain) { events_.notify({kind, role}); }
  void click(Role role) {
    FloatingPanelClick click{role, {}};
    if (role == Role::mainWindow && main) click.window = *seen(main);
    clicks_.notify(click);
  }
  std::size_t clickMonitors() const { return clicks_.size(); }

  std::optional<FloatingPanelWindow> main;
  std::optional<FloatingPanelWindow> audio;
  std::optional<FloatingPanelWindow> video;
  platform::WindowFrame otherFrame{0, 0, 1920, 1080};
  std::vector<std::uint64_t> order;
  bool stackReadable = true;
  bool active = true;

 private:
  const FloatingPanelWindow* byNumber(std::uint64_t number) const {
    for (const auto* window : {&main, &audio, &video}) {
      if (*window && (*window)->number == number) return &**window;
    }
    return nullptr;
  }
  std::optional<FloatingPanelWindow> seen(const std::optional<FloatingPanelWindow>& window) {
    if (!window) return std::nullopt;
    FloatingPanelWindow copy = *window;
    const auto stack = onScreenWindows();
    copy.isVisibleOnScreen = stack && platform::isUncovered(*stack, copy.number);
    return copy;
  }

  Lines& log_;
  platform::ObserverList<const FloatingPanelEvent&> events_;
  platform::ObserverList<const FloatingPanelClick&> clicks_;
};

class FakePanelWindow final : public FloatingPanelSurface {
 public:
  explicit FakePanelWindow(Lines& log) : log_(log) {}
  void orderFront() override { log_.push_back("panel front"); }
  void orderOut() override { log_.push_back("panel out"); }
  void setDarkMode(bool dark) override { log_.push_back(std::string("panel dark ") + (dark ? "true" : "false")); }
  void close() override { log_.push_back("panel close"); }

 private:
  Lines& log_;
};

class FloatingPanelTest : public ::testing::Test {
 protected:
  FloatingPanelTest() : scoped_(queue_) {}

  void SetUp() override { panel_ = makePanel(nullptr); }

  std::shared_ptr<NativeCallFloatingPanel> makePanel(ThemeManager* theme) {
    return NativeCallFloatingPanel::create(
        {queue_, calls_, strings_, theme, desktop_,
         [this](const FloatingPanelSpec& windowSpec, FloatingCallPanelModel&, FloatingPanelActions actions) {
           log_.push_back("panel built " + std::to_string(windowSpec.width) + "x" + std::to_string(windowSpec.height) +
                          " margin " + std::to_string(windowSpec.margin) + (windowSpec.isDarkMode ? " dark" : " light"));
           actions_ = std::move(actions);
           return std::make_unique<FakePanelWindow>(log_);
         },
         [this](bool off) { calls_.calls.push_back(std::string("setCameraOff ") + (off ? "true" : "false")); },
         [this](const std::string& line) { lines_.push_back(line); }});
  }

  // An audio call in progress with the main window over the call window.
  void startAudioCallCovered() {
    panel_->callDidStart("Bob", "", true, false);
    desktop_.arrange({kMain, kAudio});
  }
  Lines take() { return std::exchange(log_, {}); }
  bool logged(const std::string& line) const {
    return std::find(lines_.begin(), lines_.end(), line) != lines_.end();
  }

  platform::VirtualQueue queue_;
  platform::ScopedMainQueue scoped_;
  Lines log_;
  Lines lines_;
  FakeDesktop desktop_{log_};
  testing::RecordingCallControl calls_;
  CallStrings strings_{[](const std::string&) {}};
  FloatingPanelActions actions_;
  std::shared_ptr<NativeCallFloatingPanel> panel_;
};

// ---- The show rule ----

TEST_F(FloatingPanelTest, TheShowRuleBuildsTheAudioPanelOnceAndOrdersItFrontAfterwards) {
  startAudioCallCovered();
  panel_->showIfNeeded();
  EXPECT_EQ(take(), Lines{}) << "the panel comes as a task on the main queue";
  queue_.runUntilIdle();
  EXPECT_EQ(take(), (Lines{"panel built 320x68 margin 20 dark", "panel front"}));
  EXPECT_TRUE(panel_->isFrontWatchRunning());
  EXPECT_TRUE(logged("[FloatingPanel] showIfNeeded() called — isCallActive=true awaitingAccept=false isAudio=true "
                     "suppressAutoShow=false hasPanel=false"));

  panel_->hide();
  EXPECT_FALSE(panel_->isFrontWatchRunning());
  queue_.runUntilIdle();
  EXPECT_EQ(take(), (Lines{"panel out", "pip hide"}));
  EXPECT_TRUE(logged("[FloatingPanel] hide() called — hasPanel=true"));

  panel_->showIfNeeded();
  queue_.runUntilIdle();
  EXPECT_EQ(take(), Lines{"panel front"}) << "the same panel comes back";
}

TEST_F(FloatingPanelTest, TheShowRuleShowsNothingWithoutAnActiveAcceptedCallOrWhileSuppressed) {
  struct Case {
    const char* what;
    std::function<void(NativeCallFloatingPanel&)> arrange;
  };
  const Case cases[] = {
      {"no call", [](NativeCallFloatingPanel&) {}},
      {"a ringing call", [](NativeCallFloatingPanel& p) { p.callDidStart("Bob", "", true, true); }},
      {"a call waiting for accept again",
       [](NativeCallFloatingPanel& p) {
         p.callDidStart("Bob", "", true, false);
         p.setAwaitingAccept(true);
       }},
      {"the output picker open",
       [](NativeCallFloatingPanel& p) {
         p.callDidStart("Bob", "", true, false);
         p.setSuppressAutoShow(true);
       }},
      {"an ended call",
       [](NativeCallFloatingPanel& p) {
         p.callDidStart("Bob", "", true, false);
         p.callDidEnd();
       }},
  };
  for (const Case& c : cases) {
    panel_ = makePanel(nullptr);
    desktop_.arrange({kMain, kAudio});
    c.arrange(*panel_);
    queue_.runUntilIdle();
    take();
    panel_->showIfNeeded();
    desktop_.click(Role::mainWindow);
    desktop_.send(Kind::applicationDidResignActive);
    queue_.advance(1.0);
    EXPECT_EQ(take(), Lines{}) << c.what;
    EXPECT_FALSE(panel_->hasPanel()) << c.what;
    EXPECT_FALSE(panel_->isFrontWatchRunning()) << c.what;
  }
}

TEST_F(FloatingPanelTest, AMainWindowInFullScreenHidesThePanelInsteadOfShowingIt) {
  startAudioCallCovered();
  desktop_.main->isFullScreen = true;
  panel_->showIfNeeded();
  queue_.runUntilIdle();
  EXPECT_EQ(take(), Lines{"pip hide"});
  EXPECT_FALSE(panel_->hasPanel());
  EXPECT_FALSE(panel_->isFrontWatchRunning());
}

TEST_F(FloatingPanelTest, AVideoCallShowsThePictureInPictureAndNeverThePanel) {
  desktop_.video = FloatingPanelWindow{kVideo, {300, 100, 800, 600}, true, false, false, false};
  panel_->callDidStart("Bob", "", false, false);
  desktop_.arrange({kMain, kVideo, kAudio});
  panel_->showIfNeeded();
  queue_.runUntilIdle();
  EXPECT_EQ(take(), Lines{"pip show"});
  EXPECT_FALSE(panel_->hasPanel());
}

TEST_F(FloatingPanelTest, ACallThatEndsWhileTheShowIsQueuedBuildsNoPanel) {
  startAudioCallCovered();
  panel_->showIfNeeded();
  panel_->callDidEnd();
  queue_.runUntilIdle();
  EXPECT_EQ(take(), Lines{"pip hide"});
  EXPECT_FALSE(panel_->hasPanel());
}

// ---- The call's life ----

TEST_F(FloatingPanelTest, ACallWritesTheModelAndHoldsTheClickMonitorUntilItEnds) {
  panel_->model().update([](FloatingCallPanelState& s) {
    s.isMuted = true;
    s.isConnected = true;
    s.timerText = "03:12";
  });
  panel_->callDidStart("Ann", "https://a/ann.png", false, false);
  panel_->callDidStart("Ann", "https://a/ann.png", false, false);
  const FloatingCallPanelState& s = panel_->model().state();
  EXPECT_EQ(s.calleeName, "Ann");
  EXPECT_EQ(s.imageUrl, "https://a/ann.png");
  EXPECT_FALSE(s.isAudio);
  EXPECT_EQ(s.timerText, "Calling...");
  EXPECT_FALSE(s.isMuted);
  EXPECT_FALSE(s.isConnected);
  EXPECT_EQ(desktop_.clickMonitors(), 1u) << "one monitor however often a call starts";

  panel_->callDidEnd();
  EXPECT_EQ(desktop_.clickMonitors(), 0u);
  EXPECT_TRUE(logged(NativeCallFloatingPanel::kCallDidEndLog));
}

TEST_F(FloatingPanelTest, TheEndOfACallClosesThePanelAndTheNextCallBuildsANewOne) {
  startAudioCallCovered();
  panel_->showIfNeeded();
  queue_.runUntilIdle();
  take();
  panel_->callDidEnd();
  EXPECT_EQ(take(), (Lines{"panel close", "pip hide"}));
  EXPECT_FALSE(panel_->hasPanel());
  EXPECT_FALSE(panel_->isFrontWatchRunning());

  startAudioCallCovered();
  panel_->showIfNeeded();
  queue_.runUntilIdle();
  EXPECT_EQ(take(), (Lines{"panel built 320x68 margin 20 dark", "panel front"}));
}

TEST_F(FloatingPanelTest, CallDidEndFromAnotherThreadMovesToTheMainQueue) {
  startAudioCallCovered();
  std::thread([this] { panel_->callDidEnd(); }).join();
  EXPECT_TRUE(panel_->isCallActive());
  queue_.runUntilIdle();
  EXPECT_FALSE(panel_->isCallActive());
  EXPECT_EQ(desktop_.clickMonitors(), 0u);
}

// ---- The front watch ----

TEST_F(FloatingPanelTest, TheFrontWatchHidesThePanelOnlyWhenTheCallWindowIsNoLongerBehindTheMainWindow) {
  struct Case {
    const char* what;
    std::function<void(FakeDesktop&)> change;
    bool hides;
  };
  const Case cases[] = {
      {"nothing changed", [](FakeDesktop&) {}, false},
      {"call window in front", [](FakeDesktop& d) { d.arrange({kAudio, kMain}); }, true},
      {"call window behind another program, in front of the main window",
       [](FakeDesktop& d) { d.arrange({kOther, kAudio, kMain}); }, true},
      {"main window minimised", [](FakeDesktop& d) { d.main->isMiniaturized = true; }, true},
      {"main window closed", [](FakeDesktop& d) { d.main.reset(); }, true},
      {"call window behind but apart", [](FakeDesktop& d) { d.audio->frame = {1300, 0, 620, 570}; }, true},
      {"main window in full screen", [](FakeDesktop& d) { d.main->isFullScreen = true; }, true},
      {"program inactive", [](FakeDesktop& d) {
         d.active = false;
         d.arrange({kAudio, kMain});
       }, false},
      {"stacking order unreadable", [](FakeDesktop& d) {
         d.stackReadable = false;
         d.arrange({kAudio, kMain});
       }, false},
      {"call window not on screen", [](FakeDesktop& d) { d.arrange({kMain}); }, false},
      {"call window hidden", [](FakeDesktop& d) { d.audio->isVisible = false; }, false},
  };
  for (const Case& c : cases) {
    desktop_.reset();
    panel_ = makePanel(nullptr);
    startAudioCallCovered();
    panel_->showIfNeeded();
    queue_.runUntilIdle();
    take();
    c.change(desktop_);
    queue_.advance(NativeCallFloatingPanel::kFrontWatchInterval);
    if (c.hides) {
      EXPECT_EQ(take(), (Lines{"panel out", "pip hide"})) << c.what;
      EXPECT_FALSE(panel_->isFrontWatchRunning()) << c.what;
    } else {
      queue_.advance(5.0);
      EXPECT_EQ(take(), Lines{}) << c.what;
      EXPECT_TRUE(panel_->isFrontWatchRunning()) << c.what;
    }
  }
}

// ---- Clicks ----

TEST_F(FloatingPanelTest, ClickRuleDecidesByTheClickedWindowAndHowMuchOfTheCallWindowTheMainWindowCovers) {
  struct Case {
    const char* what;
    Role role;
    platform::WindowFrame mainFrame;
    std::vector<std::uint64_t> order;
    Lines expected;
    bool logsNoOverlap = false;
  };
  // The call window is 620 × 570 at (300, 100).
  const Case cases[] = {
      {"call window clicked", Role::audioCallWindow, {0, 0, 1200, 800}, {kMain, kAudio}, {"panel out", "pip hide"}},
      {"video window clicked", Role::videoCallWindow, {0, 0, 1200, 800}, {kMain, kAudio}, {"panel out", "pip hide"}},
      {"incoming, web call or pre-call window clicked", Role::otherCallWindow, {0, 0, 1200, 800}, {kMain, kAudio}, {}},
      {"a dialog clicked", Role::notMain, {0, 0, 1200, 800}, {kMain, kAudio}, {}},
      {"main window covers it all", Role::mainWindow, {0, 0, 1200, 800}, {kMain, kAudio},
       {"panel built 320x68 margin 20 dark", "panel front"}},
      {"main window covers exactly half", Role::mainWindow, {0, 0, 610, 800}, {kMain, kAudio},
       {"panel built 320x68 margin 20 dark", "panel front"}},
      {"main window covers less than half", Role::mainWindow, {0, 0, 600, 800}, {kMain, kAudio},
       {"pip hide"}, true},
      {"main window elsewhere (another display)", Role::mainWindow, {2000, 0, 800, 600}, {kMain, kAudio},
       {"pip hide"}, true},
      {"call window hidden behind another program", Role::mainWindow, {2000, 0, 800, 600}, {kOther, kMain, kAudio},
       {"panel built 320x68 margin 20 dark", "panel front"}},
  };
  for (const Case& c : cases) {
    desktop_.reset();
    lines_.clear();
    panel_ = makePanel(nullptr);
    panel_->callDidStart("Bob", "", true, false);
    desktop_.main->frame = c.mainFrame;
    desktop_.arrange(c.order);
    desktop_.click(c.role);
    queue_.runUntilIdle();
    // A hide without a panel orders nothing out.
    auto got = take();
    got.erase(std::remove(got.begin(), got.end(), "panel out"), got.end());
    auto expected = c.expected;
    expected.erase(std::remove(expected.begin(), expected.end(), "panel out"), expected.end());
    EXPECT_EQ(got, expected) << c.what;
    EXPECT_EQ(logged(NativeCallFloatingPanel::kNoOverlapLog), c.logsNoOverlap) << c.what;
  }
}

TEST_F(FloatingPanelTest, ClickingTheCallWindowHidesTheShownPanel) {
  startAudioCallCovered();
  desktop_.click(Role::mainWindow);
  queue_.runUntilIdle();
  ASSERT_TRUE(panel_->hasPanel());
  take();
  desktop_.click(Role::audioCallWindow);
  queue_.runUntilIdle();
  EXPECT_EQ(take(), (Lines{"panel out", "pip hide"}));
}

TEST_F(FloatingPanelTest, ClicksAfterTheCallEndedChangeNothing) {
  startAudioCallCovered();
  panel_->callDidEnd();
  take();
  desktop_.click(Role::mainWindow);
  queue_.runUntilIdle();
  EXPECT_EQ(take(), Lines{});
}

// ---- Activation, occlusion, minimising ----

TEST_F(FloatingPanelTest, LeavingTheProgramWithTheCallWindowInSightShowsNothingAfterTheRecheck) {
  panel_->callDidStart("Bob", "", true, false);
  desktop_.arrange({kAudio, kMain});
  desktop_.active = false;
  desktop_.send(Kind::applicationDidResignActive);
  queue_.advance(NativeCallFloatingPanel::kResignRecheckDelay - 0.05);
  EXPECT_FALSE(logged(NativeCallFloatingPanel::kCallWindowStillVisibleLog));
  queue_.advance(0.1);
  EXPECT_TRUE(logged(NativeCallFloatingPanel::kCallWindowStillVisibleLog));
  EXPECT_EQ(take(), Lines{});
}

TEST_F(FloatingPanelTest, LeavingTheProgramWithTheCallWindowCoveredShowsThePanelAtOnce) {
  panel_->callDidStart("Bob", "", true, false);
  desktop_.arrange({kOther, kAudio, kMain});
  desktop_.active = false;
  desktop_.send(Kind::applicationDidResignActive);
  queue_.runUntilIdle();
  EXPECT_EQ(take(), (Lines{"panel built 320x68 margin 20 dark", "panel front"}));
}

TEST_F(FloatingPanelTest, TheRecheckShowsThePanelWhenTheCallWindowWasCoveredMeanwhile) {
  panel_->callDidStart("Bob", "", true, false);
  desktop_.arrange({kAudio, kMain});
  desktop_.active = false;
  desktop_.send(Kind::applicationDidResignActive);
  desktop_.arrange({kOther, kAudio, kMain});
  queue_.advance(NativeCallFloatingPanel::kResignRecheckDelay);
  EXPECT_EQ(take(), (Lines{"panel built 320x68 margin 20 dark", "panel front"}));
}

TEST_F(FloatingPanelTest, TheRecheckDoesNothingOnceTheProgramIsActiveAgain) {
  panel_->callDidStart("Bob", "", true, false);
  desktop_.arrange({kAudio, kMain});
  desktop_.active = false;
  desktop_.send(Kind::applicationDidResignActive);
  desktop_.arrange({kOther, kAudio, kMain});
  desktop_.active = true;
  queue_.advance(1.0);
  EXPECT_EQ(take(), Lines{});
  EXPECT_FALSE(logged(NativeCallFloatingPanel::kCallWindowStillVisibleLog));
}

TEST_F(FloatingPanelTest, OcclusionOfTheCallWindowWhileTheProgramIsInactiveShowsOrHidesThePanel) {
  panel_->callDidStart("Bob", "", true, false);
  desktop_.active = false;
  desktop_.arrange({kOther, kAudio, kMain});
  desktop_.send(Kind::windowDidChangeOcclusion, Role::audioCallWindow);
  queue_.runUntilIdle();
  EXPECT_EQ(take(), (Lines{"panel built 320x68 margin 20 dark", "panel front"}));

  desktop_.arrange({kAudio, kOther, kMain});
  desktop_.send(Kind::windowDidChangeOcclusion, Role::audioCallWindow);
  queue_.runUntilIdle();
  EXPECT_EQ(take(), (Lines{"panel out", "pip hide"}));
  EXPECT_TRUE(logged(NativeCallFloatingPanel::kVisibleAgainLog));

  // Other windows' occlusion, and any while the program is active, count
  // for nothing.
  desktop_.arrange({kOther, kAudio, kMain});
  desktop_.send(Kind::windowDidChangeOcclusion, Role::mainWindow);
  desktop_.active = true;
  desktop_.send(Kind::windowDidChangeOcclusion, Role::audioCallWindow);
  queue_.runUntilIdle();
  EXPECT_EQ(take(), Lines{});
}

TEST_F(FloatingPanelTest, SuppressionLastsUntilTheProgramBecomesActive) {
  startAudioCallCovered();
  panel_->setSuppressAutoShow(true);
  panel_->showIfNeeded();
  queue_.runUntilIdle();
  EXPECT_FALSE(panel_->hasPanel());
  desktop_.send(Kind::applicationDidBecomeActive);
  panel_->showIfNeeded();
  queue_.runUntilIdle();
  EXPECT_TRUE(panel_->hasPanel());
}

TEST_F(FloatingPanelTest, MinimisingTheMainWindowShowsThePanelAndMinimisingAPanelDoesNot) {
  panel_->callDidStart("Bob", "", true, false);
  desktop_.send(Kind::windowDidMiniaturize, Role::audioCallWindow);
  desktop_.send(Kind::windowDidMiniaturize, Role::notMain);
  queue_.runUntilIdle();
  EXPECT_EQ(take(), Lines{});
  desktop_.main->isMiniaturized = true;
  desktop_.send(Kind::windowDidMiniaturize, Role::mainWindow);
  queue_.runUntilIdle();
  EXPECT_EQ(take(), (Lines{"panel built 320x68 margin 20 dark", "panel front"}));
}

// ---- Returning to the call ----

TEST_F(FloatingPanelTest, ClickingThePanelHidesItRaisesTheCallWindowAndRaisesItOnceMoreLater) {
  startAudioCallCovered();
  panel_->showIfNeeded();
  queue_.runUntilIdle();
  take();
  actions_.onReturnToCall();
  EXPECT_EQ(take(), (Lines{"panel out", "raise call windows", "activate"}));
  EXPECT_TRUE(panel_->isAwaitingDesktopSwitch());
  queue_.advance(NativeCallFloatingPanel::kReturnRaiseDelay - 0.05);
  EXPECT_EQ(take(), Lines{});
  queue_.advance(0.1);
  EXPECT_EQ(take(), Lines{"raise call windows"});
  EXPECT_FALSE(panel_->isAwaitingDesktopSwitch());
  desktop_.send(Kind::activeDesktopDidChange);
  queue_.advance(5.0);
  EXPECT_EQ(take(), Lines{}) << "a later desktop switch is not the return's";
  EXPECT_TRUE(calls_.calls.empty());
}

TEST_F(FloatingPanelTest, ReturningToACallOnAnotherDesktopRaisesItAfterTheSwitchAndAgainAMomentLater) {
  panel_->callDidStart("Bob", "", true, false);
  panel_->returnToCall();
  EXPECT_EQ(take(), (Lines{"raise call windows", "activate"}));
  queue_.advance(0.1);
  desktop_.send(Kind::activeDesktopDidChange);
  desktop_.send(Kind::activeDesktopDidChange);
  EXPECT_EQ(take(), Lines{"raise call windows"}) << "one shot";
  queue_.advance(NativeCallFloatingPanel::kDesktopRaiseAgainDelay);
  EXPECT_EQ(take(), Lines{"raise call windows"});
  queue_.advance(5.0);
  EXPECT_EQ(take(), Lines{}) << "no raise at 0.4 s after a switch";
}

// ---- The card's buttons ----

TEST_F(FloatingPanelTest, TheCardsButtonsToggleTheModelAndReachTheCallManagerOnceEach) {
  startAudioCallCovered();
  panel_->showIfNeeded();
  queue_.runUntilIdle();
  actions_.onMute();
  EXPECT_TRUE(panel_->model().state().isMuted);
  actions_.onMute();
  EXPECT_FALSE(panel_->model().state().isMuted);
  actions_.onCamera();
  EXPECT_TRUE(panel_->model().state().isCameraOff);
  actions_.onEnd();
  EXPECT_EQ(calls_.calls, (Lines{"setMuted true", "setMuted false", "setCameraOff true", "endCall"}));

  // Buttons of a panel whose controller is gone do nothing.
  auto actions = actions_;
  panel_.reset();
  actions.onMute();
  actions.onEnd();
  actions.onReturnToCall();
  EXPECT_EQ(calls_.calls.size(), 4u);
}

TEST_F(FloatingPanelTest, TheThemeReachesTheModelAndTheShownPanel) {
  orvik::testing::TempDir folder;
  platform::UserDefaults defaults(folder.path() / "defaults.json");
  ThemeManager theme(defaults);
  theme.setDarkMode(false);
  panel_ = makePanel(&theme);
  startAudioCallCovered();
  EXPECT_FALSE(panel_->model().state().isDarkMode) << "a call starts in the theme's look";
  panel_->showIfNeeded();
  queue_.runUntilIdle();
  EXPECT_EQ(take(), (Lines{"panel built 320x68 margin 20 light", "panel front"}));
  theme.setDarkMode(true);
  EXPECT_TRUE(panel_->model().state().isDarkMode);
  EXPECT_EQ(take(), Lines{"panel dark true"});
}

// ---- The card's content ----

TEST(FloatingCallPanelContent, NamesTypesTimerAndButtonsFollowTheModel) {
  CallStrings strings{[](const std::string&) {}};
  FloatingCallPanelState audio;
  const auto empty = presentFloatingCallPanel(audio, strings);
  EXPECT_EQ(empty.name, "Call");
  EXPECT_EQ(empty.timerText, "Calling...");
  EXPECT_EQ(empty.typeText, "Audio Call");
  EXPECT_EQ(empty.typeSymbol, "phone.fill");
  EXPECT_EQ(empty.typeColour, floatingcolors::accentPurple);
  EXPECT_EQ(empty.timerColour, Rgba::white(0.5));
  ASSERT_EQ(empty.buttons.size(), 2u);
  EXPECT_EQ(empty.buttons[0], (FloatingPanelButton{FloatingPanelButtonKind::mute, "microphone.fill", false, false}));
  EXPECT_EQ(empty.buttons[1], (FloatingPanelButton{FloatingPanelButtonKind::hangUp, "phone.down.fill", false, true}));

  FloatingCallPanelState video;
  video.calleeName = "Ann";
  video.isAudio = false;
  video.isMuted = true;
  video.isCameraOff = true;
  video.isConnected = true;
  video.timerText = "01:05";
  video.isDarkMode = false;
  const auto shown = presentFloatingCallPanel(video, strings);
  EXPECT_EQ(shown.name, "Ann");
  EXPECT_EQ(shown.typeText, "Video Call");
  EXPECT_EQ(shown.typeSymbol, "video.fill");
  EXPECT_EQ(shown.typeColour, floatingcolors::videoBlue);
  EXPECT_EQ(shown.timerText, "01:05");
  EXPECT_EQ(shown.timerColour, floatingcolors::green);
  EXPECT_EQ(shown.primaryText, floatingcolors::dark);
  ASSERT_EQ(shown.buttons.size(), 3u);
  EXPECT_EQ(shown.buttons[0].icon, "microphone.slash.fill");
  EXPECT_TRUE(shown.buttons[0].isActive);
  EXPECT_EQ(shown.buttons[1], (FloatingPanelButton{FloatingPanelButtonKind::camera, "video.slash.fill", true, false}));
  EXPECT_EQ(shown.buttons[2].kind, FloatingPanelButtonKind::hangUp);
}

TEST(FloatingCallPanelContent, ButtonLooksByStateAppearanceAndHover) {
  using namespace floatingcolors;
  const FloatingPanelButton inactive{FloatingPanelButtonKind::mute, "microphone.fill", false, false};
  const FloatingPanelButton active{FloatingPanelButtonKind::mute, "microphone.slash.fill", true, false};
  const FloatingPanelButton hangUp{FloatingPanelButtonKind::hangUp, "phone.down.fill", false, true};
  struct Case {
    const char* what;
    FloatingPanelButton button;
    bool dark, hovered;
    FloatingPanelButtonLook look;
  };
  const Case cases[] = {
      {"inactive, dark", inactive, true, false, {Rgba::white(0.14), Rgba::white()}},
      {"inactive, dark, hovered", inactive, true, true, {Rgba::white(0.22), Rgba::white()}},
      {"inactive, light", inactive, false, false, {dark.withAlpha(0.14), dark}},
      {"inactive, light, hovered", inactive, false, true, {dark.withAlpha(0.22), dark}},
      {"active, dark", active, true, false, {Rgba::white(0.88), dark}},
      {"active, dark, hovered", active, true, true, {Rgba::white(0.88), dark}},
      {"active, light", active, false, false, {dark, Rgba::white()}},
      {"hang up, hovered", hangUp, true, true, {danger, Rgba::white()}},
      {"hang up, light", hangUp, false, false, {danger, Rgba::white()}},
  };
  for (const Case& c : cases) EXPECT_EQ(floatingPanelButtonLook(c.button, c.dark, c.hovered), c.look) << c.what;
}

}  // namespace
}  // namespace orvik
