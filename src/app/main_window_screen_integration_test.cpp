// The main window as a person sees it: on an X display of its own with a
// window manager (openbox), with and without a compositor (xcompmgr), a
// screenshot of the window must show the title strip as the window's top
// edge, with the window controls inside its 24 px and a readable title, in
// both themes. The screenshots are kept in the build tree's
// test-output/MainWindowScreenIntegration/ folder for a person to look at.
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtkmm/init.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "calls/control/test_support/recording_call_control.h"
#include "app/main_titlebar_layout.h"
#include "app/main_window.h"
#include "app/testing/x_screen.h"
#include "app/window_identity.h"
#include "core/network_monitor.h"
#include "core/theme_gtk.h"
#include "platform/app_info.h"
#include "platform/fake_network_path.h"
#include "calls/windows/test_support/openbox_display.h"
#include "platform/test_support/temp_dir.h"

namespace orvik {
namespace {

namespace fs = std::filesystem;

struct Rgb {
  int r, g, b;
};

// WCAG relative luminance and contrast ratio.
double luminance(Rgb c) {
  auto channel = [](int v) {
    const double s = v / 255.0;
    return s <= 0.03928 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
  };
  return 0.2126 * channel(c.r) + 0.7152 * channel(c.g) + 0.0722 * channel(c.b);
}
double contrast(Rgb a, Rgb b) {
  const double la = luminance(a);
  const double lb = luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}
int distance(Rgb a, Rgb b) { return std::abs(a.r - b.r) + std::abs(a.g - b.g) + std::abs(a.b - b.b); }

// What the screen shows where the window is.
class Screenshot {
 public:
  Screenshot(GdkDisplay* display, orvik::testing::ScreenRect rect) {
    pixels_ = orvik::testing::grabScreen(display, rect);
    width_ = rect.width;
    height_ = rect.height;
  }

  int width() const { return width_; }
  int height() const { return height_; }
  bool sameAs(const Screenshot& other) const {
    return width_ == other.width_ && height_ == other.height_ && pixels_ == other.pixels_;
  }
  Rgb at(int x, int y) const {
    const unsigned char* p = pixels_.data() + (static_cast<std::size_t>(y) * width_ + x) * 3;
    return {p[0], p[1], p[2]};
  }

  void save(const fs::path& file) const {
    std::error_code ec;
    fs::create_directories(file.parent_path(), ec);
    GdkPixbuf* pixbuf = gdk_pixbuf_new_from_data(pixels_.data(), GDK_COLORSPACE_RGB, FALSE, 8, width_, height_,
                                                 width_ * 3, nullptr, nullptr);
    gdk_pixbuf_save(pixbuf, file.c_str(), "png", nullptr, nullptr);
    g_object_unref(pixbuf);
  }

 private:
  int width_ = 0;
  int height_ = 0;
  std::vector<unsigned char> pixels_;
};

using NoCalls = testing::RecordingCallControl;

struct Setting {
  bool compositor;
  const char* name;
};

class MainWindowScreenIntegration : public ::testing::TestWithParam<Setting> {
 protected:
  void SetUp() override {
    const orvik::testing::OpenboxDisplay::Options screen{
        .width = 1600, .height = 1200, .home = home.path(), .compositor = GetParam().compositor};
    if (auto why = orvik::testing::OpenboxDisplay::unavailable(screen)) GTEST_SKIP() << *why;
    setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
    setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
    setenv("GSK_RENDERER", "cairo", 1);

    // GTK starts on the process's own display, which outlives every test;
    // the test's own display (its window manager and compositor the ones
    // chosen here) is opened beside it.
    if (!gtk_init_check()) GTEST_SKIP() << "no display to start GTK on";
    Gtk::init_gtkmm_internals();
    std::string error;
    openbox_ = orvik::testing::OpenboxDisplay::start(screen, error);
    ASSERT_TRUE(openbox_) << error;
    display_ = openbox_->gdk();

    themeBinding_ = bindThemeToGtk(theme);
    ASSERT_TRUE(themeBinding_);
    ASSERT_TRUE(applyWindowIdentity(platform::AppInfo::current(), display_));
    window = std::make_unique<MainWindow>(nullptr, MainWindowServices{defaults, calls, network, theme, layout});
    window->present();
    ASSERT_TRUE(waitFor([&] { return window->get_mapped() && window->home().get_width() > 0; }));
  }

  void TearDown() override {
    window.reset();
    settle();
    openbox_.reset();
  }

  template <typename Predicate>
  bool waitFor(Predicate done, double seconds = 20.0) {
    const gint64 deadline = g_get_monotonic_time() + static_cast<gint64>(seconds * G_USEC_PER_SEC);
    while (!done() && g_get_monotonic_time() < deadline) {
      if (!g_main_context_iteration(nullptr, FALSE)) g_usleep(5000);
    }
    return done();
  }

  void settle() {
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
  }

  // Runs the main loop for `seconds`.
  void runFor(double seconds) {
    const gint64 until = g_get_monotonic_time() + static_cast<gint64>(seconds * G_USEC_PER_SEC);
    while (g_get_monotonic_time() < until) {
      if (!g_main_context_iteration(nullptr, FALSE)) g_usleep(5000);
    }
  }

