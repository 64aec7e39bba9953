// The incoming-call panel's real window on an X display of the test's own
// with a window manager (openbox): an incoming call shows the panel at the
// top right of the work area, above the main window, on every desktop and
// without taking the focus; Accept reaches the call manager and closes it.
// A screenshot of each state is written to the test's output folder.
#include <gtest/gtest.h>
#include <gtkmm/button.h>
#include <gtkmm/window.h>

#include <algorithm>
#include <string>
#include <vector>

// gtkmm and GoogleTest first: Xlib's macros come after them.
#include "calls/control/call_strings.h"
#include "calls/control/test_support/recording_call_control.h"
#include "calls/media/call_peer_connection_internal.h"
#include "calls/media/camera_source.h"
#include "calls/screens/test_support/synthetic_video_source.h"
#include "calls/screens/test_support/widget_tree.h"
#include "calls/windows/incoming_call_panel.h"
#include "calls/windows/incoming_call_panel_gtk.h"
#include "platform/test_support/background_process.h"
#include "platform/test_support/subprocess.h"
#include "platform/test_support/temp_dir.h"
#include "platform/window_placement.h"
#include "calls/windows/test_support/openbox_display.h"
#include "calls/windows/test_support/x11_window_lists.h"

#include <gdk/x11/gdkx.h>
#include <gtk/gtk.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace orvik {
namespace {

// A camera that is running at once, its frames delivered by the test.
class RunningCamera final : public IncomingCameraPreview {
 public:
  void start(std::function<void(CameraSessionHandle)> ready) override {
    ready(session);
    ++starts;
  }
  void stop(CameraSessionHandle stopped) override { stops += stopped == session ? 1 : 0; }

  rtc::scoped_refptr<testing::SyntheticVideoSource> source = rtc::make_ref_counted<testing::SyntheticVideoSource>(64, 48);
  CameraSessionHandle session =
      std::make_shared<CameraSessionRef>(CameraSessionRef{std::make_shared<VideoSourceRef>(VideoSourceRef{source})});
  int starts = 0;
  int stops = 0;
};

using orvik::testing::BackgroundProcess;

using orvik::testing::windowList;

class IncomingCallPanelIntegration : public ::testing::Test {
 protected:
  void SetUp() override {
    const testing::OpenboxDisplay::Options screen{.home = home_.path()};
    if (auto why = testing::OpenboxDisplay::unavailable(screen)) GTEST_SKIP() << *why;
    if (!testing::startGtk()) GTEST_SKIP() << "no display to start GTK on";
    std::string error;
    openbox_ = testing::OpenboxDisplay::start(screen, error);
    ASSERT_TRUE(openbox_) << error;
    xdisplay_ = openbox_->x();
    placement_ = platform::makeWindowPlacement();
  }

  void TearDown() override {
    panel_.reset();
    if (main_) gtk_window_destroy(main_);
    testing::iterateUntil([] { return false; }, 0.2);
    openbox_.reset();
  }

  ::Window xid(GtkWindow* window) { return openbox_->xid(window); }
  bool managed(GtkWindow* window) { return openbox_->managed(window); }
  bool isAbove(GtkWindow* upper, GtkWindow* lower) { return openbox_->isAbove(upper, lower); }
  bool hasState(GtkWindow* window, const char* state) { return openbox_->hasState(window, state); }
  // The window's client area on the root window: left, top, right.
  std::vector<int> placeOf(GtkWindow* window) {
    int x = 0, y = 0;
    ::Window child = None;
    XTranslateCoordinates(xdisplay_, xid(window), DefaultRootWindow(xdisplay_), 0, 0, &x, &y, &child);
    return {x, y, x + gtk_widget_get_width(GTK_WIDGET(window))};
  }

