// The update card and the relaunch prompt as GTK widgets, under Xvfb: what the
// service and the downloader publish reaches the widgets, and the buttons
// drive them.
#include <gtk/gtk.h>

#include <gtest/gtest.h>
#include <gtkmm.h>
#include <gtkmm/init.h>

#include "platform/dispatch/virtual_queue.h"
#include "platform/recording_page_script_sink.h"
#include "platform/test_support/temp_dir.h"
#include "platform/test_support/wait_for.h"
#include "platform/user_defaults.h"
#include "updater/recording_update_alerts.h"
#include "updater/relaunch_prompt.h"
#include "updater/update_alerts_gtk.h"
#include "updater/update_card.h"
#include "updater/update_check_policy.h"
#include "updater/update_downloader.h"
#include "updater/update_service.h"

namespace orvik {
namespace {

class FakeFeedSource final : public UpdateFeedSource {
 public:
  void fetch(std::function<void(FetchedFeed)> done) override { pending.push_back(std::move(done)); }
  std::vector<std::function<void(FetchedFeed)>> pending;
};

void iterate() {
  while (g_main_context_iteration(nullptr, false)) {
  }
}

class UpdateCardIntegration : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!gtk_init_check()) GTEST_SKIP() << "no display";
    Gtk::init_gtkmm_internals();
    service_ = std::make_unique<UpdateService>(UpdateService::Dependencies{
        queue_, clock_, defaults_, feed_, alerts_, [this] { return std::weak_ptr<platform::PageScriptSink>(page_); },
        "500", "Orvik", "updates.test", [](const std::string&) {}});
    UpdateConnectionSettings settings;
    settings.allowedHosts = {"updates.invalid"};
    downloader_ = std::make_unique<UpdateDownloader>(
        UpdateDownloader::Dependencies{queue_, alerts_, settings, folder_.path(), "help@orvik.test"});
    window_ = std::make_unique<Gtk::Window>();
    window_->set_default_size(800, 600);
    card_ = Gtk::make_managed<UpdateCard>(*service_, *downloader_, [] { return true; });
    auto* overlay = Gtk::make_managed<Gtk::Overlay>();
    overlay->set_child(*Gtk::make_managed<Gtk::Box>());
    overlay->add_overlay(*card_);
    window_->set_child(*overlay);
    window_->present();
    iterate();
  }
  void TearDown() override {
    if (window_) window_->destroy();
    iterate();
  }
  void offer(const std::string& body) {
    service_->checkForUpdates(false);
    FetchedFeed fetched;
    fetched.body = body;
    feed_.pending.back()(fetched);
    queue_.runUntilIdle();
    iterate();
  }

  testing::TempDir dir_, folder_;
  platform::VirtualClock clock_;
  platform::VirtualQueue queue_{&clock_};
  platform::ScopedMainQueue main_{queue_};
  platform::UserDefaults defaults_{dir_ / "defaults.json"};
  FakeFeedSource feed_;
  RecordingUpdateAlerts alerts_;
  std::shared_ptr<platform::RecordingPageScriptSink> page_ = std::make_shared<platform::RecordingPageScriptSink>();
  std::unique_ptr<UpdateService> service_;
  std::unique_ptr<UpdateDownloader> downloader_;
  std::unique_ptr<Gtk::Window> window_;
  UpdateCard* card_ = nullptr;
};

constexpr const char* kNewer =
    R"({"version":"9.1","buildVersion":"910","downloadUrl":"https://updates.invalid/a.tar","releaseNotes":"n"})";

TEST_F(UpdateCardIntegration, AppearsForANewerBuildAndLaterPutsItOffForADay) {
  EXPECT_FALSE(card_->get_reveal_child());
  offer(kNewer);
  EXPECT_TRUE(card_->get_reveal_child());
  EXPECT_EQ(card_->subtitleLabel().get_text(), "v9.1 (910) is available");
  EXPECT_TRUE(card_->updateButton().get_visible());
  EXPECT_EQ(card_->get_halign(), Gtk::Align::END) << "nobody signed in: the lower-right corner";

  service_->setUserLoggedIn(true);
  service_->setBannerAnchorBottom(300.0);
  iterate();
  EXPECT_EQ(card_->get_halign(), Gtk::Align::START);
  EXPECT_EQ(card_->get_margin_bottom(), 300);

  g_signal_emit_by_name(card_->closeButton().gobj(), "clicked");
  iterate();
  EXPECT_FALSE(card_->get_reveal_child());
  EXPECT_FALSE(service_->showUpdateDialog());
  ASSERT_TRUE(defaults_.optionalDouble(kLaterDismissedKey));
  EXPECT_TRUE(service_->isWithinLaterWindow());
}

