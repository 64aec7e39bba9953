#include "web/web_view_state.h"

#include <gtest/gtest.h>

#include "core/recording_load_diagnostics.h"
#include "platform/dispatch/virtual_queue.h"
#include "web/fake_web_page.h"

namespace orvik {
namespace {

class WebViewStateTest : public ::testing::Test {
 protected:
  WebViewStateTest() {
    state_->attachPage(page_);
    state_->setLoadedURL("https://app.orvikdesk.example/");
  }
  // A finished load: not loading, series of 6 checks 3 s apart.
  void finishLoad() {
    state_->setLoading(false);
    state_->scheduleRenderCheck(3.0, 6);
  }

  platform::VirtualQueue queue_;
  platform::ScopedMainQueue main_{queue_};
  RecordingLoadDiagnostics diagnostics_;
  bool active_ = true;
  std::shared_ptr<WebViewState> state_ =
      std::make_shared<WebViewState>(queue_, diagnostics_, [this] { return active_; });
  std::shared_ptr<FakeWebPage> page_ = std::make_shared<FakeWebPage>();
};

TEST_F(WebViewStateTest, ASecondTimeOutReplacesTheFirst) {
  state_->startLoadingTimeout(15.0);
  queue_.advance(10.0);
  state_->startLoadingTimeout(15.0);
  queue_.advance(5.0);
  EXPECT_TRUE(page_->evaluated.empty());
  queue_.advance(10.0);
  EXPECT_EQ(page_->evaluated.size(), 1u);
}

TEST_F(WebViewStateTest, TimeOutWithABlankPageShowsTheLoadFailure) {
  state_->startLoadingTimeout(15.0);
  queue_.advance(15.0);
  page_->answerRendered(false);
  queue_.runUntilIdle();
  EXPECT_FALSE(state_->isLoading());
  EXPECT_EQ(state_->loadingProgress(), 0.0);
  EXPECT_EQ(state_->errorMessage(), kLoadFailedMessage);
  EXPECT_TRUE(diagnostics_.has("FAIL stage=loadTimeout details=15s hasRoot=true readyState=complete"));
}

TEST_F(WebViewStateTest, TimeOutWithARenderedPageOnlyRecordsALateLoadEvent) {
  state_->startLoadingTimeout(15.0);
  queue_.advance(15.0);
  page_->answerRendered(true);
  queue_.runUntilIdle();
  EXPECT_FALSE(state_->isLoading());
  EXPECT_FALSE(state_->errorMessage());
  EXPECT_TRUE(diagnostics_.has("record load timeout (15s) but app rendered — load event late hasRoot=true"));
}

TEST_F(WebViewStateTest, TimeOutDoesNothingWhenTheLoadAlreadyEnded) {
  state_->startLoadingTimeout(15.0);
  state_->setLoading(false);
  queue_.advance(30.0);
  EXPECT_TRUE(page_->evaluated.empty());
}

TEST_F(WebViewStateTest, ALateTimeOutAnswerDoesNotOverwriteANewerLoad) {
  state_->startLoadingTimeout(15.0);
  queue_.advance(15.0);  // the check is waiting for its reply
  state_->invalidateRenderChecks();  // a new load starts
  page_->answerRendered(false);
  queue_.advance(10.0);
  EXPECT_TRUE(state_->isLoading());
  EXPECT_FALSE(state_->errorMessage());
  EXPECT_FALSE(diagnostics_.has("FAIL stage=loadTimeout"));
}

TEST_F(WebViewStateTest, RenderCheckSeriesStopsAtTheFirstRenderedAnswer) {
  finishLoad();
  queue_.advance(3.0);
  page_->answerRendered(false);
  queue_.advance(3.0);
  page_->answerRendered(true);
  queue_.advance(60.0);
  EXPECT_EQ(page_->evaluated.size(), 2u);
  EXPECT_FALSE(state_->renderCheckPending());
  EXPECT_TRUE(diagnostics_.has("record app rendered after=1.0s"));
  EXPECT_FALSE(state_->errorMessage());
}

TEST_F(WebViewStateTest, ABlankPageIsReportedAfterSixChecksEighteenSecondsAfterTheFinish) {
  finishLoad();
  for (int check = 1; check <= 6; ++check) {
    queue_.advance(3.0);
    ASSERT_EQ(page_->evaluated.size(), static_cast<std::size_t>(check));
    EXPECT_FALSE(state_->errorMessage());
    page_->answer("garbage");
  }
  queue_.runUntilIdle();
  EXPECT_EQ(state_->errorMessage(), kLoadFailedMessage);
  EXPECT_FALSE(state_->renderCheckPending());
  EXPECT_TRUE(diagnostics_.has("FAIL stage=blankPageAfterLoad details=18s after didFinish evalError=no result"));
  queue_.advance(60.0);
  EXPECT_EQ(page_->evaluated.size(), 6u);
}

TEST_F(WebViewStateTest, UnansweredChecksCountAsBlank) {
  finishLoad();
  queue_.advance(6 * 13.0);
  EXPECT_EQ(state_->errorMessage(), kLoadFailedMessage);
  EXPECT_TRUE(diagnostics_.has("FAIL stage=blankPageAfterLoad details=18s after didFinish unresponsive="));
}

TEST_F(WebViewStateTest, ALoadStartAbandonsAScheduledOrWaitingCheck) {
  finishLoad();
  state_->invalidateRenderChecks();
  queue_.advance(3.0);
  EXPECT_TRUE(page_->evaluated.empty());

  finishLoad();
  queue_.advance(3.0);
  state_->invalidateRenderChecks();
  page_->answerRendered(false);
  queue_.advance(60.0);
  EXPECT_EQ(page_->evaluated.size(), 1u);
  EXPECT_FALSE(state_->errorMessage());
}

TEST_F(WebViewStateTest, HealthCheckRunsOnlyWhenThePageIsIdleVisibleAndActive) {
  state_->setLoading(false);
  state_->startHealthMonitoring();
  struct Condition {
    const char* name;
    std::function<void()> apply;
    std::function<void()> undo;
  };
  const std::vector<Condition> blockers = {
      {"hidden", [&] { page_->visible = false; }, [&] { page_->visible = true; }},
      {"inactive", [&] { active_ = false; }, [&] { active_ = true; }},
      {"loading", [&] { state_->setLoading(true); }, [&] { state_->setLoading(false); }},
      {"offline", [&] { state_->setOffline(true); }, [&] { state_->setOffline(false); }},
      {"error", [&] { state_->setErrorMessage("x"); }, [&] { state_->setErrorMessage(std::nullopt); }},
      {"series", [&] { state_->scheduleRenderCheck(1000.0, 6); }, [&] { state_->invalidateRenderChecks(); }},
  };
  for (const auto& blocker : blockers) {
    blocker.apply();
    queue_.advance(30.0);
    state_->applicationBecameActive();
    EXPECT_TRUE(page_->evaluated.empty()) << blocker.name;
    blocker.undo();
  }
  queue_.advance(30.0);
  EXPECT_EQ(page_->evaluated.size(), 1u);
  // In flight: neither the timer nor an activation starts a second one.
  state_->applicationBecameActive();
  queue_.advance(5.0);
  EXPECT_EQ(page_->evaluated.size(), 1u);
}

TEST_F(WebViewStateTest, TwoBlankHealthChecksInARowShowTheErrorWithoutReloading) {
  state_->setLoading(false);
  state_->startHealthMonitoring();
  queue_.advance(30.0);
  page_->answerRendered(false);
  queue_.runUntilIdle();
  EXPECT_EQ(state_->consecutiveBlankChecks(), 1);
  state_->applicationBecameActive();
  page_->answerRendered(true);  // a rendered answer in between resets the count
  queue_.runUntilIdle();
  EXPECT_EQ(state_->consecutiveBlankChecks(), 0);
  queue_.advance(30.0);
  page_->answerRendered(false);
  queue_.advance(30.0);
  EXPECT_FALSE(state_->errorMessage());
  page_->answerRendered(false);
  queue_.runUntilIdle();
  EXPECT_EQ(state_->errorMessage(), kLoadFailedMessage);
  EXPECT_EQ(state_->consecutiveBlankChecks(), 0);
  EXPECT_TRUE(diagnostics_.has("record health check (timer) not rendered 2/2 hasRoot=true"));
  EXPECT_TRUE(diagnostics_.has("FAIL stage=blankPageDuringUse details=trigger=timer hasRoot=true"));
  EXPECT_EQ(page_->reloads, 0);
}

TEST_F(WebViewStateTest, ABlankHealthAnswerWhileLoadingLeavesTheCountAlone) {
  state_->setLoading(false);
  state_->startHealthMonitoring();
  queue_.advance(30.0);
  page_->answerRendered(false);
  queue_.runUntilIdle();
  state_->applicationBecameActive();
  state_->setLoading(true);
  page_->answerRendered(false);
  queue_.runUntilIdle();
  EXPECT_EQ(state_->consecutiveBlankChecks(), 1);
  EXPECT_FALSE(state_->healthCheckInFlight());
  EXPECT_FALSE(state_->errorMessage());
}

TEST_F(WebViewStateTest, ReloadWithoutACurrentAddressLoadsTheKnownOneFresh) {
  page_->uri.reset();
  state_->setErrorMessage("x");
  state_->reload();
  EXPECT_FALSE(state_->errorMessage());
  EXPECT_TRUE(state_->isLoading());
  ASSERT_EQ(page_->loads.size(), 1u);
  EXPECT_EQ(page_->loads[0].second, CachePolicy::useProtocolCachePolicy);
  EXPECT_EQ(page_->reloads, 0);
  EXPECT_TRUE(state_->hasLoadingTimeout());
}

TEST_F(WebViewStateTest, AReloadThatStartsNothingLetsTheRenderCheckDecide) {
  page_->reloadStarts = false;
  state_->reload();
  EXPECT_FALSE(state_->isLoading());
  EXPECT_FALSE(state_->hasLoadingTimeout());
  EXPECT_TRUE(state_->renderCheckPending());
  EXPECT_TRUE(diagnostics_.has("record reload() returned nil — no navigation started"));
  queue_.advance(3.0);
  EXPECT_EQ(page_->evaluated.size(), 1u);
}

TEST_F(WebViewStateTest, RetryLoadsTheKnownAddressAndDoesNothingWithoutOne) {
  state_->setOffline(true);
  state_->setErrorMessage("x");
  state_->retry();
  EXPECT_FALSE(state_->isOffline());
  EXPECT_FALSE(state_->errorMessage());
  ASSERT_EQ(page_->loads.size(), 1u);
  EXPECT_EQ(page_->loads[0].second, CachePolicy::returnCacheDataElseLoad);

  state_->setLoadedURL(std::nullopt);
  state_->setErrorMessage("x");
  state_->retry();
  EXPECT_EQ(page_->loads.size(), 1u);
  EXPECT_EQ(state_->errorMessage(), "x");
}

TEST_F(WebViewStateTest, ObserversHearEachChangeOnce) {
  int changes = 0;
  const auto subscription = state_->addObserver([&] { ++changes; });
  state_->setLoading(true);  // unchanged
  state_->setLoading(false);
  state_->setErrorMessage("x");
  state_->setErrorMessage("x");
  EXPECT_EQ(changes, 2);
}

TEST_F(WebViewStateTest, PendingWorkDoesNothingOnceTheStateIsGone) {
  state_->startLoadingTimeout(15.0);
  finishLoad();
  state_->startHealthMonitoring();
  state_.reset();
  queue_.advance(100.0);
  EXPECT_TRUE(page_->evaluated.empty());
}

}  // namespace
}  // namespace orvik
