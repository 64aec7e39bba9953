// The incoming-call panel's controller against a recording call manager, a
// recording window and a camera whose sessions the test hands out, on
// virtual time; and its content as tables.
#include "calls/windows/incoming_call_panel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "calls/control/call_strings.h"
#include "calls/control/test_support/recording_call_control.h"
#include "calls/control/test_support/recording_call_ports.h"
#include "platform/dispatch/virtual_queue.h"

namespace orvik {
namespace {

using Lines = std::vector<std::string>;

class FakePanelWindow final : public IncomingCallPanelSurface {
 public:
  FakePanelWindow(Lines& log, IncomingCallPanelDelegate& delegate) : log_(log), delegate_(delegate) {}
  ~FakePanelWindow() override { log_.push_back("window destroyed"); }
  void reveal(bool capturable) override {
    log_.push_back(std::string("window reveal capturable=") + (capturable ? "true" : "false"));
  }
  void close() override { log_.push_back("window close"); }
  // The user clicks the window's close button.
  void userCloses() { delegate_.windowWillClose(); }

 private:
  Lines& log_;
  IncomingCallPanelDelegate& delegate_;
};

class FakeCamera final : public IncomingCameraPreview {
 public:
  explicit FakeCamera(Lines& log) : log_(log) {}
  void start(std::function<void(CameraSessionHandle)> ready) override {
    log_.push_back("camera start");
    pending.push_back(std::move(ready));
  }
  void stop(CameraSessionHandle session) override { log_.push_back("camera stop " + std::to_string(idOf(session))); }
  int idOf(const CameraSessionHandle& session) const { return ids.at(session.get()); }
  // The session `id` starts running and reaches the main queue.
  void run(std::size_t which, int id) {
    auto session = std::make_shared<CameraSessionRef>();
    sessions.push_back(session);
    ids[session.get()] = id;
    platform::mainQueue().post([ready = pending.at(which), session] { ready(session); });
  }
  std::vector<std::function<void(CameraSessionHandle)>> pending;
  std::vector<CameraSessionHandle> sessions;
  std::map<const CameraSessionRef*, int> ids;

 private:
  Lines& log_;
};

class IncomingCallPanelTest : public ::testing::Test {
 protected:
  IncomingCallPanelTest() {
    panel = IncomingCallPanel::create(
        {calls,
         [this](const IncomingCallPanelSpec& windowSpec, IncomingCallIdentityBox& identity, IncomingCallPanelActions a,
                IncomingCallPanelDelegate& delegate) -> std::unique_ptr<IncomingCallPanelSurface> {
           log.push_back("window built " + std::to_string(windowSpec.width) + "x" + std::to_string(windowSpec.height) +
                         " margin " + std::to_string(windowSpec.margin) + (windowSpec.isAudio ? " audio" : " video"));
           shown = &identity;
           actions = std::move(a);
           auto built = std::make_unique<FakePanelWindow>(log, delegate);
           window = built.get();
           return built;
         },
         &camera, [this](const std::string& line) { logged.push_back(line); }});
  }

  IncomingCallCallbacks recording() {
    return {[this] { log.push_back("accepted"); }, [this] { log.push_back("declined"); },
            [this] { log.push_back("missed"); }};
  }
  void showAndSettle(const IncomingCallRequest& request) {
    panel->show(request, recording());
    queue.runUntilIdle();
  }
  bool saw(const std::string& line) const { return std::find(log.begin(), log.end(), line) != log.end(); }
  int count(const std::string& line) const { return static_cast<int>(std::count(log.begin(), log.end(), line)); }

