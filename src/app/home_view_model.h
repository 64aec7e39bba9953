// The main window view's reactions to connectivity: a bounded automatic
// retry while the page has failed offline but the network is up, and a retry
// when the network comes back after a full outage.
//
// THREAD-SAFETY: main queue only; the delayed retry runs on the main queue.
#pragma once

#include <memory>

#include "platform/dispatch/task_queue.h"

namespace orvik {

// The load state of the page as the main window view sees it.
class PageLoadState {
 public:
  virtual ~PageLoadState() = default;
  virtual bool isOffline() const = 0;
  virtual void retry() = 0;
};

class HomeViewModel {
 public:
  static constexpr int kMaxStartupRetries = 3;
  static constexpr double kStartupRetryDelay = 1.5;

  // `page` may be null while the window has no page: then nothing is retried.
  HomeViewModel(PageLoadState* page, bool isConnected);
  ~HomeViewModel();

  // The page once it exists; null detaches it.
  void attachPage(PageLoadState* page) { page_ = page; }

  void handleOfflineChange(bool isOffline);
  void handleConnectivityChange(bool isConnected);

  int startupRetryCount() const { return startupRetryCount_; }

 private:
  void performAutoRetry();

  PageLoadState* page_;
  bool isConnected_;
  bool wasOffline_ = false;
  int startupRetryCount_ = 0;
  std::shared_ptr<platform::WorkItem> pendingRetry_;
};

}  // namespace orvik
