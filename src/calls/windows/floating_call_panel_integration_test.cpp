// The floating return-to-call panel on an X display of the test's own with
// a window manager (openbox), with the real audio call window and a main
// window: clicking the main window over the call window shows the panel at
// the top right above everything; bringing the call window back in front
// hides it; clicking the panel raises the call window; another program's
// window over the call window shows the panel while the program is inactive.
// The pointer presses real pixels through XTest. A picture of the screen in
// each state, and of the card, is written to the test's output folder.
#include <gtest/gtest.h>
#include <gtkmm/button.h>
#include <gtkmm/window.h>

#include <algorithm>
#include <string>
#include <vector>

// gtkmm and GoogleTest first: Xlib's macros come after them.
#include "calls/control/call_ports.h"
#include "calls/control/call_strings.h"
#include "calls/control/test_support/recording_call_control.h"
#include "calls/screens/test_support/widget_tree.h"
#include "calls/windows/audio_call_window_gtk.h"
#include "calls/windows/floating_call_panel_gtk.h"
#include "calls/windows/floating_panel_host_gtk.h"
#include "calls/windows/native_audio_call_window.h"
#include "calls/windows/native_call_floating_panel.h"
#include "platform/capture_authorization.h"
#include "platform/dispatch/task_queue.h"
#include "platform/test_support/background_process.h"
#include "platform/test_support/subprocess.h"
#include "platform/test_support/temp_dir.h"
#include "platform/window_placement.h"
#include "calls/windows/test_support/openbox_display.h"
#include "calls/windows/test_support/x11_window_lists.h"

#include <cairo.h>
#include <gdk/x11/gdkx.h>
#include <gtk/gtk.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

namespace orvik {
namespace {

using orvik::testing::BackgroundProcess;
constexpr const char* kSuite = "FloatingCallPanelIntegration";

using orvik::testing::windowList;

class AlwaysAuthorized final : public platform::CaptureAuthorization {
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

class FloatingCallPanelIntegration : public ::testing::Test {
 protected:
  void SetUp() override {
    const testing::OpenboxDisplay::Options screen{.home = home_.path()};
    if (auto why = testing::OpenboxDisplay::unavailable(screen)) GTEST_SKIP() << *why;
    if (!testing::startGtk()) GTEST_SKIP() << "no display to start GTK on";
    std::string error;
    openbox_ = testing::OpenboxDisplay::start(screen, error);
    ASSERT_TRUE(openbox_) << error;
    xdisplay_ = openbox_->x();
    int event = 0, errorBase = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(xdisplay_, &event, &errorBase, &major, &minor)) GTEST_SKIP() << "no XTest on Xvfb";
    placement_ = platform::makeWindowPlacement();
  }

  void TearDown() override {
    panel_.reset();
    host_.reset();
    audio_.reset();
    if (foreign_) {
      XDestroyWindow(foreign_, foreignWindow_);
      XCloseDisplay(foreign_);
    }
    if (main_) gtk_window_destroy(main_);
    testing::iterateUntil([] { return false; }, 0.2);
    openbox_.reset();
  }

