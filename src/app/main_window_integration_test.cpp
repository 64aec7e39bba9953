// The main window on a real (virtual) display: its title strip and the empty
// page area render in their fixed colours, in both themes.
#include "app/main_window.h"

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtkmm/init.h>
#include <gtest/gtest.h>

#include <cstdlib>

#include "calls/control/test_support/recording_call_control.h"
#include "app/main_titlebar_layout.h"
#include "core/network_monitor.h"
#include "platform/app_info.h"
#include "platform/fake_network_path.h"
#include "platform/test_support/main_loop.h"
#include "platform/test_support/scoped_environment.h"

namespace orvik {
namespace {

struct Rgb {
  int r, g, b;
};

// A widget drawn into memory, as the screen would show it.
class Picture {
 public:
  explicit Picture(Gtk::Widget& widget) : width_(widget.get_width()), height_(widget.get_height()) {
    GdkPaintable* paintable = gtk_widget_paintable_new(widget.gobj());
    GtkSnapshot* snapshot = gtk_snapshot_new();
    gdk_paintable_snapshot(paintable, snapshot, width_, height_);
    GskRenderNode* node = gtk_snapshot_free_to_node(snapshot);
    GskRenderer* renderer = gtk_native_get_renderer(gtk_widget_get_native(widget.gobj()));
    graphene_rect_t bounds = GRAPHENE_RECT_INIT(0.0f, 0.0f, static_cast<float>(width_), static_cast<float>(height_));
    GdkTexture* texture = gsk_renderer_render_texture(renderer, node, &bounds);
    stride_ = static_cast<std::size_t>(width_) * 4;
    pixels_.resize(stride_ * static_cast<std::size_t>(height_));
    gdk_texture_download(texture, pixels_.data(), stride_);
    g_object_unref(texture);
    gsk_render_node_unref(node);
    g_object_unref(paintable);
  }

  // Downloads are premultiplied BGRA in memory; the window is opaque.
  Rgb at(int x, int y) const {
    const guchar* p = pixels_.data() + static_cast<std::size_t>(y) * stride_ + static_cast<std::size_t>(x) * 4;
    return {p[2], p[1], p[0]};
  }
  int width() const { return width_; }
  int height() const { return height_; }

 private:
  int width_;
  int height_;
  std::size_t stride_ = 0;
  std::vector<guchar> pixels_;
};

// The strip's texture row `row` laid over `below` (straight alpha).
Rgb textureOver(const std::string& name, int row, Rgb below) {
  const auto file = platform::AppInfo::current().resourcesFolder / "images" / (name + ".png");
  GdkPixbuf* image = gdk_pixbuf_new_from_file(file.c_str(), nullptr);
  EXPECT_NE(image, nullptr) << file;
  if (!image) return below;
  const guchar* p = gdk_pixbuf_get_pixels(image) + row * gdk_pixbuf_get_rowstride(image);
  const double alpha = gdk_pixbuf_get_has_alpha(image) ? p[3] / 255.0 : 1.0;
  auto mix = [&](int top, int bottom) { return static_cast<int>(top * alpha + bottom * (1 - alpha) + 0.5); };
  Rgb result{mix(p[0], below.r), mix(p[1], below.g), mix(p[2], below.b)};
  g_object_unref(image);
  return result;
}

::testing::AssertionResult near(Rgb actual, Rgb expected, int tolerance) {
  if (std::abs(actual.r - expected.r) <= tolerance && std::abs(actual.g - expected.g) <= tolerance &&
      std::abs(actual.b - expected.b) <= tolerance) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "got (" << actual.r << ", " << actual.g << ", " << actual.b
                                       << "), expected (" << expected.r << ", " << expected.g << ", " << expected.b
                                       << ") ± " << tolerance;
}

using NoCalls = testing::RecordingCallControl;

class MainWindowIntegration : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("GSK_RENDERER", "cairo", 1);
    if (!gtk_init_check()) GTEST_SKIP() << "no display";
    Gtk::init_gtkmm_internals();
    window = std::make_unique<MainWindow>(nullptr, MainWindowServices{defaults, calls, network, theme, layout});
    window->present();
    ASSERT_TRUE(waitFor([&] { return window->get_mapped() && window->home().get_width() > 0; }));
  }

