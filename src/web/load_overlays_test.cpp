#include "web/load_overlays.h"

#include <gtest/gtest.h>
#include <gtkmm/init.h>

#include "core/network_monitor.h"
#include "core/recording_load_diagnostics.h"
#include "platform/dispatch/virtual_queue.h"
#include "platform/fake_network_path.h"
#include "web/web_view_state.h"

namespace orvik {
namespace {

TEST(LoadOverlays, OfflineThenErrorGoAboveLoadingAndTheToastOnlyOverAVisiblePage) {
  struct Case {
    bool loading, offline, error, connected;
    MainOverlay main;
    bool toast;
  };
  const std::vector<Case> cases = {
      {true, true, true, true, MainOverlay::offline, false},
      {true, true, false, false, MainOverlay::offline, false},
      {true, false, true, true, MainOverlay::error, false},
      {false, true, true, false, MainOverlay::offline, false},
      {false, false, true, true, MainOverlay::error, false},
      {false, false, false, true, MainOverlay::none, false},
      {false, false, false, false, MainOverlay::none, true},
      {true, false, false, false, MainOverlay::loading, true},
  };
  for (const auto& c : cases) {
    const auto shown = selectOverlays(c.loading, c.offline, c.error, c.connected);
    EXPECT_EQ(shown.main, c.main);
    EXPECT_EQ(shown.offlineToast, c.toast);
  }
}

TEST(LoadOverlays, LoadingTextCountsOneToThreeDotsAdvancingAlmostTwiceASecond) {
  EXPECT_EQ(overlay_motion::loadingText(0.0), "Loading.");
  EXPECT_EQ(overlay_motion::loadingText(0.6), "Loading..");
  EXPECT_EQ(overlay_motion::loadingText(1.2), "Loading...");
  EXPECT_EQ(overlay_motion::loadingText(1.7), "Loading.");
  for (double t = 0; t < 100; t += 0.013) {
    const auto text = overlay_motion::loadingText(t);
    ASSERT_TRUE(text == "Loading." || text == "Loading.." || text == "Loading...") << t;
  }
  EXPECT_DOUBLE_EQ(overlay_motion::spinnerDegrees(1.15 / 4), 90.0);
  EXPECT_NEAR(overlay_motion::glowCentre(0).second, 0.72, 1e-12);
}

TEST(LoadOverlays, OfflineTextsFollowConnectivity) {
  EXPECT_EQ(offlineTexts(false).subtitle, "Check your network and try again.");
  EXPECT_EQ(offlineTexts(false).button, "Try Again");
  EXPECT_EQ(offlineTexts(true).subtitle, "Connection restored. Tap reload to continue.");
  EXPECT_EQ(offlineTexts(true).button, "Reload");
}

class LoadOverlaysIntegration : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    gtk_init();
    Gtk::init_gtkmm_internals();
  }
  LoadOverlaysIntegration() {
    auto owned = std::make_unique<platform::FakeNetworkPath>();
    path_ = owned.get();
    monitor_ = std::make_unique<NetworkMonitor>(std::move(owned), &queue_);
  }
  void network(bool up) {
    path_->report(up ? platform::NetworkPathStatus::satisfied : platform::NetworkPathStatus::unsatisfied);
    queue_.runUntilIdle();
  }

  platform::VirtualQueue queue_;
  platform::ScopedMainQueue main_{queue_};
  RecordingLoadDiagnostics diagnostics_;
  std::shared_ptr<WebViewState> state_ = std::make_shared<WebViewState>(queue_, diagnostics_, [] { return true; });
  platform::FakeNetworkPath* path_ = nullptr;
  std::unique_ptr<NetworkMonitor> monitor_;
  Gtk::Overlay overlay_;
};

