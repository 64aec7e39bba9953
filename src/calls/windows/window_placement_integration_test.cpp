// The X11 window placement that the call windows use, on an X display of
// the test's own with a window manager (openbox): a call window shown
// without activation leaves the main window active, comes in front of it,
// and floats above other windows while kept above. GTK's C interface only.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

// gtkmm and GoogleTest first: Xlib's macros come after them.
#include "calls/screens/test_support/widget_tree.h"
#include "platform/test_support/background_process.h"
#include "platform/test_support/log_capture.h"
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

using orvik::testing::BackgroundProcess;

using orvik::testing::windowList;

class WindowPlacementIntegration : public ::testing::Test {
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
    for (GtkWidget* window : windows_) gtk_window_destroy(GTK_WINDOW(window));
    testing::iterateUntil([] { return false; }, 0.2);
    openbox_.reset();
  }

  GtkWindow* makeWindow(const char* title, int width, int height) {
    GtkWidget* window = gtk_window_new();
    gtk_window_set_title(GTK_WINDOW(window), title);
    gtk_window_set_default_size(GTK_WINDOW(window), width, height);
    windows_.push_back(window);
    return GTK_WINDOW(window);
  }
  ::Window xid(GtkWindow* window) { return openbox_->xid(window); }
  bool managed(GtkWindow* window) { return openbox_->managed(window); }
  // Whether `upper` lies above `lower` in the window manager's stacking order.
  bool isAbove(GtkWindow* upper, GtkWindow* lower) { return openbox_->isAbove(upper, lower); }
  bool hasState(GtkWindow* window, const char* state) { return openbox_->hasState(window, state); }
  void runFor(double seconds) { testing::iterateUntil([] { return false; }, seconds); }

  orvik::testing::TempDir home_;
  std::unique_ptr<testing::OpenboxDisplay> openbox_;
  ::Display* xdisplay_ = nullptr;
  std::unique_ptr<platform::WindowPlacement> placement_;
  std::vector<GtkWidget*> windows_;
};

// One display and window manager for the whole story: openbox is started once
// per test process.
TEST_F(WindowPlacementIntegration, ACallWindowComesForwardWithoutTheFocusAndFloatsWhileKeptAbove) {
  GtkWindow* main = makeWindow("main", 900, 700);
  gtk_window_present(main);
  // The main window is placed by the window manager alone: when that does
  // not happen, the machine's window manager is at fault, not the placement.
  if (!testing::iterateUntil([&] { return managed(main) && gtk_window_is_active(main); }, 20.0)) {
    GTEST_SKIP() << "openbox did not manage a plain window within 20 s (mapped="
                 << gtk_widget_get_mapped(GTK_WIDGET(main)) << ")";
  }

  GtkWindow* call = makeWindow("call", 620, 570);
  placement_->setNeverFocused(call);
  placement_->orderFrontWithoutActivating(call);
  ASSERT_TRUE(testing::iterateUntil([&] { return managed(call); }, 20.0));
  runFor(0.5);
  EXPECT_TRUE(gtk_window_is_active(main));
  EXPECT_FALSE(gtk_window_is_active(call));
  EXPECT_TRUE(isAbove(call, main));

  // The main window comes forward, then the call window again, still
  // without the focus.
  gtk_window_present(main);
  ASSERT_TRUE(testing::iterateUntil([&] { return isAbove(main, call); }, 10.0));
  placement_->orderFrontWithoutActivating(call);
  EXPECT_TRUE(testing::iterateUntil([&] { return isAbove(call, main); }, 10.0));
  runFor(0.3);
  EXPECT_TRUE(gtk_window_is_active(main));
  EXPECT_FALSE(gtk_window_is_active(call));

  // Kept above, it floats over the main window brought forward, until let go.
  placement_->setKeepAbove(call, true);
  EXPECT_TRUE(testing::iterateUntil([&] { return hasState(call, "_NET_WM_STATE_ABOVE"); }, 10.0));
  gtk_window_present(main);
  runFor(0.5);
  EXPECT_TRUE(isAbove(call, main));
  placement_->setKeepAbove(call, false);
  EXPECT_TRUE(testing::iterateUntil([&] { return !hasState(call, "_NET_WM_STATE_ABOVE"); }, 10.0));
  gtk_window_present(main);
  EXPECT_TRUE(testing::iterateUntil([&] { return isAbove(main, call); }, 10.0));
}

TEST_F(WindowPlacementIntegration, TheStackingOrderListsTheWindowsInSightFrontToBackAndTellsOfChanges) {
  GtkWindow* main = makeWindow("main", 900, 700);
  gtk_window_present(main);
  if (!testing::iterateUntil([&] { return managed(main) && gtk_window_is_active(main); }, 20.0)) {
    GTEST_SKIP() << "openbox did not manage a plain window within 20 s";
  }
  GtkWindow* call = makeWindow("call", 620, 570);
  placement_->setNeverFocused(call);
  placement_->orderFrontWithoutActivating(call);
  ASSERT_TRUE(testing::iterateUntil([&] { return managed(call) && isAbove(call, main); }, 20.0));
  int changes = 0;
  auto watching = placement_->observeStacking([&](platform::StackingChange change) {
    if (change == platform::StackingChange::order) ++changes;
  });

  const auto numbers = [&] {
    std::vector<std::uint64_t> order;
    for (const auto& window : placement_->onScreenWindows().value_or(std::vector<platform::StackedWindow>{})) {
      order.push_back(window.number);
    }
    return order;
  };
  EXPECT_EQ(placement_->windowNumber(call), xid(call));
  EXPECT_EQ(numbers(), (std::vector<std::uint64_t>{xid(call), xid(main)}));
  const auto stack = *placement_->onScreenWindows();
  EXPECT_EQ(stack[0].frame.width, 620);
  EXPECT_EQ(stack[0].frame.height, 570);

  gtk_window_present(main);
  ASSERT_TRUE(testing::iterateUntil([&] { return changes > 0 && isAbove(main, call); }, 10.0));
  EXPECT_EQ(numbers(), (std::vector<std::uint64_t>{xid(main), xid(call)}));

  // A minimised window is out of sight.
  gtk_window_minimize(main);
  EXPECT_TRUE(testing::iterateUntil([&] { return numbers() == std::vector<std::uint64_t>{xid(call)}; }, 10.0));
  watching.reset();
}

TEST(WindowPlacementFallbackIntegration, SaysOnceWhatTheDisplayCannotDo) {
  if (!testing::startGtk()) GTEST_SKIP() << "no display to start GTK on";
  orvik::testing::LogCapture log(orvik::testing::LogCapture::Source::platformLog);
  auto placement = platform::makeFallbackWindowPlacement();
  GtkWindow* window = GTK_WINDOW(gtk_window_new());
  placement->setKeepAbove(window, true);
  placement->setOnAllDesktops(window, true);
  EXPECT_EQ(placement->onScreenWindows(), std::nullopt);
  auto none = placement->observeStacking([](platform::StackingChange) {});
  EXPECT_FALSE(none);
  EXPECT_EQ(placement->windowNumber(window), 0u);
  EXPECT_EQ(log.lines(), std::vector<std::string>{platform::kFallbackPlacementLog});
  gtk_window_destroy(window);
}

}  // namespace
}  // namespace orvik
