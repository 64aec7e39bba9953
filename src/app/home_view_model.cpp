#include "app/home_view_model.h"

#include "platform/queue_checker.h"

namespace orvik {

HomeViewModel::HomeViewModel(PageLoadState* page, bool isConnected) : page_(page), isConnected_(isConnected) {}

HomeViewModel::~HomeViewModel() {
  if (pendingRetry_) pendingRetry_->cancel();
}

void HomeViewModel::handleOfflineChange(bool isOffline) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  if (!isOffline) {
    startupRetryCount_ = 0;
    return;
  }
  if (!page_ || !isConnected_ || startupRetryCount_ >= kMaxStartupRetries) return;
  ++startupRetryCount_;
  pendingRetry_ = std::make_shared<platform::WorkItem>([this] { performAutoRetry(); });
  platform::mainQueue().postAfter(kStartupRetryDelay, pendingRetry_);
}

void HomeViewModel::performAutoRetry() {
  if (page_ && page_->isOffline() && isConnected_) page_->retry();
}

void HomeViewModel::handleConnectivityChange(bool isConnected) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  isConnected_ = isConnected;
  // After a full outage the page is retried at once; a page that stayed
  // visible reconnects by itself.
  if (isConnected && wasOffline_ && page_ && page_->isOffline()) page_->retry();
  wasOffline_ = !isConnected;
}

}  // namespace orvik