  ::Window xid(GtkWindow* window) { return openbox_->xid(window); }
  bool managed(GtkWindow* window) { return openbox_->managed(window); }
  bool isAbove(::Window upper, ::Window lower) {
    const auto order = windowList(xdisplay_, DefaultRootWindow(xdisplay_), "_NET_CLIENT_LIST_STACKING", XA_WINDOW);
    const auto u = std::find(order.begin(), order.end(), upper);
    const auto l = std::find(order.begin(), order.end(), lower);
    return u != order.end() && l != order.end() && u > l;
  }
  // The window's client area on the screen.
  platform::WindowFrame frameOf(::Window window) {
    int x = 0, y = 0;
    ::Window child = None;
    XWindowAttributes attributes{};
    XGetWindowAttributes(xdisplay_, window, &attributes);
    XTranslateCoordinates(xdisplay_, window, DefaultRootWindow(xdisplay_), 0, 0, &x, &y, &child);
    return {x, y, attributes.width, attributes.height};
  }
  // A left click on the screen, as a person's pointer makes it.
  void clickAt(int x, int y) {
    XTestFakeMotionEvent(xdisplay_, -1, x, y, CurrentTime);
    XTestFakeButtonEvent(xdisplay_, 1, True, CurrentTime);
    XTestFakeButtonEvent(xdisplay_, 1, False, CurrentTime);
    XFlush(xdisplay_);
  }
  bool panelShown() {
    return panelWindow_ && gtk_widget_get_mapped(GTK_WIDGET(panelWindow_->window().gobj())) &&
           managed(panelWindow_->window().gobj());
  }
  // The whole screen as it is now, next to the widget pictures.
  void screenshot(const std::string& name) {
    testing::iterateUntil([] { return false; }, 0.3);
    const int width = DisplayWidth(xdisplay_, DefaultScreen(xdisplay_));
    const int height = DisplayHeight(xdisplay_, DefaultScreen(xdisplay_));
    XImage* image = XGetImage(xdisplay_, DefaultRootWindow(xdisplay_), 0, 0, width, height, AllPlanes, ZPixmap);
    ASSERT_NE(image, nullptr);
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
    unsigned char* pixels = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    for (int y = 0; y < height; ++y) {
      auto* row = reinterpret_cast<std::uint32_t*>(pixels + y * stride);
      for (int x = 0; x < width; ++x) row[x] = static_cast<std::uint32_t>(XGetPixel(image, x, y)) & 0xFFFFFF;
    }
    cairo_surface_mark_dirty(surface);
    const auto folder = std::filesystem::path(ORVIK_BINARY_DIR) / "test-output" / kSuite;
    std::filesystem::create_directories(folder);
    EXPECT_EQ(cairo_surface_write_to_png(surface, (folder / (name + ".png")).c_str()), CAIRO_STATUS_SUCCESS) << name;
    cairo_surface_destroy(surface);
    XDestroyImage(image);
  }