  orvik::testing::TempDir home_;
  std::unique_ptr<testing::OpenboxDisplay> openbox_;
  ::Display* xdisplay_ = nullptr;
  std::unique_ptr<platform::WindowPlacement> placement_;
  GtkWindow* main_ = nullptr;
  CallStrings strings_{[](const std::string&) {}};
  testing::RecordingCallControl calls_;
  RunningCamera camera_;
  IncomingCallPanelGtk* window_ = nullptr;
  std::shared_ptr<IncomingCallPanel> panel_;
};

TEST_F(IncomingCallPanelIntegration, ARingingCallShowsThePanelAtTheTopRightAboveTheMainWindowWithoutTheFocus) {
  main_ = GTK_WINDOW(gtk_window_new());
  gtk_window_set_title(main_, "main");
  gtk_window_set_default_size(main_, 900, 700);
  gtk_window_present(main_);
  // When the window manager does not manage a plain window, the machine's
  // window manager is at fault, not the panel.
  if (!testing::iterateUntil([&] { return managed(main_) && gtk_window_is_active(main_); }, 20.0)) {
    GTEST_SKIP() << "openbox did not manage a plain window within 20 s";
  }

  auto gtkFactory = IncomingCallPanelGtk::factory({*placement_, strings_, ""});
  panel_ = IncomingCallPanel::create(
      {calls_, [&](const IncomingCallPanelSpec& windowSpec, IncomingCallIdentityBox& identity, IncomingCallPanelActions a,
                   IncomingCallPanelDelegate& delegate) {
         auto built = gtkFactory(windowSpec, identity, std::move(a), delegate);
         window_ = static_cast<IncomingCallPanelGtk*>(built.get());
         return built;
       },
       &camera_, [](const std::string&) {}});
  panel_->showForRingingCall({"alice_1234", "15551234567", "", true, true, true, false});
  ASSERT_TRUE(testing::iterateUntil([&] { return window_ && managed(window_->window().gobj()); }, 20.0));
  GtkWindow* shown = window_->window().gobj();
  ASSERT_TRUE(testing::iterateUntil([&] { return hasState(shown, "_NET_WM_STATE_ABOVE"); }, 10.0));
  testing::iterateUntil([] { return false; }, 0.5);

  EXPECT_TRUE(gtk_window_is_active(main_));
  EXPECT_FALSE(gtk_window_is_active(shown));
  EXPECT_TRUE(isAbove(shown, main_));
  const auto desktop = windowList(xdisplay_, xid(shown), "_NET_WM_DESKTOP", XA_CARDINAL);
  ASSERT_EQ(desktop.size(), 1u);
  EXPECT_EQ(desktop[0] & 0xFFFFFFFFul, 0xFFFFFFFFul) << "on every desktop";
  const auto place = placeOf(shown);
  // 16 pixels inside the corner, give or take the window manager's frame.
  EXPECT_NEAR(place[2], 1280 - 16, 12) << "left " << place[0] << " top " << place[1];
  EXPECT_GE(place[1], 16);
  EXPECT_LE(place[1], 16 + 40);

  Gtk::Window& gtkWindow = window_->window();
  testing::settle(gtkWindow);
  const auto texts = testing::shownTexts(gtkWindow);
  for (const char* text : {"alice", "OrvikID: 155 512 345 67", "Incoming Audio Call", "Decline", "Accept"}) {
    EXPECT_NE(std::find(texts.begin(), texts.end(), text), texts.end()) << text;
  }
  testing::saveScreenshot(gtkWindow, "IncomingCallPanelIntegration", "audio-ringing");

  // The caller is confirmed as subscribed while it rings.
  panel_->updateIdentity("alice_1234", "15551234567", std::nullopt, true);
  testing::settle(gtkWindow);
  testing::saveScreenshot(gtkWindow, "IncomingCallPanelIntegration", "audio-ringing-subscribed");

  testing::click(&window_->acceptButton());
  EXPECT_EQ(calls_.calls, (std::vector<std::string>{"acceptCall"}));
  EXPECT_FALSE(panel_->hasWindow());
  EXPECT_TRUE(gtk_window_is_active(main_));

  // A video call: the taller panel with the camera's place.
  window_ = nullptr;
  panel_->showForRingingCall({"bob", "4711", "", false, false, true, false});
  ASSERT_TRUE(testing::iterateUntil([&] { return window_ && managed(window_->window().gobj()); }, 20.0));
  testing::settle(window_->window());
  EXPECT_NE(testing::findByName(window_->window(), "incoming-preview"), nullptr);
  EXPECT_EQ(testing::findByName(window_->window(), "incoming-badge"), nullptr);
  // The running camera shows in the preview's place.
  camera_.source->start(20);
  auto* preview = testing::findByName(window_->window(), "incoming-camera-preview");
  ASSERT_NE(preview, nullptr);
  EXPECT_TRUE(testing::iterateUntil([&] { return preview->get_visible() && preview->get_mapped(); }, 5.0));
  EXPECT_EQ(camera_.starts, 1);
  testing::iterateUntil([] { return false; }, 0.5);
  testing::saveScreenshot(window_->window(), "IncomingCallPanelIntegration", "video-ringing");
  camera_.source->stop();
  testing::click(&window_->declineButton());
  testing::iterateUntil([&] { return !panel_->hasWindow(); }, 5.0);
  EXPECT_EQ(calls_.calls, (std::vector<std::string>{"acceptCall", "rejectCall"}));
  EXPECT_FALSE(panel_->hasWindow());
  // Declining stops the camera.
  EXPECT_TRUE(testing::iterateUntil([&] { return camera_.stops == 1; }, 5.0));
}

}  // namespace
}  // namespace orvik