TEST_F(UpdateCardIntegration, UpdateStartsTheDownloadWithoutAChecksumAndShowsItsFailure) {
  offer(kNewer);
  g_signal_emit_by_name(card_->updateButton().gobj(), "clicked");
  iterate();
  EXPECT_TRUE(downloader_->state().isDownloading);
  EXPECT_EQ(card_->subtitleLabel().get_text(), "Downloading 0%");
  EXPECT_FALSE(card_->updateButton().get_visible());
  EXPECT_FALSE(card_->closeButton().get_visible());
  ASSERT_TRUE(testing::waitFor([&] { return !downloader_->state().isDownloading; },
                               [&] {
                                 queue_.runUntilIdle();
                                 iterate();
                               },
                               60.0));
  queue_.runUntilIdle();
  iterate();
  EXPECT_EQ(card_->subtitleLabel().get_text(), "DMG download failed.");
  EXPECT_TRUE(card_->subtitleLabel().has_css_class("error"));
  EXPECT_TRUE(card_->updateButton().get_visible());
  EXPECT_TRUE(card_->closeButton().get_visible());
}

TEST_F(UpdateCardIntegration, AlertsComeOneAfterAnother) {
  GtkUpdateAlerts alerts([this] { return window_.get(); });
  int acknowledged = 0;
  alerts.showCritical("⚠️ first", "reason", [&] { ++acknowledged; });
  alerts.showInformational("You're up to date!", "Orvik 9.1 is the latest version.");
  iterate();
  ASSERT_TRUE(alerts.current());
  EXPECT_EQ(alerts.current()->property_text().get_value(), "⚠️ first");
  alerts.current()->response(Gtk::ResponseType::OK);
  iterate();
  EXPECT_EQ(acknowledged, 1);
  ASSERT_TRUE(alerts.current());
  EXPECT_EQ(alerts.current()->property_text().get_value(), "You're up to date!");
  alerts.current()->response(Gtk::ResponseType::OK);
  iterate();
  EXPECT_FALSE(alerts.current());
}

// The manual update's question: "Open" first and the default, "Cancel"
// second; closing the dialog any other way counts as Cancel.
TEST_F(UpdateCardIntegration, AQuestionOffersItsTwoButtonsAndAnswersOnce) {
  GtkUpdateAlerts alerts([this] { return window_.get(); });
  std::vector<bool> answers;
  alerts.showQuestion("Manual Update Required", "text", "Open", "Cancel", [&](bool open) { answers.push_back(open); });
  alerts.showQuestion("Manual Update Required", "text", "Open", "Cancel", [&](bool open) { answers.push_back(open); });
  iterate();
  ASSERT_TRUE(alerts.current());
  std::vector<std::string> labels;
  for (auto response : {Gtk::ResponseType::ACCEPT, Gtk::ResponseType::CANCEL}) {
    auto* button = dynamic_cast<Gtk::Button*>(alerts.current()->get_widget_for_response(response));
    ASSERT_TRUE(button);
    labels.push_back(button->get_label());
  }
  EXPECT_EQ(labels, (std::vector<std::string>{"Open", "Cancel"}));
  alerts.current()->response(Gtk::ResponseType::ACCEPT);
  iterate();
  ASSERT_TRUE(alerts.current());
  alerts.current()->response(Gtk::ResponseType::DELETE_EVENT);
  iterate();
  EXPECT_FALSE(alerts.current());
  EXPECT_EQ(answers, (std::vector<bool>{true, false}));
}

TEST_F(UpdateCardIntegration, TheRelaunchPromptOnlyEndsThroughQuitAndASecondReplacesTheFirst) {
  int quits = 0;
  RelaunchPrompt::show(window_.get(), true, [&] { ++quits; });
  iterate();
  Gtk::Window* first = RelaunchPrompt::current();
  ASSERT_TRUE(first);
  EXPECT_TRUE(first->get_modal());
  first->close();  // refused
  iterate();
  EXPECT_EQ(RelaunchPrompt::current(), first);
  EXPECT_TRUE(first->get_visible());

  RelaunchPrompt::show(window_.get(), false, [&] { quits += 10; });
  iterate();
  ASSERT_NE(RelaunchPrompt::current(), nullptr);
  g_signal_emit_by_name(RelaunchPrompt::quitButton()->gobj(), "clicked");
  iterate();
  EXPECT_EQ(quits, 10);
  EXPECT_EQ(RelaunchPrompt::current(), nullptr);
}

}  // namespace
}  // namespace orvik
