// The call-screen kit as GTK widgets under Xvfb: icons from our resources,
// avatars and the badge loading from a local HTTP server (and falling back
// when they cannot), and the call-limit banner's buttons.
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtk/gtk.h>

#include <gtest/gtest.h>
#include <gtkmm/window.h>

#include "calls/screens/call_avatar_view.h"
#include "calls/screens/call_icon.h"
#include "calls/screens/call_limit_warning_banner.h"
#include "calls/screens/glass_background.h"
#include "calls/screens/gold_subscriber_badge.h"
#include "calls/screens/test_support/widget_tree.h"
#include "platform/test_support/local_web_server.h"

namespace orvik {
namespace {

using testing::iterateUntil;

std::string pngBytes(int size) {
  GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, size, size);
  gdk_pixbuf_fill(pixbuf, 0x3080c0ff);
  gchar* buffer = nullptr;
  gsize length = 0;
  gdk_pixbuf_save_to_buffer(pixbuf, &buffer, &length, "png", nullptr, nullptr);
  std::string bytes(buffer, length);
  g_free(buffer);
  g_object_unref(pixbuf);
  return bytes;
}

class CallScreenWidgetsIntegration : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::startGtk()) GTEST_SKIP() << "no display";
    server.route("/face.png", {200, "image/png", pngBytes(64)});
    server.route("/ndx_8_copy.png", {200, "image/png", pngBytes(32)});
    server.route("/broken.png", {200, "image/png", "not an image"});
    owned = std::make_unique<Gtk::Window>();
    owned->set_default_size(300, 300);
  }
  void TearDown() override {
    if (owned) owned->destroy();
  }

  void show(Gtk::Widget& child) {
    window().set_child(child);
    window().present();
    testing::settle(window());
  }

  orvik::testing::LocalWebServer server;
  std::unique_ptr<Gtk::Window> owned;
  Gtk::Window& window() { return *owned; }
};

TEST_F(CallScreenWidgetsIntegration, EveryCallSymbolHasAnIconOfOurs) {
  auto* row = Gtk::make_managed<Gtk::Box>();
  show(*row);
  GtkIconTheme* theme = gtk_icon_theme_get_for_display(gdk_display_get_default());
  CallIcon::registerIcons();
  for (const char* symbol : {"microphone.fill", "microphone.slash.fill", "video.fill", "video.slash.fill",
                             "speaker.wave.3.fill", "speaker.slash.fill", "phone.fill", "phone.down.fill", "clock.fill",
                             "crown.fill", "xmark", "plus.circle.fill", "rectangle.on.rectangle",
                             "rectangle.on.rectangle.angled", "arrow.right", "arrow.up.left.and.arrow.down.right",
                             "mic.fill", "mic.slash.fill", "speaker.wave.2.fill"}) {
    EXPECT_TRUE(gtk_icon_theme_has_icon(theme, CallIcon::iconNameFor(symbol).c_str())) << symbol;
    row->append(*Gtk::make_managed<CallIcon>(symbol, 24, Rgba::white()));
  }
  EXPECT_EQ(CallIcon::resourceImageFor("microphone.slash.fill"), "call_mic_slash");
  EXPECT_FALSE(CallIcon::resourceImageFor("rectangle.on.rectangle"));
  testing::settle(window());
  EXPECT_FALSE(testing::saveScreenshot(window(), "CallScreenWidgetsIntegration", "icons").empty());
}

