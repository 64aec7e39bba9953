// The pre-call window's real GTK window on an X display of the test's own
// with a window manager (openbox), on the real main loop and the frame
// generator camera: what the page's showPreCallUI for "alice_1234" shows,
// the camera and its toggles, "Busy" closing the window 2.5 s later, a
// redial within that time staying open, and a close by hand. A screenshot
// of each state is written to the test's output folder.
#include <gtest/gtest.h>
#include <gtkmm/button.h>
#include <gtkmm/window.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "calls/control/call_strings.h"
#include "calls/media/frame_generator_camera.h"
#include "calls/screens/call_icon.h"
#include "calls/screens/test_support/widget_tree.h"
#include "calls/windows/native_call_window.h"
#include "calls/windows/native_pre_call_window.h"
#include "calls/windows/pre_call_camera.h"
#include "calls/windows/pre_call_window_gtk.h"
#include "platform/dispatch/task_queue.h"
#include "platform/fake_capture_authorization.h"
#include "platform/recording_page_script_sink.h"
#include "calls/windows/test_support/openbox_display.h"
#include "platform/test_support/temp_dir.h"

#include <gtk/gtk.h>

namespace orvik {
namespace {

using Clock = std::chrono::steady_clock;
constexpr const char* kSuite = "PreCallWindowIntegration";

class PreCallWindowIntegration : public ::testing::Test {
 protected:
  void SetUp() override {
    const testing::OpenboxDisplay::Options screen{.home = home_.path()};
    if (auto why = testing::OpenboxDisplay::unavailable(screen)) GTEST_SKIP() << *why;
    if (!testing::startGtk()) GTEST_SKIP() << "no display to start GTK on";
    std::string error;
    openbox_ = testing::OpenboxDisplay::start(screen, error);
    ASSERT_TRUE(openbox_) << error;

    camera_ = std::make_unique<SourcePreCallCamera>(cameras_, platform::mainQueue());
    controller_ = NativePreCallWindow::create(
        {platform::mainQueue(), authorization_, strings_,
         [this, factory = PreCallWindowGtk::factory({strings_, ""})](
             const PreCallWindowSpec& windowSpec, PreCallControlState& state, CaptureSessionBox& box, PreCallActions a,
             PreCallWindowDelegate& delegate) {
           auto built = factory(windowSpec, state, box, std::move(a), delegate);
           window_ = static_cast<PreCallWindowGtk*>(built.get());
           return built;
         },
         camera_.get(), [] { return false; },
         [this] {
           ++callWindowCloses_;
           return false;
         }});
    controller_->setMainPage(page_);
  }

  void TearDown() override {
    controller_.reset();
    camera_.reset();
    // Closed windows are let go a second later: before their display goes.
    testing::iterateUntil([] { return false; }, 1.3);
    openbox_.reset();
  }

  // The page's showPreCallUI {"alice_1234", "+1 (555) 123-4567", isAudio}.
  PreCallWindowGtk* showAlice(bool isAudio) {
    window_ = nullptr;
    controller_->show("alice_1234", "+1 (555) 123-4567", "", isAudio);
    EXPECT_TRUE(testing::iterateUntil([&] { return window_ && gtk_widget_get_mapped(GTK_WIDGET(gtkWindow())); },
                                      20.0));
    return window_;
  }
  GtkWindow* gtkWindow() { return window_->window().gobj(); }
  std::vector<std::string> texts() {
    testing::settle(window_->window());
    return testing::shownTexts(window_->window());
  }
  bool shows(const std::string& text) {
    const auto all = texts();
    return std::find(all.begin(), all.end(), text) != all.end();
  }
  // The ringing status with any of its 1 to 3 dots, read once (the dots
  // move on while the window draws).
  bool showsCalling() {
    const auto all = texts();
    return std::any_of(all.begin(), all.end(), [](const std::string& text) {
      return text == "Calling." || text == "Calling.." || text == "Calling...";
    });
  }
  bool shown(const char* name) {
    Gtk::Widget* widget = testing::findByName(window_->window(), name);
    return widget && testing::isShown(*widget);
  }
  void screenshot(const std::string& name) {
    testing::settle(window_->window());
    testing::saveScreenshot(window_->window(), kSuite, name);
  }
  int notices() const {
    return static_cast<int>(
        std::count(page_->scripts.begin(), page_->scripts.end(), std::string(NativeCallWindow::kClosedNotice)));
  }

