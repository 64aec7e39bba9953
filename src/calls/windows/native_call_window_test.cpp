#include "calls/windows/native_call_window.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include "calls/control/call_strings.h"
#include "platform/dispatch/virtual_queue.h"
#include "platform/fake_capture_authorization.h"
#include "platform/recording_page_script_sink.h"

namespace orvik {
namespace {

constexpr const char* kHidden = "📞 [NativeCallWindow] Video call — window hidden, waiting for cameraReady...";
constexpr const char* kRevealed = "📞 [NativeCallWindow] Window revealed — camera ready ✅";
constexpr const char* kFocusTrue =
    "window.__orvikCallWindowFocused = true\nwindow.dispatchEvent(new CustomEvent('orvikCallWindowFocusChanged'));";

// Real GTK windows (under Xvfb) on virtual time: the fail-safe and the queued
// steps run when the test says.
class NativeCallWindowIntegration : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { gtk_init(); }
  void SetUp() override { window.setMainPage(page); }

  static CallPageView newPage(bool isAudio) {
    auto* view = WEBKIT_WEB_VIEW(webkit_web_view_new());
    g_object_ref_sink(view);
    return CallPageView{view, isAudio, [] { return true; }};
  }
  bool visible() const { return window.window() && gtk_widget_get_visible(GTK_WIDGET(window.window())); }

  platform::VirtualQueue queue;
  platform::ScopedMainQueue main{queue};
  platform::FakeCaptureAuthorization authorization;
  CallStrings strings;
  std::vector<std::string> printed;
  std::shared_ptr<platform::RecordingPageScriptSink> page = std::make_shared<platform::RecordingPageScriptSink>();
  NativeCallWindow window{{queue, authorization, strings, [] { return false; },
                           [this](const std::string& line) { printed.push_back(line); },
                           NativeCallWindow::kVideoFailSafeSeconds}};
};

TEST_F(NativeCallWindowIntegration, AVideoWindowShowsAfterFourSecondsWithoutCameraReadyAndAnAudioOneAtOnce) {
  window.showWindow(newPage(false));
  queue.runUntilIdle();
  ASSERT_NE(window.window(), nullptr);
  EXPECT_FALSE(visible());
  queue.advance(3.9);
  EXPECT_FALSE(visible());
  queue.advance(0.1);
  EXPECT_TRUE(visible());
  EXPECT_EQ(printed, (std::vector<std::string>{kHidden, kRevealed}));
  window.cameraReady();
  queue.runUntilIdle();
  EXPECT_EQ(printed.size(), 2u) << "a window already shown is left alone";

  window.showWindow(newPage(true));
  queue.runUntilIdle();
  EXPECT_TRUE(visible());
  EXPECT_EQ(gtk_window_get_title(window.window()), std::string(NativeCallWindow::kAudioTitle));
}

TEST_F(NativeCallWindowIntegration, AClosedWindowsFailSafeNeverRevealsTheNextWindow) {
  window.showWindow(newPage(false));
  queue.advance(1.0);
  window.closeWindow();
  window.showWindow(newPage(false));
  queue.runUntilIdle();
  queue.advance(3.0);  // the first window's fail-safe would fire now
  EXPECT_FALSE(visible());
  queue.advance(1.0);
  EXPECT_TRUE(visible());
}

TEST_F(NativeCallWindowIntegration, CameraReadyShowsTheHiddenWindowAndRevealReportsTheFocus) {
  window.showWindow(newPage(false));
  queue.runUntilIdle();
  window.cameraReady();
  queue.runUntilIdle();
  EXPECT_TRUE(visible());
  EXPECT_EQ(printed, (std::vector<std::string>{kHidden, kRevealed}));
  page->scripts.clear();
  window.revealWindow();
  queue.runUntilIdle();
  EXPECT_EQ(page->scripts, std::vector<std::string>{kFocusTrue});
  queue.advance(10.0);
  EXPECT_EQ(printed.size(), 2u) << "the cancelled fail-safe prints nothing";
}

TEST_F(NativeCallWindowIntegration, EveryCloseSendsTheClosedNoticeOnceThenTheFocus) {
  window.showWindow(newPage(true));
  queue.runUntilIdle();
  GtkWindow* first = window.window();
  window.showWindow(newPage(true));  // replaces the first, with its notices
  queue.runUntilIdle();
  EXPECT_NE(window.window(), first);
  EXPECT_EQ(page->scripts, (std::vector<std::string>{NativeCallWindow::kClosedNotice, kFocusTrue}));

  page->scripts.clear();
  gtk_window_close(window.window());  // the user's close button
  queue.runUntilIdle();
  EXPECT_EQ(window.window(), nullptr);
  window.closeWindow();
  queue.runUntilIdle();
  EXPECT_EQ(page->scripts, (std::vector<std::string>{NativeCallWindow::kClosedNotice, kFocusTrue}));
}

TEST_F(NativeCallWindowIntegration, WithoutAWindowEveryOperationDoesNothing) {
  window.closeWindow();
  window.bringToFront();
  window.cameraReady();
  window.revealWindow();
  window.evaluateInCallWindow("window.x = 1;");
  queue.runUntilIdle();
  EXPECT_EQ(window.window(), nullptr);
  EXPECT_TRUE(page->scripts.empty());
  EXPECT_TRUE(printed.empty());
}

}  // namespace
}  // namespace orvik