  Lines log;
  Lines logged;
  platform::VirtualQueue queue;
  platform::ScopedMainQueue main{queue};
  testing::RecordingCallControl calls;
  FakeCamera camera{log};
  IncomingCallPanelActions actions;
  IncomingCallIdentityBox* shown = nullptr;
  FakePanelWindow* window = nullptr;
  std::shared_ptr<IncomingCallPanel> panel;
};

TEST(IncomingCallContentTest, TextsAndSymbolsFollowTheIdentityAndTheKindOfCall) {
  CallStrings strings{[](const std::string&) {}};
  struct Case {
    const char* name;
    const char* number;
    bool subscribed;
    bool isAudio;
    const char* shownName;
    const char* idLine;
    const char* initial;
    const char* badge;
    const char* acceptSymbol;
  };
  const Case cases[] = {
      {"alice_1234", "15551234567", false, true, "alice", "OrvikID: 155 512 345 67", "A", "Incoming Audio Call",
       "phone.fill"},
      {"Bob", "", true, true, "Bob", " ", "B", "Incoming Audio Call", "phone.fill"},
      {"carol", "123", false, false, "carol", "OrvikID: 123", "C", "", "video.fill"},
      {"", "", false, true, "", " ", "?", "Incoming Audio Call", "phone.fill"},
  };
  for (const auto& c : cases) {
    IncomingCallIdentity identity{c.name, c.number, "", c.subscribed, nullptr};
    const auto content = presentIncomingCall(identity, c.isAudio, strings);
    EXPECT_EQ(content.shownName, c.shownName) << c.name;
    EXPECT_EQ(content.orvikIdLine, c.idLine) << c.name;
    EXPECT_EQ(content.avatarInitial, c.initial) << c.name;
    EXPECT_EQ(content.badge, c.badge) << c.name;
    EXPECT_EQ(content.acceptSymbol, c.acceptSymbol) << c.name;
    EXPECT_EQ(content.goldRing, c.subscribed) << c.name;
    EXPECT_EQ(content.showsPreviewPlaceholder, !c.isAudio) << c.name;
  }
  strings.setCallStrings(R"(setCallStrings:{"orvikidLabel":"ID de Orvik:"})");
  EXPECT_EQ(presentIncomingCall({"x", "1234", "", false, nullptr}, true, strings).orvikIdLine, "ID de Orvik: 123 4");
}

TEST(IncomingCallContentTest, ProperNames) {
  for (const char* name : {"", "Unknown", "Unknown Caller"}) EXPECT_FALSE(IncomingCallPanel::isProperName(name));
  for (const char* name : {"unknown", "Unknown caller", "Ann", " "}) EXPECT_TRUE(IncomingCallPanel::isProperName(name));
}

// What the window first shows, and whether it comes on screen at once.
TEST_F(IncomingCallPanelTest, TheIdentityRuleDecidesWhatIsShownAndWhenItIsRevealed) {
  struct Case {
    IncomingCallRequest request;
    IncomingCallIdentity shown;
    bool revealedAtOnce;
  };
  const Case cases[] = {
      {{"Ann", "815", "https://img.test/a.png", true, true, true, false},
       {"Ann", "815", "https://img.test/a.png", true, nullptr}, true},
      {{"Unknown Caller", "815", "", true, false, true, false}, {"Unknown Caller", "815", "", false, nullptr}, true},
      {{"Ann", "815", "https://img.test/a.png", true, true, true, true}, {"Ann", "", "", false, nullptr}, true},
      {{"Unknown", "815", "https://img.test/a.png", true, true, true, true},
       {"Unknown Caller", "", "", false, nullptr}, false},
      {{"", "", "", true, false, true, true}, {"Unknown Caller", "", "", false, nullptr}, false},
  };
  for (const auto& c : cases) {
    log.clear();
    showAndSettle(c.request);
    EXPECT_EQ(shown->state(), c.shown) << c.request.callerName;
    EXPECT_EQ(panel->isRevealed(), c.revealedAtOnce) << c.request.callerName;
    EXPECT_EQ(saw("window reveal capturable=false"), c.revealedAtOnce) << c.request.callerName;
  }
  EXPECT_EQ(logged.front(), "[IncomingCall] show() ENTER for 'Ann' (815) isAudio=true identityGuessed=false");
}

TEST_F(IncomingCallPanelTest, AnAudioCallIsRevealedAtOnceAndAnUnansweredRingEndsAsMissed) {
  calls.screenshotAccessAllowed = true;
  showAndSettle({"Ann", "815", "", true, false, true, false});
  EXPECT_EQ(log, (Lines{"window built 380x360 margin 16 audio", "window reveal capturable=true"}));
  queue.advance(IncomingCallPanel::kNoAnswerTimeout - 0.1);
  EXPECT_TRUE(panel->hasWindow());
  queue.advance(0.2);
  // A missed call: the caller is not told this user declined.
  EXPECT_FALSE(panel->hasWindow());
  EXPECT_EQ(count("missed"), 1);
  EXPECT_FALSE(saw("declined"));
  EXPECT_TRUE(calls.calls.empty());
}

TEST_F(IncomingCallPanelTest, AHiddenPanelWaitsForTheIdentityAtMostThreeSecondsAndTheRingTimerStartsAtTheReveal) {
  // Resolved in time: revealed at once.
  showAndSettle({"Unknown", "", "", true, false, true, true});
  queue.advance(1.0);
  EXPECT_FALSE(panel->isRevealed());
  panel->updateIdentity("Ann", "815", std::nullopt, std::nullopt);
  queue.runUntilIdle();
  EXPECT_FALSE(panel->isRevealed()) << "updateIdentity does not reveal";
  panel->identityResolved();
  queue.runUntilIdle();
  EXPECT_TRUE(panel->isRevealed());
  EXPECT_EQ(shown->state().callerName, "Ann");
  EXPECT_EQ(count("window reveal capturable=false"), 1);
  queue.advance(IncomingCallPanel::kRevealTimeout);
  EXPECT_EQ(count("window reveal capturable=false"), 1) << "the reveal time-out was cancelled";
  queue.advance(IncomingCallPanel::kNoAnswerTimeout - IncomingCallPanel::kRevealTimeout - 0.1);
  EXPECT_TRUE(panel->hasWindow()) << "the ring timer counts from the reveal";
  queue.advance(0.2);
  EXPECT_FALSE(panel->hasWindow());

  // Not resolved: revealed after 3 s with what is known.
  log.clear();
  showAndSettle({"Unknown", "", "", true, false, true, true});
  queue.advance(IncomingCallPanel::kRevealTimeout - 0.1);
  EXPECT_FALSE(saw("window reveal capturable=false"));
  queue.advance(0.2);
  EXPECT_TRUE(panel->isRevealed());
  EXPECT_EQ(shown->state().callerName, "Unknown Caller");
  queue.advance(IncomingCallPanel::kNoAnswerTimeout - 0.3);
  EXPECT_TRUE(panel->hasWindow());
  queue.advance(0.2);
  EXPECT_FALSE(panel->hasWindow());

  // Dismissed while hidden: never on screen, no callback.
  log.clear();
  showAndSettle({"Unknown", "", "", true, false, true, true});
  panel->dismiss();
  queue.advance(IncomingCallPanel::kRevealTimeout + 1.0);
  EXPECT_FALSE(saw("window reveal capturable=false"));
  EXPECT_FALSE(panel->hasWindow());
  EXPECT_FALSE(saw("declined") || saw("accepted") || saw("missed"));
}

// Which path runs which callback, exactly once, and whether the window is
// gone first.
TEST_F(IncomingCallPanelTest, EachAnswerPathRunsItsCallbackOnce) {
  showAndSettle({"Ann", "815", "", true, false, true, false});
  auto accept = actions.accept;
  accept();
  EXPECT_EQ(log, (Lines{"window built 380x360 margin 16 audio", "window reveal capturable=false", "window close",
                        "accepted"}));
  queue.runUntilIdle();
  EXPECT_EQ(log.back(), "window destroyed");
  accept();
  queue.advance(60.0);
  EXPECT_EQ(count("accepted"), 1);
  EXPECT_FALSE(saw("declined") || saw("missed"));

  log.clear();
  showAndSettle({"Ann", "815", "", true, false, true, false});
  auto decline = actions.decline;
  auto lateAccept = actions.accept;
  decline();
  EXPECT_TRUE(panel->hasWindow()) << "the window goes on the next turn";
  decline();
  lateAccept();
  queue.runUntilIdle();
  EXPECT_FALSE(panel->hasWindow());
  queue.advance(60.0);
  EXPECT_EQ(count("declined"), 1);
  EXPECT_FALSE(saw("accepted") || saw("missed"));

  log.clear();
  showAndSettle({"Ann", "815", "", true, false, true, false});
  window->userCloses();
  window->userCloses();
  queue.advance(60.0);
  EXPECT_EQ(count("declined"), 1);
  EXPECT_FALSE(panel->hasWindow());
  EXPECT_FALSE(saw("missed"));

  // A second show replaces the first without its callbacks.
  log.clear();
  showAndSettle({"Ann", "815", "", true, false, true, false});
  auto firstAccept = actions.accept;
  panel->show({"Bob", "4711", "", true, false, true, false}, {[this] { log.push_back("accepted Bob"); }, {}, {}});
  queue.runUntilIdle();
  firstAccept();
  EXPECT_FALSE(saw("accepted"));
  EXPECT_EQ(shown->state().callerName, "Bob");
  actions.accept();
  EXPECT_EQ(count("accepted Bob"), 1);
  EXPECT_FALSE(saw("declined"));
}

TEST_F(IncomingCallPanelTest, RingingCallsAnswerThroughTheCallManager) {
  panel->showForRingingCall({"Ann", "815", "", true, false, true, false});
  queue.runUntilIdle();
  actions.accept();
  panel->showForRingingCall({"Ann", "815", "", true, false, true, false});
  queue.runUntilIdle();
  actions.decline();
  queue.runUntilIdle();
  panel->showForRingingCall({"Ann", "815", "", true, false, true, false});
  queue.advance(IncomingCallPanel::kNoAnswerTimeout + 1.0);
  EXPECT_EQ(calls.calls, (Lines{"acceptCall", "rejectCall"}));
  EXPECT_FALSE(panel->hasWindow());
}

TEST_F(IncomingCallPanelTest, UpdateIdentityKeepsAbsentValuesAndNeedsAWindow) {
  panel->updateIdentity("Nobody", "1", std::string("x"), true);
  showAndSettle({"Ann", "815", "https://img.test/a.png", true, true, true, false});
  panel->updateIdentity("Ann Lee", "8150", std::nullopt, std::nullopt);
  EXPECT_EQ(shown->state(), (IncomingCallIdentity{"Ann Lee", "8150", "https://img.test/a.png", true, nullptr}));
  panel->updateIdentity("Ann Lee", "8150", std::string(""), false);
  EXPECT_EQ(shown->state(), (IncomingCallIdentity{"Ann Lee", "8150", "", false, nullptr}));
}

TEST_F(IncomingCallPanelTest, TheCameraPreviewStopsWithItsPanelAndALateOneStopsAtOnce) {
  showAndSettle({"Ann", "815", "", false, false, true, false});
  EXPECT_EQ(log, (Lines{"window built 380x410 margin 16 video", "camera start", "window reveal capturable=false"}));
  camera.run(0, 1);
  queue.runUntilIdle();
  ASSERT_TRUE(shown->state().preview);
  actions.accept();
  EXPECT_EQ(count("camera stop 1"), 1);
  EXPECT_EQ(log.back(), "accepted");

  // The panel goes before its camera has started: the session is stopped
  // when it arrives, and the next panel never shows it.
  log.clear();
  showAndSettle({"Ann", "815", "", false, false, true, false});
  panel->dismiss();
  queue.runUntilIdle();
  showAndSettle({"Bob", "4711", "", false, false, true, false});
  camera.run(1, 2);
  queue.runUntilIdle();
  EXPECT_EQ(count("camera stop 2"), 1);
  EXPECT_FALSE(shown->state().preview);
  camera.run(2, 3);
  queue.runUntilIdle();
  EXPECT_EQ(camera.idOf(shown->state().preview), 3);
  window->userCloses();
  EXPECT_EQ(count("camera stop 3"), 1);
  queue.runUntilIdle();
}

TEST_F(IncomingCallPanelTest, OperationsAfterThePanelIsGoneDoNothing) {
  showAndSettle({"Ann", "815", "", true, false, true, false});
  auto accept = actions.accept;
  panel->dismiss();
  panel.reset();
  queue.advance(60.0);
  accept();
  EXPECT_FALSE(saw("accepted") || saw("declined") || saw("missed"));
}

}  // namespace
}  // namespace orvik
