// The notification-permission card in a real window under Xvfb.
#include "app/notification_permission_banner.h"

#include <gtest/gtest.h>
#include <gtkmm.h>
#include <gtkmm/init.h>

#include "platform/test_support/main_loop.h"

namespace orvik {
namespace {

using orvik::testing::drainMainLoop;
using orvik::testing::runMainLoopUntil;

// The labels and buttons under `widget`, in order.
void collectTexts(Gtk::Widget& widget, std::vector<std::string>& texts) {
  if (auto* label = dynamic_cast<Gtk::Label*>(&widget)) texts.push_back(label->get_text());
  for (Gtk::Widget* child = widget.get_first_child(); child; child = child->get_next_sibling()) {
    collectTexts(*child, texts);
  }
}

Gtk::Button* findButton(Gtk::Widget& widget, const std::string& text) {
  if (auto* button = dynamic_cast<Gtk::Button*>(&widget); button && button->get_label() == Glib::ustring(text)) return button;
  for (Gtk::Widget* child = widget.get_first_child(); child; child = child->get_next_sibling()) {
    if (Gtk::Button* found = findButton(*child, text)) return found;
  }
  return nullptr;
}

class NotificationBannerIntegration : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!gtk_init_check()) GTEST_SKIP() << "no display";
    Gtk::init_gtkmm_internals();
    window_ = std::make_unique<Gtk::Window>();
    window_->set_default_size(800, 600);
    overlay_ = Gtk::make_managed<Gtk::Overlay>();
    window_->set_child(*overlay_);
    window_->present();
    drainMainLoop();
  }
  void TearDown() override {
    banner_.reset();
    if (window_) window_->destroy();
  }

  Gtk::Overlay* overlay_ = nullptr;
  std::unique_ptr<Gtk::Window> window_;
  int settingsOpened_ = 0;
  std::unique_ptr<NotificationPermissionBanner> banner_ = std::make_unique<NotificationPermissionBanner>(
      [this]() -> Gtk::Overlay* { return overlay_; }, [this] { ++settingsOpened_; });
};

TEST_F(NotificationBannerIntegration, OneCardAtTheTopRightThatGoesAway) {
  banner_->show();
  banner_->show();
  ASSERT_TRUE(runMainLoopUntil([&] {
    return banner_->card() && banner_->card()->get_width() > 0;
  }));
  Gtk::Widget& card = *banner_->card();
  std::vector<std::string> texts;
  collectTexts(card, texts);
  EXPECT_EQ(texts, (std::vector<std::string>{"Notifications Disabled", "Enable in System Settings to receive messages.",
                                             "Open Settings", "✕"}));
  // A second show added no second card.
  int cards = 0;
  for (Gtk::Widget* child = overlay_->get_first_child(); child; child = child->get_next_sibling()) ++cards;
  EXPECT_EQ(cards, 1);

  graphene_rect_t bounds;
  ASSERT_TRUE(gtk_widget_compute_bounds(card.gobj(), GTK_WIDGET(overlay_->gobj()), &bounds));
  EXPECT_EQ(static_cast<int>(bounds.size.width), NotificationPermissionBanner::kWidth);
  EXPECT_EQ(static_cast<int>(bounds.origin.x + bounds.size.width),
            overlay_->get_width() - NotificationPermissionBanner::kRightMargin);
  EXPECT_EQ(static_cast<int>(bounds.origin.y), NotificationPermissionBanner::kTopMargin);

  banner_->dismiss();
  ASSERT_TRUE(runMainLoopUntil([&] { return banner_->card() == nullptr; }));
  EXPECT_EQ(overlay_->get_first_child(), nullptr);
  EXPECT_EQ(settingsOpened_, 0);
}

TEST_F(NotificationBannerIntegration, OpenSettingsOpensThemAndDismisses) {
  banner_->show();
  ASSERT_TRUE(runMainLoopUntil([&] { return banner_->card() != nullptr; }));
  Gtk::Button* open = findButton(*banner_->card(), "Open Settings");
  ASSERT_NE(open, nullptr);
  g_signal_emit_by_name(open->gobj(), "clicked");
  EXPECT_EQ(settingsOpened_, 1);
  ASSERT_TRUE(runMainLoopUntil([&] { return banner_->card() == nullptr; }));
  // Hidden cards are built anew.
  banner_->show();
  EXPECT_TRUE(runMainLoopUntil([&] { return banner_->card() != nullptr; }));
}

}  // namespace
}  // namespace orvik