  orvik::testing::TempDir home_;
  std::unique_ptr<testing::OpenboxDisplay> openbox_;
  CallStrings strings_{[](const std::string&) {}};
  platform::FakeCaptureAuthorization authorization_;
  FrameGeneratorCamera cameras_;
  std::unique_ptr<SourcePreCallCamera> camera_;
  std::shared_ptr<platform::RecordingPageScriptSink> page_ = std::make_shared<platform::RecordingPageScriptSink>();
  int callWindowCloses_ = 0;
  PreCallWindowGtk* window_ = nullptr;
  std::shared_ptr<NativePreCallWindow> controller_;
};

TEST_F(PreCallWindowIntegration, AVideoPreCallShowsTheCalleeTheCameraAndClosesTwoAndAHalfSecondsAfterBusy) {
  ASSERT_TRUE(showAlice(false));
  EXPECT_EQ(window_->window().get_title(), "You are making a secure end to end encrypted call");
  EXPECT_TRUE(shows("alice"));
  EXPECT_TRUE(shows("OrvikID: 155 512 345 67"));
  EXPECT_TRUE(testing::iterateUntil([&] { return showsCalling(); }, 5.0));
  // The dots move on.
  const std::string before = window_->content().statusText;
  EXPECT_TRUE(testing::iterateUntil([&] { return window_->content().statusText != before; }, 5.0));
  // The camera runs: its picture fills the window, the callee chip is up.
  EXPECT_TRUE(testing::iterateUntil([&] { return shown("precall-preview"); }, 10.0));
  EXPECT_FALSE(shown("precall-camera-off"));
  EXPECT_TRUE(shown("precall-chip"));
  EXPECT_TRUE(testing::iterateUntil([&] { return gtk_window_is_active(gtkWindow()); }, 10.0));
  EXPECT_TRUE(testing::iterateUntil(
      [&] {
        return std::find(page_->scripts.begin(), page_->scripts.end(), callWindowFocusScript(true)) !=
               page_->scripts.end();
      },
      5.0))
      << "the main page hears that the call's window has the focus";
  screenshot("video-calling");

  // Camera off: the rings and the badge, no chip; the camera stops.
  testing::click(&window_->button(PreCallButton::camera));
  EXPECT_FALSE(shown("precall-preview"));
  EXPECT_TRUE(shown("precall-camera-off"));
  EXPECT_TRUE(shown("precall-rings"));
  EXPECT_FALSE(shown("precall-chip"));
  EXPECT_TRUE(shows("Camera off"));
  EXPECT_EQ(camera_->runningCount(), 0u);
  testing::click(&window_->button(PreCallButton::microphone));
  EXPECT_EQ(static_cast<CallIcon*>(window_->button(PreCallButton::microphone).get_child())->symbol(), "mic.slash.fill");
  const auto video = std::find(page_->scripts.begin(), page_->scripts.end(),
                               std::string(NativePreCallWindow::kToggleVideoScript));
  const auto mute = std::find(page_->scripts.begin(), page_->scripts.end(),
                              std::string(NativePreCallWindow::kToggleMuteScript));
  EXPECT_TRUE(video != page_->scripts.end() && mute != page_->scripts.end() && video < mute)
      << "the video toggle, then the mute toggle, reach the main page";
  screenshot("video-camera-off-muted");

  const auto busyAt = Clock::now();
  controller_->updateStatus("Busy");
  ASSERT_TRUE(testing::iterateUntil([&] { return shows("Busy"); }, 5.0));
  screenshot("video-busy");
  GtkWindow* busyWindow = gtkWindow();
  g_object_ref(busyWindow);
  ASSERT_TRUE(testing::iterateUntil([&] { return !controller_->hasWindow(); }, 15.0));
  const double closedAfter = std::chrono::duration<double>(Clock::now() - busyAt).count();
  EXPECT_GE(closedAfter, 2.45);
  EXPECT_FALSE(gtk_widget_get_visible(GTK_WIDGET(busyWindow)));
  g_object_unref(busyWindow);
  EXPECT_FALSE(controller_->isActive());
  EXPECT_EQ(callWindowCloses_, 0) << "closing on Busy leaves the web call window alone";
  EXPECT_EQ(notices(), 0);
}

TEST_F(PreCallWindowIntegration, ARedialWithinTheBusyDelayStaysOpen) {
  ASSERT_TRUE(showAlice(true));
  EXPECT_EQ(window_->window().get_title(), "Orvik – Audio Call");
  EXPECT_TRUE(shows("alice"));
  EXPECT_TRUE(shows("OrvikID: 155 512 345 67"));
  EXPECT_FALSE(shown("precall-camera"));
  screenshot("audio-calling");

  const auto busyAt = Clock::now();
  controller_->updateStatus("Busy");
  ASSERT_TRUE(testing::iterateUntil([&] { return window_->content().statusText == "Busy"; }, 2.0));
  // The redial comes a second after "Busy" (the drawing of a loaded machine
  // may take longer; it must still come well within the 2.5 s).
  testing::iterateUntil([&] { return Clock::now() - busyAt >= std::chrono::seconds(1); }, 2.0);
  ASSERT_LT(std::chrono::duration<double>(Clock::now() - busyAt).count(), 2.0);
  ASSERT_TRUE(controller_->hasWindow()) << "closed before its 2.5 s";

  ASSERT_TRUE(showAlice(true));
  PreCallWindowGtk* redialled = window_;
  testing::iterateUntil([] { return false; }, 3.0);
  EXPECT_TRUE(controller_->hasWindow());
  EXPECT_EQ(window_, redialled);
  EXPECT_TRUE(gtk_widget_get_visible(GTK_WIDGET(gtkWindow())));
  EXPECT_TRUE(showsCalling());
  screenshot("audio-redialled");
}

TEST_F(PreCallWindowIntegration, ClosingTheWindowByHandClosesTheCallWindowAndTellsThePageOnce) {
  ASSERT_TRUE(showAlice(true));
  gtk_window_close(gtkWindow());
  ASSERT_TRUE(testing::iterateUntil([&] { return notices() == 1; }, 5.0));
  EXPECT_FALSE(controller_->hasWindow());
  EXPECT_FALSE(controller_->isActive());
  EXPECT_EQ(callWindowCloses_, 1);
  testing::iterateUntil([] { return false; }, 0.3);
  EXPECT_EQ(notices(), 1);
}

TEST_F(PreCallWindowIntegration, HangingUpStopsTheCameraAndClosesTheWindow) {
  ASSERT_TRUE(showAlice(false));
  EXPECT_TRUE(testing::iterateUntil([&] { return camera_->runningCount() == 1; }, 10.0));
  testing::click(&window_->button(PreCallButton::endCall));
  EXPECT_EQ(camera_->runningCount(), 0u);
  EXPECT_FALSE(controller_->hasWindow());
  ASSERT_TRUE(testing::iterateUntil([&] { return notices() == 1; }, 5.0));
  EXPECT_EQ(callWindowCloses_, 1);
}

}  // namespace
}  // namespace orvik
