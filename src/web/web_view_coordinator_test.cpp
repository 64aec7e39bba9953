#include "web/web_view_coordinator.h"

#include <gio/gio.h>
#include <gtest/gtest.h>
#include <webkit/webkit.h>

#include "calls/signaling/test_support/recording_call_credentials_sink.h"
#include "core/recording_load_diagnostics.h"
#include "core/update_banner.h"
#include "platform/dispatch/virtual_queue.h"
#include "platform/recording_page_script_sink.h"
#include "web/credential_fetcher.h"
#include "web/fake_web_page.h"
#include "web/web_view_state.h"

namespace orvik {
namespace {

class RecordingUpdateBanner final : public UpdateBanner {
 public:
  void setUserLoggedIn(bool loggedIn) override { events.push_back(loggedIn ? "loggedIn=1" : "loggedIn=0"); }
  void setBannerAnchorBottom(double) override { events.push_back("anchor"); }
  void setShowUpdateDialog(bool show) override { events.push_back(show ? "dialog=1" : "dialog=0"); }
  bool hasUpdateInfo() const override { return false; }
  void checkForUpdates(bool silent) override { events.push_back(silent ? "check silent" : "check"); }
  std::vector<std::string> events;
};

constexpr const char* kURI = "https://app.orvikdesk.example/chat?token=secret";

LoadError error(const char* domain, int code, const char* message = "It failed") {
  return {domain, code, message, std::nullopt};
}
const LoadError kCancelled = error(load_error_domain::kWebKitNetwork, WEBKIT_NETWORK_ERROR_CANCELLED);
const LoadError kOffline = error(load_error_domain::kResolver, G_RESOLVER_ERROR_NOT_FOUND);
const LoadError kRefused = error(load_error_domain::kGIO, G_IO_ERROR_CONNECTION_REFUSED, "Connection refused");
const LoadError kPolicy = error(load_error_domain::kWebKitPolicy, WEBKIT_POLICY_ERROR_CANNOT_SHOW_URI, "No");

class WebViewCoordinatorTest : public ::testing::Test {
 protected:
  WebViewCoordinatorTest() {
    state_->attachPage(page_);
    hooks_.pageReadyForLogs = [this] { ++logsReady_; };
    hooks_.focusWebView = [this] { ++focused_; };
    hooks_.cancelFileChooser = [this] { ++choosersCancelled_; };
    hooks_.isFileInsideAppFolders = [](const std::string& uri) { return uri.rfind("file:///app/", 0) == 0; };
    coordinator_ = std::make_unique<WebViewCoordinator>(queue_, queue_.clock(), state_, diagnostics_, hooks_);
    finishedObserver_ = webViewDidFinishLoadingObservers().add([this] { ++finishedNotices_; });
  }

  void start() {
    coordinator_->handleDidStartLoading(kURI);
    queue_.runUntilIdle();
  }
  void finish() {
    coordinator_->handleDidFinishLoading(kURI);
    queue_.runUntilIdle();
  }

