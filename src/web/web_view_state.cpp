#include "web/web_view_state.h"

#include <cmath>

#include "core/load_diagnostics.h"
#include "platform/queue_checker.h"
#include "web/web_page.h"

namespace orvik {
namespace {

std::string wholeSeconds(double seconds) { return std::to_string(static_cast<long long>(std::llround(seconds))); }

}  // namespace

WebViewState::WebViewState(platform::TaskQueue& queue, LoadDiagnostics& diagnostics,
                           std::function<bool()> isApplicationActive)
    : queue_(queue), diagnostics_(diagnostics), isApplicationActive_(std::move(isApplicationActive)) {}

WebViewState::~WebViewState() { cancelLoadingTimeout(); }

void WebViewState::setLoading(bool loading) {
  ORVIK_ASSERT_ON_QUEUE(queue_);
  if (isLoading_ == loading) return;
  isLoading_ = loading;
  notify();
}

void WebViewState::setLoadingProgress(double progress) {
  ORVIK_ASSERT_ON_QUEUE(queue_);
  if (loadingProgress_ == progress) return;
  loadingProgress_ = progress;
  notify();
}

void WebViewState::setErrorMessage(std::optional<std::string> message) {
  ORVIK_ASSERT_ON_QUEUE(queue_);
  if (errorMessage_ == message) return;
  errorMessage_ = std::move(message);
  notify();
}

void WebViewState::setOffline(bool offline) {
  ORVIK_ASSERT_ON_QUEUE(queue_);
  if (isOffline_ == offline) return;
  isOffline_ = offline;
  notify();
}

void WebViewState::startLoadingTimeout(double seconds) {
  ORVIK_ASSERT_ON_QUEUE(queue_);
  cancelLoadingTimeout();
  loadingTimeoutTask_ = std::make_shared<platform::WorkItem>(
      [weak = weak_from_this(), seconds] {
        if (auto self = weak.lock()) self->handleLoadingTimeout(seconds);
      });
  queue_.postAfter(seconds, loadingTimeoutTask_);
}

void WebViewState::cancelLoadingTimeout() {
  ORVIK_ASSERT_ON_QUEUE(queue_);
  if (loadingTimeoutTask_) loadingTimeoutTask_->cancel();
  loadingTimeoutTask_.reset();
}

void WebViewState::invalidateRenderChecks() {
  ORVIK_ASSERT_ON_QUEUE(queue_);
  ++renderCheckGeneration_;
  renderCheckPending_ = false;
}

void WebViewState::runCheck(std::function<void(WebViewState&, RenderCheckResult)> handler) {
  runRenderCheck(queue_, diagnostics_, page_,
                 [weak = weak_from_this(), handler = std::move(handler)](RenderCheckResult result) {
                   if (auto self = weak.lock()) handler(*self, std::move(result));
                 });
}

void WebViewState::handleLoadingTimeout(double seconds) {
  loadingTimeoutTask_.reset();
  if (!isLoading_) return;
  const auto generation = renderCheckGeneration_;
  runCheck([seconds, generation](WebViewState& self, RenderCheckResult result) {
    self.handleLoadEventLate(result, seconds, generation);
  });
}

void WebViewState::handleLoadEventLate(const RenderCheckResult& result, double seconds, std::int64_t generation) {
  // A newer load started while the check waited for its reply: its answer
  // says nothing about that load.
  if (generation != renderCheckGeneration_) return;
  setLoading(false);
  setLoadingProgress(0.0);
  if (result.rendered) {
    diagnostics_.record("load timeout (" + wholeSeconds(seconds) + "s) but app rendered — load event late " +
                            result.details,
                        false);
    return;
  }
  diagnostics_.loadFailed("loadTimeout", std::nullopt, wholeSeconds(seconds) + "s " + result.details);
  setErrorMessage(kLoadFailedMessage);
}

void WebViewState::scheduleRenderCheck(double interval, int maxChecks) {
  ORVIK_ASSERT_ON_QUEUE(queue_);
  ++renderCheckGeneration_;
  renderCheckPending_ = true;
  const auto generation = renderCheckGeneration_;
  queue_.postAfter(interval, [weak = weak_from_this(), generation, maxChecks, interval] {
    if (auto self = weak.lock()) self->runRenderCheckAfterLoad(generation, 1, maxChecks, interval);
  });
}

void WebViewState::runRenderCheckAfterLoad(std::int64_t generation, int check, int maxChecks, double interval) {
  if (generation != renderCheckGeneration_) return;
  runCheck([generation, check, maxChecks, interval](WebViewState& self, RenderCheckResult result) {
    self.handleRenderCheckAfterLoad(result, generation, check, maxChecks, interval);
  });
}

void WebViewState::handleRenderCheckAfterLoad(const RenderCheckResult& result, std::int64_t generation, int check,
                                              int maxChecks, double interval) {
  if (generation != renderCheckGeneration_) return;
  if (result.rendered) {
    renderCheckPending_ = false;
    diagnostics_.record("app rendered after=" + diagnostics_.elapsedSinceLoadStart(), false);
    return;
  }
  if (check < maxChecks) {
    queue_.postAfter(interval, [weak = weak_from_this(), generation, check, maxChecks, interval] {
      if (auto self = weak.lock()) self->runRenderCheckAfterLoad(generation, check + 1, maxChecks, interval);
    });
    return;
  }
  renderCheckPending_ = false;
  diagnostics_.loadFailed("blankPageAfterLoad", std::nullopt,
                          wholeSeconds(maxChecks * interval) + "s after didFinish " + result.details);
  setLoading(false);
  setErrorMessage(kLoadFailedMessage);
}

void WebViewState::startHealthMonitoring() {
  ORVIK_ASSERT_ON_QUEUE(queue_);
  if (healthTimer_) return;
  healthTimer_ = std::make_unique<platform::RepeatingTimer>(queue_, kHealthCheckIntervalSeconds,
                                                            [weak = weak_from_this()] {
                                                              if (auto self = weak.lock()) self->runHealthCheck("timer");
                                                            });
  healthTimer_->start();
}

void WebViewState::applicationBecameActive() {
  ORVIK_ASSERT_ON_QUEUE(queue_);
  if (healthTimer_) runHealthCheck("appActive");
}

void WebViewState::runHealthCheck(const std::string& trigger) {
  ORVIK_ASSERT_ON_QUEUE(queue_);
  const auto page = page_.lock();
  if (!page || !page->isInVisibleWindow()) return;
  if (isApplicationActive_ && !isApplicationActive_()) return;
  if (isLoading_ || isOffline_ || errorMessage_ || renderCheckPending_ || healthCheckInFlight_) return;
  healthCheckInFlight_ = true;
  runCheck([trigger](WebViewState& self, RenderCheckResult result) { self.handleBlankPageDuringUse(result, trigger); });
}

void WebViewState::handleBlankPageDuringUse(const RenderCheckResult& result, const std::string& trigger) {
  healthCheckInFlight_ = false;
  if (isLoading_ || errorMessage_ || renderCheckPending_) return;
  if (result.rendered) {
    consecutiveBlankChecks_ = 0;
    return;
  }
  ++consecutiveBlankChecks_;
  diagnostics_.record("health check (" + trigger + ") not rendered " + std::to_string(consecutiveBlankChecks_) +
                          "/2 " + result.details,
                      false);
  if (consecutiveBlankChecks_ < 2) return;
  consecutiveBlankChecks_ = 0;
  diagnostics_.loadFailed("blankPageDuringUse", std::nullopt, "trigger=" + trigger + " " + result.details);
  setErrorMessage(kLoadFailedMessage);
}

void WebViewState::reload() {
  ORVIK_ASSERT_ON_QUEUE(queue_);
  const auto page = page_.lock();
  if (!page) return;
  setErrorMessage(std::nullopt);
  setLoading(true);
  startLoadingTimeout(kLoadingTimeoutSeconds);
  if (!page->currentURI() && loadedURL_) {
    diagnostics_.record("reload: no current URL — loading " + diagnostics_.redactedURLString(loadedURL_) + " fresh",
                        false);
    page->load(*loadedURL_, CachePolicy::useProtocolCachePolicy);
    return;
  }
  if (page->reload()) return;
  diagnostics_.record("reload() returned nil — no navigation started", false);
  setLoading(false);
  cancelLoadingTimeout();
  scheduleRenderCheck(kRenderCheckIntervalSeconds, kRenderCheckMaxChecks);
}

void WebViewState::retry() {
  ORVIK_ASSERT_ON_QUEUE(queue_);
  const auto page = page_.lock();
  if (!page || !loadedURL_) return;
  setErrorMessage(std::nullopt);
  setOffline(false);
  setLoading(true);
  startLoadingTimeout(kLoadingTimeoutSeconds);
  page->load(*loadedURL_, CachePolicy::returnCacheDataElseLoad);
}

}  // namespace orvik