  void TearDown() override {
    window.reset();
  }

  static bool waitFor(const std::function<bool()>& done) { return orvik::testing::runMainLoopUntil(done, 10.0); }
  static void settle() { orvik::testing::drainMainLoop(); }

  // The darkest pixel of the title text.
  Rgb darkestTitlePixel(const Picture& picture) {
    graphene_rect_t bounds;
    EXPECT_TRUE(gtk_widget_compute_bounds(GTK_WIDGET(window->home().titlebar().title().gobj()),
                                          GTK_WIDGET(window->home().gobj()), &bounds));
    Rgb darkest{255, 255, 255};
    for (int y = static_cast<int>(bounds.origin.y); y < static_cast<int>(bounds.origin.y + bounds.size.height); ++y) {
      for (int x = static_cast<int>(bounds.origin.x); x < static_cast<int>(bounds.origin.x + bounds.size.width); ++x) {
        const Rgb p = picture.at(x, y);
        if (p.r + p.g + p.b < darkest.r + darkest.g + darkest.b) darkest = p;
      }
    }
    return darkest;
  }

  void expectStripAndPage(bool dark) {
    settle();
    Picture picture(window->home());
    ASSERT_EQ(window->home().titlebar().get_height(), 24);
    const int x = picture.width() / 4;  // clear of the buttons and the title
    const Rgb below = dark ? Rgb{50, 50, 50} : Rgb{0, 0, 0};
    for (int row : {2, 12, 21}) {
      EXPECT_TRUE(near(picture.at(x, row), textureOver(titlebarTextureName(dark), row, below), 3)) << "row " << row;
    }
    const Rgb page{kPageBackground[0], kPageBackground[1], kPageBackground[2]};
    EXPECT_TRUE(near(picture.at(picture.width() / 2, 24), page, 1));
    EXPECT_TRUE(near(picture.at(picture.width() / 2, picture.height() / 2), page, 1));
    EXPECT_TRUE(near(picture.at(picture.width() - 1, picture.height() - 1), page, 1));
    const Rgb title = dark ? Rgb{kDarkTitleColour[0], kDarkTitleColour[1], kDarkTitleColour[2]}
                           : Rgb{kLightTitleColour[0], kLightTitleColour[1], kLightTitleColour[2]};
    EXPECT_TRUE(near(darkestTitlePixel(picture), title, 12));
  }

  // Settings written by the theme land in this test's folders.
  orvik::testing::TestHome home;
  platform::UserDefaults defaults{home.configHome() / "defaults.json"};
  NoCalls calls;
  NetworkMonitor network{std::make_unique<platform::FakeNetworkPath>()};
  ThemeManager theme{defaults};
  MainTitlebarLayout layout;
  std::unique_ptr<MainWindow> window;
};

TEST_F(MainWindowIntegration, TheTitleStripAndTheEmptyPageRenderInTheirColoursInBothThemes) {
  theme.setDarkMode(true);
  expectStripAndPage(true);
  theme.setDarkMode(false);
  expectStripAndPage(false);
}

TEST_F(MainWindowIntegration, TheCloseButtonHidesTheWindowAndItComesBack) {
  window->close();
  settle();
  EXPECT_FALSE(window->get_visible());
  window->restore();
  EXPECT_TRUE(waitFor([&] { return window->get_mapped(); }));
}

TEST_F(MainWindowIntegration, FullScreenHidesTheStripAndMovesThePageUp) {
  window->fullscreen();
  // Full screen needs a window manager; a bare display has none.
  if (!waitFor([&] { return window->is_fullscreen(); })) GTEST_SKIP() << "the display has no window manager";
  EXPECT_EQ(layout.contentTopInset(), 0);
  EXPECT_FALSE(window->home().titlebar().get_visible());
  EXPECT_TRUE(defaults.boolValue(MainWindowFrameStore::kWasFullScreenKey));
  window->unfullscreen();
  ASSERT_TRUE(waitFor([&] { return !window->is_fullscreen(); }));
  EXPECT_EQ(layout.contentTopInset(), 24);
  EXPECT_TRUE(window->home().titlebar().get_visible());
  EXPECT_FALSE(defaults.boolValue(MainWindowFrameStore::kWasFullScreenKey));
}

}  // namespace
}  // namespace orvik