TEST_F(CallScreenWidgetsIntegration, AvatarsLoadHttpPicturesAndFallBackToInitials) {
  struct Case {
    const char* what;
    std::string imageUrl;
    std::string defaultURL;
    bool subscribed;
    bool picture;
    AvatarGradient gradient;
    bool initialShown;
  };
  const Case cases[] = {
      {"own picture", server.url("/face.png"), server.url("/ndx_8_copy.png"), false, true, AvatarGradient::purple,
       false},
      {"missing picture", server.url("/missing.png"), server.url("/ndx_8_copy.png"), true, false,
       AvatarGradient::purple, true},
      {"bytes that are no image", server.url("/broken.png"), "", false, false, AvatarGradient::purple, true},
      {"subscriber's default picture with the initial over it", "", server.url("/ndx_8_copy.png"), true, true,
       AvatarGradient::gold, true},
      {"subscriber whose default picture fails: gold initials", "", server.url("/gone.png"), true, false,
       AvatarGradient::gold, true},
  };
  for (const auto& c : cases) {
    auto* avatar = Gtk::make_managed<CallAvatarView>(56, c.defaultURL);
    show(*avatar);
    const std::size_t before = server.requests().size();
    avatar->setParty(c.imageUrl, "bob_7", c.subscribed);
    EXPECT_TRUE(iterateUntil([&] { return server.requests().size() > before; })) << c.what;
    if (c.picture) {
      EXPECT_TRUE(iterateUntil([&] { return avatar->showsPicture(); })) << c.what;
    } else {
      testing::settle(window());
      EXPECT_FALSE(avatar->showsPicture()) << c.what;
    }
    EXPECT_EQ(avatar->content().gradient, c.gradient) << c.what;
    EXPECT_EQ(avatar->initialLabel().get_visible(), c.initialShown) << c.what;
    EXPECT_EQ(avatar->initialLabel().get_text(), "B") << c.what;
  }
}

TEST_F(CallScreenWidgetsIntegration, AvatarsNeverOpenLocalFiles) {
  auto* avatar = Gtk::make_managed<CallAvatarView>(56, server.url("/ndx_8_copy.png"));
  show(*avatar);
  avatar->setParty("file:///etc/hostname", "", false);
  testing::settle(window());
  EXPECT_TRUE(server.requests().empty());
  EXPECT_FALSE(avatar->showsPicture());
  EXPECT_EQ(avatar->initialLabel().get_text(), "?");
}

TEST_F(CallScreenWidgetsIntegration, ABadgeWithoutItsImageShowsTheGoldCrown) {
  auto* box = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
  auto* failing = Gtk::make_managed<GoldSubscriberBadge>(34, server.url("/no-badge.png"));
  auto* loading = Gtk::make_managed<GoldSubscriberBadge>(34, server.url("/face.png"));
  auto* glass = Gtk::make_managed<GlassBackground>(12);
  glass->set_size_request(60, 34);
  box->append(*failing);
  box->append(*loading);
  box->append(*glass);
  show(*box);
  EXPECT_TRUE(iterateUntil([&] { return loading->showsImage(); }));
  EXPECT_TRUE(iterateUntil([&] { return server.received("/no-badge.png"); }));
  testing::settle(window());
  EXPECT_FALSE(failing->showsImage());
  auto* crown = dynamic_cast<CallIcon*>(testing::findByName(*failing, "gold-subscriber-badge")->get_first_child()
                                            ->get_first_child());
  ASSERT_NE(crown, nullptr);
  EXPECT_EQ(crown->symbol(), "crown.fill");
  EXPECT_EQ(crown->get_pixel_size(), 16);  // 0.48 × 34
  testing::saveScreenshot(window(), "CallScreenWidgetsIntegration", "badges");
}

TEST_F(CallScreenWidgetsIntegration, TheLimitBannersButtonsRunTheirOwnActionOnly) {
  auto* banner = Gtk::make_managed<CallLimitWarningBanner>();
  int extended = 0, closed = 0;
  banner->onExtend = [&] { ++extended; };
  banner->onClose = [&] { ++closed; };
  banner->setContent("Free calls end after 40 minutes. This call ends in 5 minutes unless you extend it, which "
                     "you can do twice per call.",
                     false);
  show(*banner);
  EXPECT_FALSE(banner->extendButton().get_visible());
  EXPECT_TRUE(banner->textLabel().get_wrap());
  testing::saveScreenshot(window(), "CallScreenWidgetsIntegration", "limit-banner-no-extend");
  banner->setContent("This call ends in 5 minutes.", true);
  testing::settle(window());
  EXPECT_TRUE(banner->extendButton().get_visible());
  testing::saveScreenshot(window(), "CallScreenWidgetsIntegration", "limit-banner-extend");
  testing::click(&banner->closeButton());
  EXPECT_EQ(closed, 1);
  EXPECT_EQ(extended, 0);
  testing::click(&banner->extendButton());
  EXPECT_EQ(closed, 1);
  EXPECT_EQ(extended, 1);
}

}  // namespace
}  // namespace orvik