  platform::VirtualQueue queue_;
  platform::ScopedMainQueue main_{queue_};
  RecordingLoadDiagnostics diagnostics_;
  std::shared_ptr<FakeWebPage> page_ = std::make_shared<FakeWebPage>();
  std::shared_ptr<WebViewState> state_ = std::make_shared<WebViewState>(queue_, diagnostics_, [] { return true; });
  WebViewCoordinator::Hooks hooks_;
  std::unique_ptr<WebViewCoordinator> coordinator_;
  int logsReady_ = 0, focused_ = 0, choosersCancelled_ = 0, finishedNotices_ = 0;
  platform::Subscription finishedObserver_;
};

TEST_F(WebViewCoordinatorTest, StartCommitAndFinishDriveTheLoadState) {
  state_->setErrorMessage("old");
  state_->setOffline(true);
  const auto generation = state_->renderCheckGeneration();
  coordinator_->handleDidStartLoading(kURI);
  EXPECT_EQ(state_->renderCheckGeneration(), generation + 1);  // at once, inside the callback
  EXPECT_FALSE(state_->hasLoadingTimeout());                  // the rest is posted
  queue_.runUntilIdle();
  EXPECT_TRUE(state_->isLoading());
  EXPECT_EQ(state_->loadingProgress(), 0.1);
  EXPECT_FALSE(state_->errorMessage());
  EXPECT_TRUE(state_->isOffline());
  EXPECT_TRUE(state_->hasLoadingTimeout());
  EXPECT_EQ(diagnostics_.lines.front(), "started https://app.orvikdesk.example/chat");

  coordinator_->handleDidCommitNavigation();
  queue_.runUntilIdle();
  EXPECT_EQ(state_->loadingProgress(), 0.5);

  finish();
  EXPECT_FALSE(state_->isLoading());
  EXPECT_EQ(state_->loadingProgress(), 1.0);
  EXPECT_FALSE(state_->isOffline());
  EXPECT_FALSE(state_->hasLoadingTimeout());
  EXPECT_TRUE(state_->renderCheckPending());
  EXPECT_EQ(state_->loadedURL(), kURI);
  EXPECT_EQ(finishedNotices_, 1);
  EXPECT_EQ(logsReady_, 1);
  EXPECT_EQ(focused_, 1);
  EXPECT_TRUE(diagnostics_.has("finished https://app.orvikdesk.example/chat"));
}

TEST_F(WebViewCoordinatorTest, FailuresSetTheOverlayStateTheirClassAsks) {
  struct Case {
    const char* name;
    bool provisional;
    LoadError error;
    std::optional<std::string> message;
    bool offline;
    const char* stage;
  };
  const std::vector<Case> cases = {
      {"after commit", false, kRefused, "Connection refused", true, "FAIL stage=didFail error=g-io-error-quark#"},
      {"provisional offline", true, kOffline, std::nullopt, true, "FAIL stage=didFailProvisionalNavigation"},
      {"provisional network", true, kRefused, "Connection refused", false, "FAIL stage=didFailProvisionalNavigation"},
      {"provisional other", true, kPolicy, "No", true, "FAIL stage=didFailProvisionalNavigation"},
  };
  for (const auto& c : cases) {
    start();
    state_->setOffline(true);  // to see which failures leave it alone
    diagnostics_.lines.clear();
    if (c.provisional) {
      coordinator_->handleProvisionalNavigationFailure(kURI, c.error);
    } else {
      coordinator_->handleNavigationFailure(kURI, c.error);
    }
    EXPECT_FALSE(state_->hasLoadingTimeout()) << c.name;
    queue_.runUntilIdle();
    EXPECT_FALSE(state_->isLoading()) << c.name;
    EXPECT_EQ(state_->errorMessage(), c.message) << c.name;
    EXPECT_EQ(state_->isOffline(), c.offline) << c.name;
    EXPECT_TRUE(diagnostics_.has(c.stage)) << c.name;
    EXPECT_FALSE(state_->renderCheckPending()) << c.name;
  }
}

TEST_F(WebViewCoordinatorTest, ACancelledLoadInEitherPhaseIsNotAnErrorAndLetsTheRenderCheckDecide) {
  for (bool provisional : {false, true}) {
    start();
    state_->setErrorMessage("earlier");
    diagnostics_.lines.clear();
    if (provisional) {
      coordinator_->handleProvisionalNavigationFailure(kURI, kCancelled);
    } else {
      coordinator_->handleNavigationFailure(kURI, kCancelled);
    }
    queue_.runUntilIdle();
    EXPECT_FALSE(state_->isLoading());
    EXPECT_EQ(state_->errorMessage(), "earlier");
    EXPECT_FALSE(state_->hasLoadingTimeout());
    EXPECT_TRUE(state_->renderCheckPending());
    EXPECT_EQ(diagnostics_.lines, std::vector<std::string>{"record navigation cancelled (-999) url=https://app.orvikdesk.example/chat"});
  }
}

TEST_F(WebViewCoordinatorTest, ALoadCancelledByTheNextOneLeavesTheNextOnesTimeOutArmed) {
  start();
  coordinator_->handleProvisionalNavigationFailure(kURI, kCancelled);
  coordinator_->handleDidStartLoading(kURI);  // the replacing load
  queue_.runUntilIdle();
  EXPECT_TRUE(state_->isLoading());
  EXPECT_TRUE(state_->hasLoadingTimeout());
  EXPECT_FALSE(state_->renderCheckPending());
  queue_.advance(15.0);
  EXPECT_EQ(page_->evaluated.size(), 1u);  // the time-out's render check
}

TEST_F(WebViewCoordinatorTest, AFinishAfterAFailureClearsTheErrorAndTheOfflineFlag) {
  start();
  coordinator_->handleProvisionalNavigationFailure(kURI, kOffline);
  queue_.runUntilIdle();
  state_->setErrorMessage("x");
  start();
  finish();
  EXPECT_FALSE(state_->errorMessage());
  EXPECT_FALSE(state_->isOffline());
}

TEST_F(WebViewCoordinatorTest, ThreeWebProcessDeathsAMinuteReloadTheFourthGivesUpUntilTheyAge) {
  finish();
  for (int death = 1; death <= 3; ++death) {
    coordinator_->handleContentProcessTermination(kURI);
    EXPECT_EQ(page_->reloads, death);
    EXPECT_FALSE(state_->renderCheckPending());
    EXPECT_TRUE(diagnostics_.has("FAIL stage=webContentProcessTerminated details=url=https://app.orvikdesk.example/chat "
                                 "crashesInLast60s=" + std::to_string(death)));
    queue_.advance(10.0);
  }
  coordinator_->handleContentProcessTermination(kURI);
  EXPECT_EQ(page_->reloads, 3);
  EXPECT_FALSE(state_->isLoading());
  EXPECT_FALSE(state_->hasLoadingTimeout());
  EXPECT_EQ(state_->errorMessage(), kWebProcessStoppedMessage);
  EXPECT_EQ(choosersCancelled_, 4);
  // The first death is 60 s old at 60 s: two others remain younger.
  queue_.advance(60.0 - 30.0);
  coordinator_->handleContentProcessTermination(kURI);
  EXPECT_EQ(page_->reloads, 3);  // deaths at 10, 20, 30 and now: 4
  queue_.advance(20.0);
  coordinator_->handleContentProcessTermination(kURI);
  EXPECT_EQ(page_->reloads, 4);
}

TEST_F(WebViewCoordinatorTest, FileNavigationsGoOnlyInsideTheAppFolders) {
  EXPECT_TRUE(coordinator_->decideNavigationPolicy(std::nullopt));
  EXPECT_TRUE(coordinator_->decideNavigationPolicy("https://elsewhere.example/"));
  EXPECT_TRUE(coordinator_->decideNavigationPolicy("about:blank"));
  EXPECT_TRUE(coordinator_->decideNavigationPolicy("orvikfile://x"));
  EXPECT_TRUE(coordinator_->decideNavigationPolicy("file:///app/Documents/a.pdf"));
  EXPECT_FALSE(coordinator_->decideNavigationPolicy("file:///etc/passwd"));
}

TEST_F(WebViewCoordinatorTest, PinningRefusalIsRecordedWithTheHost) {
  coordinator_->handlePinningRefused("app.orvikdesk.example");
  EXPECT_EQ(diagnostics_.lines, std::vector<std::string>{"FAIL stage=certificatePinning details=host=app.orvikdesk.example"});
}

TEST_F(WebViewCoordinatorTest, StepsPostedBeforeTheCoordinatorWentAwayDoNothing) {
  coordinator_->handleDidStartLoading(kURI);
  coordinator_->handleDidFinishLoading(kURI);
  coordinator_.reset();
  queue_.advance(5.0);
  EXPECT_TRUE(state_->isLoading());
  EXPECT_EQ(state_->loadingProgress(), 0.0);
  EXPECT_EQ(finishedNotices_, 0);
}

}  // namespace
}  // namespace orvik

