#include "app/home_view_model.h"

#include <gtest/gtest.h>

#include "platform/dispatch/virtual_queue.h"

namespace orvik {
namespace {

class FakePage final : public PageLoadState {
 public:
  bool isOffline() const override { return offline; }
  void retry() override { ++retries; }
  bool offline = false;
  int retries = 0;
};

class HomeViewModelTest : public ::testing::Test {
 protected:
  platform::VirtualQueue queue;
  platform::ScopedMainQueue scoped{queue};
  FakePage page;
};

TEST_F(HomeViewModelTest, AFailedPageIsRetriedThreeTimesAtMostWhileTheNetworkIsUp) {
  HomeViewModel model(&page, true);
  page.offline = true;
  for (int attempt = 1; attempt <= 5; ++attempt) {
    model.handleOfflineChange(true);
    queue.advance(1.4);
    EXPECT_EQ(page.retries, std::min(attempt - 1, 3)) << "before the delay, attempt " << attempt;
    queue.advance(0.1);
    EXPECT_EQ(page.retries, std::min(attempt, 3)) << "after the delay, attempt " << attempt;
  }
  // Leaving the offline state starts a new allowance.
  model.handleOfflineChange(false);
  model.handleOfflineChange(true);
  queue.advance(1.5);
  EXPECT_EQ(page.retries, 4);
}

TEST_F(HomeViewModelTest, NothingIsRetriedWhileTheNetworkIsDown) {
  HomeViewModel model(&page, false);
  page.offline = true;
  model.handleOfflineChange(true);
  queue.advance(10);
  EXPECT_EQ(page.retries, 0);
  EXPECT_EQ(model.startupRetryCount(), 0);
}

TEST_F(HomeViewModelTest, ARetryDueAfterThePageRecoveredOrTheNetworkDroppedDoesNothing) {
  HomeViewModel model(&page, true);
  page.offline = true;
  model.handleOfflineChange(true);
  page.offline = false;
  queue.advance(1.5);
  EXPECT_EQ(page.retries, 0);

  page.offline = true;
  model.handleOfflineChange(true);
  model.handleConnectivityChange(false);
  queue.advance(1.5);
  EXPECT_EQ(page.retries, 0);
}

TEST_F(HomeViewModelTest, TheNetworkReturningRetriesAFailedPageAtOnceButLeavesAVisiblePageAlone) {
  HomeViewModel model(&page, true);
  model.handleConnectivityChange(false);
  model.handleConnectivityChange(true);
  EXPECT_EQ(page.retries, 0);  // the page stayed visible: it reconnects by itself

  model.handleConnectivityChange(false);
  page.offline = true;
  model.handleConnectivityChange(true);
  EXPECT_EQ(page.retries, 1);
  model.handleConnectivityChange(true);
  EXPECT_EQ(page.retries, 1);
}

TEST_F(HomeViewModelTest, WithoutAPageNothingHappens) {
  HomeViewModel model(nullptr, true);
  model.handleOfflineChange(true);
  model.handleConnectivityChange(false);
  model.handleConnectivityChange(true);
  EXPECT_EQ(queue.pendingCount(), 0u);
}

}  // namespace
}  // namespace orvik