TEST_F(LoadOverlaysIntegration, TheLoadingCoverShowsTheLogoOfItsTheme) {
  std::vector<guchar> pixels[2];
  for (bool dark : {true, false}) {
    SCOPED_TRACE(dark ? "dark" : "light");
    LoadingOverlayView cover(dark);
    auto logo = std::dynamic_pointer_cast<const Gdk::Texture>(cover.logo());
    ASSERT_TRUE(logo) << "the logo image is missing from the resources or unreadable";
    EXPECT_GE(logo->get_width(), 250) << "drawn at least at the size the cover shows it";
    EXPECT_EQ(logo->get_width(), logo->get_height());
    auto& bytes = pixels[dark];
    bytes.resize(static_cast<std::size_t>(logo->get_width()) * logo->get_height() * 4);
    logo->download(bytes.data(), static_cast<std::size_t>(logo->get_width()) * 4);
  }
  EXPECT_NE(pixels[0], pixels[1]) << "each theme has its own logo";
}

TEST_F(LoadOverlaysIntegration, CoversFollowTheStateAndButtonsCallTheirActionEveryClick) {
  int retries = 0, reloads = 0;
  WebOverlayLayer layer(overlay_, state_, *monitor_, [] { return false; },
                        {[&] { ++retries; }, [&] { ++reloads; }});
  EXPECT_NE(dynamic_cast<LoadingOverlayView*>(layer.mainOverlay()), nullptr);

  state_->setLoading(false);
  state_->setOffline(true);
  auto* offline = dynamic_cast<OfflineOverlayView*>(layer.mainOverlay());
  ASSERT_NE(offline, nullptr);
  EXPECT_EQ(offline->buttonLabel().get_text(), "Reload");
  network(false);
  EXPECT_EQ(layer.mainOverlay(), offline);  // the same cover, new texts
  EXPECT_EQ(offline->buttonLabel().get_text(), "Try Again");
  EXPECT_EQ(offline->subtitle().get_text(), "Check your network and try again.");
  EXPECT_EQ(layer.toast(), nullptr);  // the page is not visible: no toast
  g_signal_emit_by_name(offline->button().gobj(), "clicked");
  g_signal_emit_by_name(offline->button().gobj(), "clicked");
  EXPECT_EQ(retries, 2);

  state_->setOffline(false);
  state_->setErrorMessage("");
  auto* error = dynamic_cast<ErrorOverlayView*>(layer.mainOverlay());
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->message().get_text(), "");
  EXPECT_NE(layer.toast(), nullptr);
  g_signal_emit_by_name(error->button().gobj(), "clicked");
  g_signal_emit_by_name(error->button().gobj(), "clicked");
  EXPECT_EQ(reloads, 2);

  state_->setErrorMessage(std::nullopt);
  network(true);
  EXPECT_EQ(layer.mainOverlay(), nullptr);
  EXPECT_EQ(layer.toast(), nullptr);
}

TEST_F(LoadOverlaysIntegration, NoConnectionStaysInSightWhileARetryLoads) {
  WebOverlayLayer layer(overlay_, state_, *monitor_, [] { return false; }, {[] {}, [] {}});
  state_->setLoading(false);
  state_->setOffline(true);
  auto* offline = dynamic_cast<OfflineOverlayView*>(layer.mainOverlay());
  ASSERT_NE(offline, nullptr);
  state_->setLoading(true);  // the user pressed Try Again
  EXPECT_EQ(layer.mainOverlay(), offline);
  state_->setOffline(false);  // the page came back: only the loader is left
  EXPECT_NE(dynamic_cast<LoadingOverlayView*>(layer.mainOverlay()), nullptr);
}

TEST_F(LoadOverlaysIntegration, TheDefaultReloadClearsTheErrorAndShowsTheLoader) {
  state_->setLoading(false);
  state_->setErrorMessage("It failed");
  WebOverlayLayer layer(overlay_, state_, *monitor_, [] { return true; }, {});
  auto* error = dynamic_cast<ErrorOverlayView*>(layer.mainOverlay());
  ASSERT_NE(error, nullptr);
  g_signal_emit_by_name(error->button().gobj(), "clicked");  // no page attached: only the state changes
  EXPECT_FALSE(state_->errorMessage());
  EXPECT_TRUE(state_->isLoading());
  EXPECT_NE(dynamic_cast<LoadingOverlayView*>(layer.mainOverlay()), nullptr);
}

}  // namespace
}  // namespace orvik