  // A main window over most of the screen, the audio call window of a
  // connected call in front of it, and the floating panel's controller.
  bool startCall() {
    main_ = GTK_WINDOW(gtk_window_new());
    gtk_window_set_title(main_, "main");
    gtk_window_set_default_size(main_, 1180, 800);
    setMainColour();
    gtk_window_present(main_);
    if (!testing::iterateUntil([&] { return managed(main_) && gtk_window_is_active(main_); }, 20.0)) return false;

    audio_ = NativeAudioCallWindow::create(
        {calls_, authorization_, strings_, nullptr, *forward_, alerts_,
         [this](const AudioCallWindowSetup& setup, AudioCallViewModel& model, AudioCallActions actions,
                AudioCallWindowDelegate& delegate) -> std::unique_ptr<AudioCallWindowSurface> {
           auto built = std::make_unique<AudioCallWindowGtk>(AudioCallWindowGtk::Context{*placement_, strings_, {}},
                                                             setup, model, std::move(actions), delegate);
           callWindow_ = built.get();
           return built;
         },
         [](const std::string&) {}});
    FloatingPanelHostGtk::Windows windows;
    windows.audioCallWindow = [this]() -> GtkWindow* {
      return audio_ && audio_->hasWindow() && callWindow_ ? callWindow_->window().gobj() : nullptr;
    };
    windows.mainWindows = [this] { return main_ ? std::vector<GtkWindow*>{main_} : std::vector<GtkWindow*>{}; };
    windows.raiseCallWindows = [this] {
      if (audio_) audio_->raiseAboveAppWindows();
    };
    host_ = std::make_unique<FloatingPanelHostGtk>(platform::mainQueue(), *placement_, windows);
    auto factory = FloatingCallPanelGtk::factory({*placement_, strings_, ""});
    panel_ = NativeCallFloatingPanel::create(
        {platform::mainQueue(), calls_, strings_, nullptr, *host_,
         [this, factory](const FloatingPanelSpec& windowSpec, FloatingCallPanelModel& model, FloatingPanelActions actions) {
           auto built = factory(windowSpec, model, std::move(actions));
           panelWindow_ = static_cast<FloatingCallPanelGtk*>(built.get());
           return built;
         },
         {}, [this](const std::string& line) { lines_.push_back(line); }});
    forward_->target = panel_.get();

    calls_.state = CallState(CallState::Kind::connected);
    audio_->open({"Bob", "4711", "", false, true, /*connecting*/ true, /*outgoing*/ false});
    if (!testing::iterateUntil([&] { return callWindow_ && managed(callWindow_->window().gobj()); }, 20.0)) {
      return false;
    }
    panel_->callDidStart("Bob", "", true, false);
    panel_->model().update([](FloatingCallPanelState& s) {
      s.isConnected = true;
      s.timerText = "00:42";
    });
    return testing::iterateUntil([&] { return isAbove(callXid(), mainXid()); }, 10.0);
  }
  void setMainColour() {
    GtkCssProvider* css = gtk_css_provider_new();
    gtk_css_provider_load_from_data(css, "window { background: #dde3ea; }", -1);
    gtk_style_context_add_provider(gtk_widget_get_style_context(GTK_WIDGET(main_)), GTK_STYLE_PROVIDER(css),
                                   GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(css);
  }
  ::Window callXid() { return xid(callWindow_->window().gobj()); }
  ::Window mainXid() { return xid(main_); }
  // A point of the main window that the call window does not cover.
  std::pair<int, int> bareMainPoint() {
    const auto main = frameOf(mainXid());
    const auto call = frameOf(callXid());
    for (int y = main.y + 10; y < main.y + main.height; y += 20) {
      for (int x = main.x + 10; x < main.x + main.width; x += 20) {
        const bool inCall = x >= call.x && x < call.x + call.width && y >= call.y && y < call.y + call.height;
        const bool inPanel = x > 900 && y < 120;
        if (!inCall && !inPanel) return {x, y};
      }
    }
    return {main.x + 5, main.y + 5};
  }
  bool logged(const std::string& line) const {
    return std::find(lines_.begin(), lines_.end(), line) != lines_.end();
  }

  // The audio window is built before the panel it reports to.
  struct ForwardingControl final : FloatingCallPanelControl {
    void hide() override {
      if (target) target->hide();
    }
    void showIfNeeded() override {
      if (target) target->showIfNeeded();
    }
    void setSuppressAutoShow(bool suppressed) override {
      if (target) target->setSuppressAutoShow(suppressed);
    }
    FloatingCallPanelControl* target = nullptr;
  };

  orvik::testing::TempDir home_;
  std::unique_ptr<testing::OpenboxDisplay> openbox_;
  ::Display* xdisplay_ = nullptr;
  ::Display* foreign_ = nullptr;
  ::Window foreignWindow_ = None;
  std::unique_ptr<platform::WindowPlacement> placement_;
  GtkWindow* main_ = nullptr;
  CallStrings strings_{[](const std::string&) {}};
  testing::RecordingCallControl calls_;
  AlwaysAuthorized authorization_;
  NoAlerts alerts_;
  std::unique_ptr<ForwardingControl> forward_ = std::make_unique<ForwardingControl>();
  std::shared_ptr<NativeAudioCallWindow> audio_;
  AudioCallWindowGtk* callWindow_ = nullptr;
  std::unique_ptr<FloatingPanelHostGtk> host_;
  FloatingCallPanelGtk* panelWindow_ = nullptr;
  std::shared_ptr<NativeCallFloatingPanel> panel_;
  std::vector<std::string> lines_;
};

TEST_F(FloatingCallPanelIntegration, TheMainWindowOverTheCallWindowShowsThePanelAndReturningToTheCallRaisesIt) {
  if (!startCall()) GTEST_SKIP() << "openbox did not manage the windows within 20 s";
  EXPECT_TRUE(gtk_window_is_active(main_)) << "the call window never takes the focus";
  testing::iterateUntil([] { return false; }, 0.5);
  EXPECT_FALSE(panelShown()) << "nothing to return to while the call window is in front";
  screenshot("1-call-window-in-front");

  // The user clicks the main window: it comes over the call window.
  const auto [x, y] = bareMainPoint();
  clickAt(x, y);
  ASSERT_TRUE(testing::iterateUntil([&] { return panelShown(); }, 10.0)) << "clicked at " << x << "," << y;
  ASSERT_TRUE(testing::iterateUntil([&] { return isAbove(mainXid(), callXid()); }, 5.0));
  // The front watch keeps it while the call window stays behind.
  testing::iterateUntil([] { return false; }, 1.0);
  EXPECT_TRUE(panelShown());
  GtkWindow* panelWindow = panelWindow_->window().gobj();
  EXPECT_TRUE(isAbove(xid(panelWindow), mainXid()));
  EXPECT_FALSE(gtk_window_is_active(panelWindow));
  const auto place = frameOf(xid(panelWindow));
  EXPECT_NEAR(place.x + place.width, 1280 - NativeCallFloatingPanel::kMargin, 12)
      << "left " << place.x << " top " << place.y;
  EXPECT_LE(place.y, NativeCallFloatingPanel::kMargin + 40);
  EXPECT_EQ(place.width, NativeCallFloatingPanel::kWidth);
  EXPECT_EQ(place.height, NativeCallFloatingPanel::kHeight);
  const auto texts = testing::shownTexts(panelWindow_->window());
  for (const char* text : {"Bob", "Audio Call", "00:42"}) {
    EXPECT_NE(std::find(texts.begin(), texts.end(), text), texts.end()) << text;
  }
  EXPECT_EQ(panelWindow_->view().shownButtons().size(), 2u) << "mute and hang up";
  screenshot("2-main-window-over-the-call-panel-shown");
  testing::saveScreenshot(panelWindow_->window(), kSuite, "card-dark-connected");

  // The card's mute button reaches the call manager.
  testing::click(&panelWindow_->view().muteButton());
  EXPECT_EQ(calls_.calls, std::vector<std::string>{"setMuted true"});
  testing::settle(panelWindow_->window());
  testing::saveScreenshot(panelWindow_->window(), kSuite, "card-dark-muted");
  panel_->model().update([](FloatingCallPanelState& s) { s.isDarkMode = false; });
  testing::settle(panelWindow_->window());
  testing::saveScreenshot(panelWindow_->window(), kSuite, "card-light-muted");
  panel_->model().update([](FloatingCallPanelState& s) { s.isDarkMode = true; });

  // The user clicks the card's name: the call window comes back in front.
  const auto card = frameOf(xid(panelWindow));
  clickAt(card.x + 60, card.y + card.height / 2);
  ASSERT_TRUE(testing::iterateUntil([&] { return !panelShown(); }, 10.0));
  ASSERT_TRUE(testing::iterateUntil([&] { return isAbove(callXid(), mainXid()); }, 5.0));
  testing::iterateUntil([] { return false; }, NativeCallFloatingPanel::kReturnRaiseDelay + 0.3);
  EXPECT_TRUE(isAbove(callXid(), mainXid()));
  EXPECT_FALSE(panelShown());
  EXPECT_EQ(calls_.calls, std::vector<std::string>{"setMuted true"}) << "returning ends nothing";
  screenshot("3-returned-to-the-call");

  // Covered again, then the call window comes in front by other means: the
  // front watch takes the panel away.
  const auto [x2, y2] = bareMainPoint();
  clickAt(x2, y2);
  ASSERT_TRUE(testing::iterateUntil([&] { return panelShown(); }, 10.0));
  audio_->bringToFront();
  ASSERT_TRUE(testing::iterateUntil([&] { return !panelShown(); }, 5.0));
  EXPECT_TRUE(isAbove(callXid(), mainXid()));
  screenshot("4-call-window-in-front-again-panel-gone");

  // The call ends: the panel goes for good.
  panel_->callDidEnd();
  EXPECT_FALSE(panel_->hasPanel());
}

TEST_F(FloatingCallPanelIntegration, AnotherProgramOverTheCallWindowShowsThePanelUntilTheCallWindowIsInSightAgain) {
  if (!startCall()) GTEST_SKIP() << "openbox did not manage the windows within 20 s";
  // Another program's window over the whole screen takes the focus.
  foreign_ = XOpenDisplay(openbox_->name().c_str());
  ASSERT_NE(foreign_, nullptr);
  foreignWindow_ = XCreateSimpleWindow(foreign_, DefaultRootWindow(foreign_), 0, 0, 1280, 900, 0, 0, 0x303030);
  XStoreName(foreign_, foreignWindow_, "another program");
  XMapRaised(foreign_, foreignWindow_);
  XFlush(foreign_);
  if (!testing::iterateUntil([&] { return !gtk_window_is_active(main_); }, 10.0)) {
    GTEST_SKIP() << "openbox did not focus the other program's window";
  }
  ASSERT_TRUE(testing::iterateUntil([&] { return panelShown(); }, 10.0));
  screenshot("5-other-program-over-the-call-panel-shown");

  // The other program's window goes away while the program stays inactive:
  // the call window is in sight again.
  XUnmapWindow(foreign_, foreignWindow_);
  XFlush(foreign_);
  ASSERT_TRUE(testing::iterateUntil([&] { return !panelShown(); }, 10.0));
  screenshot("6-call-window-in-sight-panel-gone");
}

}  // namespace
}  // namespace orvik