namespace orvik {
namespace {

TEST_F(WebViewCoordinatorTest, CredentialsAreFetchedOneAndAHalfSecondsAfterEachFinishedLoad) {
  RecordingCallCredentialsSink calls;
  auto scripts = std::make_shared<platform::RecordingPageScriptSink>();
  std::vector<std::string> logged;
  CredentialFetcher fetcher(queue_, queue_.clock(), calls, scripts,
                            {[&](const std::string& line) { logged.push_back(line); }, {}, {}});
  coordinator_->setCredentialFetcher(&fetcher);
  start();
  finish();
  queue_.advance(1.49);
  EXPECT_TRUE(scripts->scripts.empty());
  queue_.advance(0.01);
  ASSERT_EQ(scripts->scripts.size(), 1u);
  EXPECT_EQ(logged.back(), "[WebView] didFinish — fetching credentials (session restore)");
  // That run counts as the last start, until the next load begins.
  fetcher.fetchCredentials("bridge-message");
  EXPECT_EQ(scripts->scripts.size(), 1u);
  start();
  fetcher.fetchCredentials("bridge-message");
  EXPECT_EQ(scripts->scripts.size(), 2u);
  coordinator_->setCredentialFetcher(nullptr);
}

// Each load hides the banner until the new page reports a signed-in user,
// and each finished load asks for a silent check 2.5 s later; a second load
// finishing in between does not swallow the first one's check, and checks
// still waiting when the banner goes away never run.
TEST_F(WebViewCoordinatorTest, LoadsHideTheUpdateBannerAndFinishedLoadsCheckSilentlyTwoAndAHalfSecondsLater) {
  RecordingUpdateBanner banner;
  coordinator_->setUpdateBanner(&banner);
  start();
  EXPECT_EQ(banner.events, (std::vector<std::string>{"loggedIn=0", "dialog=0"}));
  banner.events.clear();

  finish();
  queue_.advance(2.4);
  EXPECT_TRUE(banner.events.empty());
  finish();
  queue_.advance(0.1);
  EXPECT_EQ(banner.events, (std::vector<std::string>{"check silent"}));
  queue_.advance(2.4);
  EXPECT_EQ(banner.events, (std::vector<std::string>{"check silent", "check silent"}));

  banner.events.clear();
  finish();
  coordinator_->setUpdateBanner(nullptr);
  queue_.advance(10.0);
  start();
  EXPECT_TRUE(banner.events.empty());
}

}  // namespace
}  // namespace orvik
