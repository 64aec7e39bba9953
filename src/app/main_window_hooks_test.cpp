#include "app/main_window_hooks.h"

#include <gtest/gtest.h>

#include "app/testing/log_capture.h"
#include "calls/control/test_support/recording_call_control.h"
#include "platform/dispatch/virtual_queue.h"

namespace orvik {
namespace {

// Records what happens to the window and the call, in one sequence.
struct Journal {
  std::vector<std::string> events;
};

class FakeWindow final : public MainWindowControl {
 public:
  explicit FakeWindow(Journal& journal) : journal_(journal) {}
  bool isFullScreen() const override { return fullScreen; }
  void exitFullScreen() override { journal_.events.push_back("exitFullScreen"); }
  void hide() override { journal_.events.push_back("hide"); }
  void minimize() override { journal_.events.push_back("minimize"); }
  void toggleMaximized() override { journal_.events.push_back("toggleMaximized"); }
  void lower() override { journal_.events.push_back("lower"); }
  void showWindowMenu() override { journal_.events.push_back("showWindowMenu"); }
  bool fullScreen = false;

 private:
  Journal& journal_;
};

class FakeCalls final : public testing::RecordingCallControl {
 public:
  explicit FakeCalls(Journal& journal) : journal_(journal) {}
  bool isCallActive() const override { return active; }
  void hangUpCurrentCall() override { journal_.events.push_back("hangUp"); }
  bool active = false;

 private:
  Journal& journal_;
};

class MainWindowCloseTest : public ::testing::Test {
 protected:
  platform::VirtualQueue queue;
  platform::ScopedMainQueue scoped{queue};
  Journal journal;
  FakeWindow window{journal};
  FakeCalls calls{journal};
  MainWindowCloseInterceptor interceptor{window, calls};
  orvik::testing::LogCapture log;
};

TEST_F(MainWindowCloseTest, TheCloseButtonHidesAWindowAtOnceAndNeverClosesIt) {
  EXPECT_FALSE(interceptor.handleMainWindowCloseButton());
  EXPECT_EQ(journal.events, std::vector<std::string>{"hide"});
  queue.advance(5);
  EXPECT_EQ(journal.events, std::vector<std::string>{"hide"});
  EXPECT_EQ(log.lines(),
            std::vector<std::string>{"[NATIVE] [MainWindow] red-X intercepted — hiding window instead of closing"});
}

TEST_F(MainWindowCloseTest, ACallInProgressIsHungUpBeforeTheWindowHides) {
  calls.active = true;
  EXPECT_FALSE(interceptor.handleMainWindowCloseButton());
  EXPECT_EQ(journal.events, (std::vector<std::string>{"hangUp", "hide"}));
  EXPECT_TRUE(log.contains("[NATIVE] [HomeView] main window closed during active call — hanging up"));
}

TEST_F(MainWindowCloseTest, AFullScreenWindowLeavesFullScreenThenHidesOnce) {
  window.fullScreen = true;
  EXPECT_FALSE(interceptor.handleMainWindowCloseButton());
  EXPECT_TRUE(journal.events.empty());  // the exit is queued, never done inside the handler
  queue.runUntilIdle();
  EXPECT_EQ(journal.events, std::vector<std::string>{"exitFullScreen"});
  window.fullScreen = false;
  interceptor.onFullScreenExited();
  queue.advance(5);
  interceptor.onFullScreenExited();
  EXPECT_EQ(journal.events, (std::vector<std::string>{"exitFullScreen", "hide"}));
  EXPECT_TRUE(log.contains("[NATIVE] [MainWindow] red-X while full screen — exiting full screen before hiding"));
  EXPECT_TRUE(log.contains("[NATIVE] [MainWindow] hiding after full screen exit (didExitFullScreen)"));
  EXPECT_FALSE(log.contains("[NATIVE] [MainWindow] hiding after full screen exit (fallback timeout)"));
}

TEST_F(MainWindowCloseTest, WithoutTheExitNotificationTheFallbackHidesAfterTwoSeconds) {
  window.fullScreen = true;
  (void)interceptor.handleMainWindowCloseButton();
  queue.advance(1.9);
  EXPECT_EQ(journal.events, std::vector<std::string>{"exitFullScreen"});
  queue.advance(0.1);
  EXPECT_EQ(journal.events, (std::vector<std::string>{"exitFullScreen", "hide"}));
  interceptor.onFullScreenExited();  // late: the window is already hidden
  EXPECT_EQ(journal.events, (std::vector<std::string>{"exitFullScreen", "hide"}));
  EXPECT_TRUE(log.contains("[NATIVE] [MainWindow] hiding after full screen exit (fallback timeout)"));
}

TEST_F(MainWindowCloseTest, LeavingFullScreenWithoutACloseHidesNothing) {
  interceptor.onFullScreenExited();
  EXPECT_TRUE(journal.events.empty());
}

TEST(TitlebarDoubleClick, FollowsTheDesktopSettingOutsideFullScreen) {
  using Action = TitlebarDoubleClickAction;
  struct Case {
    std::optional<std::string> setting;
    bool fullScreen;
    Action action;
  };
  const Case cases[] = {
      {"toggle-maximize", false, Action::toggleMaximize},
      {"toggle-maximize-vertically", false, Action::toggleMaximize},
      {std::nullopt, false, Action::toggleMaximize},
      {"minimize", false, Action::minimize},
      {"none", false, Action::none},
      {"lower", false, Action::lower},
      {"menu", false, Action::windowMenu},
      {"toggle-maximize", true, Action::none},
      {"minimize", true, Action::none},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(titlebarDoubleClickAction(c.setting, c.fullScreen), c.action)
        << c.setting.value_or("(absent)") << (c.fullScreen ? " in full screen" : "");
  }
  Journal journal;
  FakeWindow window(journal);
  performTitlebarDoubleClickAction(window, std::string("minimize"));
  performTitlebarDoubleClickAction(window, std::nullopt);
  performTitlebarDoubleClickAction(window, std::string("none"));
  EXPECT_EQ(journal.events, (std::vector<std::string>{"minimize", "toggleMaximized"}));
}

}  // namespace
}  // namespace orvik