  // The part of the screen the window covers, without the shadow a
  // compositing window draws around itself, once the window has painted
  // twice and the screen has stopped changing (the compositor copies the
  // window on its own time); saved for a person to look at.
  Screenshot takeScreenshot(const std::string& name) {
    GdkSurface* surface = gtk_native_get_surface(GTK_NATIVE(window->gobj()));
    GdkFrameClock* clock = gdk_surface_get_frame_clock(surface);
    int paints = 0;
    const gulong handler = g_signal_connect_swapped(clock, "after-paint", G_CALLBACK(+[](int* count) { ++*count; }),
                                                    &paints);
    window->queue_draw();
    EXPECT_TRUE(waitFor([&] { return paints >= 2; })) << "the window did not paint";
    g_signal_handler_disconnect(clock, handler);
    Screenshot shot(display_, orvik::testing::visibleFrame(surface));
    for (int look = 0; look < 50; ++look) {
      runFor(0.15);
      Screenshot again(display_, orvik::testing::visibleFrame(surface));
      const bool settled = again.sameAs(shot);
      shot = std::move(again);
      if (settled) break;
    }
    shot.save(fs::path(ORVIK_BINARY_DIR) / "test-output" / "MainWindowScreenIntegration" /
              (std::string(GetParam().name) + "-" + name + ".png"));
    return shot;
  }

  // The rows, counted from the window's top edge, where the window controls
  // at the window's right end draw: pixels there that stand out from the
  // same row a quarter of the way across (clear of the title and the
  // buttons, so the strip's or the page's own colour).
  static std::pair<int, int> controlRows(const Screenshot& shot) {
    int first = -1;
    int last = -1;
    const int reference = shot.width() / 4;
    for (int y = 0; y < std::min(shot.height(), 120); ++y) {
      for (int x = std::max(0, shot.width() - 160); x < shot.width() - 6; ++x) {
        if (distance(shot.at(x, y), shot.at(reference, y)) > 120) {
          if (first < 0) first = y;
          last = y;
          break;
        }
      }
    }
    return {first, last};
  }

  // The darkest and the lightest pixels around the centred title.
  static std::pair<Rgb, Rgb> titleExtremes(const Screenshot& shot) {
    Rgb darkest{255, 255, 255};
    Rgb lightest{0, 0, 0};
    for (int y = 4; y < 20; ++y) {
      for (int x = shot.width() / 2 - 120; x < shot.width() / 2 + 120; ++x) {
        const Rgb p = shot.at(x, y);
        if (luminance(p) < luminance(darkest)) darkest = p;
        if (luminance(p) > luminance(lightest)) lightest = p;
      }
    }
    return {darkest, lightest};
  }

  void expectStripOnTop(bool dark) {
    theme.setDarkMode(dark);
    const Screenshot shot = takeScreenshot(dark ? "dark" : "light");
    ASSERT_GT(shot.width(), 1000);
    ASSERT_GT(shot.height(), 600);

    const auto [first, last] = controlRows(shot);
    ASSERT_GE(first, 0) << "no window controls found at the window's top right";
    EXPECT_LT(last, 24) << "the window controls sit in rows " << first << " to " << last;

    // The window's very first row is the strip's: nothing of a theme's
    // title bar or frame lies above it.
    const auto file = platform::AppInfo::current().resourcesFolder / "images" / (titlebarTextureName(dark) + ".png");
    GdkPixbuf* texture = gdk_pixbuf_new_from_file(file.c_str(), nullptr);
    ASSERT_NE(texture, nullptr) << file;
    const guchar* p = gdk_pixbuf_get_pixels(texture);
    const double alpha = p[3] / 255.0;
    const Rgb below = dark ? Rgb{kDarkStripBackground[0], kDarkStripBackground[1], kDarkStripBackground[2]}
                           : Rgb{0, 0, 0};
    auto mix = [&](int over, int under) { return static_cast<int>(over * alpha + under * (1 - alpha) + 0.5); };
    const Rgb stripTop{mix(p[0], below.r), mix(p[1], below.g), mix(p[2], below.b)};
    g_object_unref(texture);
    EXPECT_LE(distance(shot.at(shot.width() / 4, 0), stripTop), 9) << "top row is not the strip";
    const Rgb page{kPageBackground[0], kPageBackground[1], kPageBackground[2]};
    EXPECT_LE(distance(shot.at(shot.width() / 2, 30), page), 6) << "the page does not start below the strip";

    // Readable: the title stands out from what surrounds it as body text
    // should (at least 4.5 : 1).
    const auto [darkest, lightest] = titleExtremes(shot);
    EXPECT_GE(contrast(darkest, lightest), 4.5);
  }

  orvik::testing::TempDir home;
  platform::UserDefaults defaults{home / "defaults.json"};
  NoCalls calls;
  NetworkMonitor network{std::make_unique<platform::FakeNetworkPath>()};
  ThemeManager theme{defaults};
  MainTitlebarLayout layout;
  std::unique_ptr<MainWindow> window;

 private:
  std::unique_ptr<orvik::testing::OpenboxDisplay> openbox_;
  platform::Subscription themeBinding_;
  GdkDisplay* display_ = nullptr;
};

TEST_P(MainWindowScreenIntegration, TheTitleStripIsTheWindowsTopEdgeInBothThemes) {
  expectStripOnTop(true);
  expectStripOnTop(false);
}

// The desktop groups the window under the program's desktop entry and shows
// the application icon, taken from the icon theme (the build tree's rendered
// icons here).
TEST_P(MainWindowScreenIntegration, TheWindowCarriesTheApplicationsClassAndIcon) {
  GdkSurface* surface = gtk_native_get_surface(GTK_NATIVE(window->gobj()));
  EXPECT_EQ(orvik::testing::windowClass(surface), "com.orvik.desk");
  EXPECT_TRUE(orvik::testing::hasWindowIcon(surface));
}

INSTANTIATE_TEST_SUITE_P(Displays, MainWindowScreenIntegration,
                         ::testing::Values(Setting{false, "no-compositor"}, Setting{true, "compositor"}),
                         [](const auto& info) {
                           return info.param.compositor ? "WithCompositor" : "WithoutCompositor";
                         });

}  // namespace
}  // namespace orvik
