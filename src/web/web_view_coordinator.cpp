#include "web/web_view_coordinator.h"

#include "core/load_diagnostics.h"
#include "core/update_banner.h"
#include "platform/queue_checker.h"
#include "web/credential_fetcher.h"
#include "web/web_view_state.h"

namespace orvik {

platform::ObserverList<>& webViewDidFinishLoadingObservers() {
  static platform::ObserverList<> observers;
  return observers;
}

WebViewCoordinator::WebViewCoordinator(platform::TaskQueue& queue, platform::Clock& clock,
                                       std::shared_ptr<WebViewState> state, LoadDiagnostics& diagnostics, Hooks hooks)
    : queue_(queue),
      clock_(clock),
      state_(std::move(state)),
      diagnostics_(diagnostics),
      hooks_(std::move(hooks)) {}

WebViewCoordinator::~WebViewCoordinator() {
  if (credentialFetch_) credentialFetch_->cancel();
  for (auto& [id, check] : updateChecks_) check->cancel();
}

void WebViewCoordinator::setUpdateBanner(UpdateBanner* updates) {
  ORVIK_ASSERT_ON_QUEUE(queue_);
  updates_ = updates;
  if (updates) return;
  for (auto& [id, check] : updateChecks_) check->cancel();
  updateChecks_.clear();
}

void WebViewCoordinator::scheduleBackgroundUpdateCheck() {
  const auto id = nextUpdateCheck_++;
  auto check = std::make_shared<platform::WorkItem>([weak = lifetime_.weak(this), id] {
    auto* self = weak.get();
    if (!self) return;
    self->updateChecks_.erase(id);
    if (self->updates_) self->updates_->checkForUpdates(/*silent=*/true);
  });
  updateChecks_.emplace(id, check);
  queue_.postAfter(kBackgroundUpdateCheckDelaySeconds, check);
}

void WebViewCoordinator::postStep(std::function<void(WebViewCoordinator&)> step) {
  queue_.post([weak = lifetime_.weak(this), step = std::move(step)] {
    if (auto* self = weak.get()) step(*self);
  });
}

void WebViewCoordinator::handleDidStartLoading(const std::optional<std::string>& uri) {
  ORVIK_ASSERT_ON_QUEUE(queue_);
  diagnostics_.loadStarted(uri);
  state_->invalidateRenderChecks();
  if (credentials_) credentials_->resetForNewLoad();
  postStep([](WebViewCoordinator& self) {
    auto& state = *self.state_;
    state.setLoading(true);
    state.setLoadingProgress(0.1);
    state.setErrorMessage(std::nullopt);
    // The banner waits for the new page to report a signed-in user.
    if (self.updates_) {
      self.updates_->setUserLoggedIn(false);
      self.updates_->setShowUpdateDialog(false);
    }
    state.startLoadingTimeout(WebViewState::kLoadingTimeoutSeconds);
  });
}

void WebViewCoordinator::handleDidCommitNavigation() {
  ORVIK_ASSERT_ON_QUEUE(queue_);
  postStep([](WebViewCoordinator& self) { self.state_->setLoadingProgress(0.5); });
}

void WebViewCoordinator::handleDidFinishLoading(const std::optional<std::string>& uri) {
  ORVIK_ASSERT_ON_QUEUE(queue_);
  diagnostics_.loadFinished(uri);
  state_->cancelLoadingTimeout();
  postStep([uri](WebViewCoordinator& self) {
    auto& state = *self.state_;
    state.setLoading(false);
    state.setLoadingProgress(1.0);
    state.setOffline(false);
    state.setErrorMessage(std::nullopt);
    state.scheduleRenderCheck(WebViewState::kRenderCheckIntervalSeconds, WebViewState::kRenderCheckMaxChecks);
    if (uri) state.setLoadedURL(uri);
    webViewDidFinishLoadingObservers().notify();
    self.scheduleBackgroundUpdateCheck();
    if (self.hooks_.focusWebView) self.hooks_.focusWebView();
  });
  if (hooks_.pageReadyForLogs) hooks_.pageReadyForLogs();
  if (credentialFetch_) credentialFetch_->cancel();
  credentialFetch_ = std::make_shared<platform::WorkItem>([weak = lifetime_.weak(this)] {
    if (auto* self = weak.get()) self->fetchCredentialsAfterLoad();
  });
  queue_.postAfter(kCredentialFetchDelaySeconds, credentialFetch_);
}

void WebViewCoordinator::fetchCredentialsAfterLoad() {
  if (credentials_) credentials_->fetchAfterLoad();
}

void WebViewCoordinator::handleCancelledNavigation(const std::optional<std::string>& uri) {
  diagnostics_.record("navigation cancelled (-999) url=" + diagnostics_.redactedURLString(uri), false);
  // A load is also cancelled when the next one replaces it; by the time this
  // step runs that load has started and owns the time-out and the series.
  const auto generation = state_->renderCheckGeneration();
  postStep([generation](WebViewCoordinator& self) {
    auto& state = *self.state_;
    if (state.renderCheckGeneration() != generation) return;
    state.cancelLoadingTimeout();
    state.setLoading(false);
    state.scheduleRenderCheck(WebViewState::kRenderCheckIntervalSeconds, WebViewState::kRenderCheckMaxChecks);
  });
}

void WebViewCoordinator::handleNavigationFailure(const std::optional<std::string>& uri, const LoadError& error) {
  ORVIK_ASSERT_ON_QUEUE(queue_);
  if (classifyLoadError(error) == LoadErrorKind::cancelled) {
    handleCancelledNavigation(uri);
    return;
  }
  diagnostics_.loadFailed("didFail", error, {});
  state_->cancelLoadingTimeout();
  postStep([message = error.message](WebViewCoordinator& self) {
    self.state_->setLoading(false);
    self.state_->setErrorMessage(message);
  });
}

void WebViewCoordinator::handleProvisionalNavigationFailure(const std::optional<std::string>& uri,
                                                            const LoadError& error) {
  ORVIK_ASSERT_ON_QUEUE(queue_);
  const auto kind = classifyLoadError(error);
  if (kind == LoadErrorKind::cancelled) {
    handleCancelledNavigation(uri);
    return;
  }
  diagnostics_.loadFailed("didFailProvisionalNavigation", error, {});
  state_->cancelLoadingTimeout();
  postStep([kind, message = error.message](WebViewCoordinator& self) {
    auto& state = *self.state_;
    state.setLoading(false);
    if (kind == LoadErrorKind::other) {
      state.setErrorMessage(message);
      return;
    }
    const bool offline = kind == LoadErrorKind::offline;
    state.setOffline(offline);
    if (!offline) state.setErrorMessage(message);
  });
}

void WebViewCoordinator::handleContentProcessTermination(const std::optional<std::string>& uri) {
  ORVIK_ASSERT_ON_QUEUE(queue_);
  if (hooks_.cancelFileChooser) hooks_.cancelFileChooser();
  const auto now = clock_.monotonicNow();
  while (!contentProcessTerminations_.empty() &&
         std::chrono::duration<double>(now - contentProcessTerminations_.front()).count() >= kCrashWindowSeconds) {
    contentProcessTerminations_.pop_front();
  }
  contentProcessTerminations_.push_back(now);
  const auto crashes = contentProcessTerminations_.size();
  diagnostics_.loadFailed("webContentProcessTerminated", std::nullopt,
                          "url=" + diagnostics_.redactedURLString(uri) + " crashesInLast60s=" + std::to_string(crashes));
  state_->cancelLoadingTimeout();
  state_->invalidateRenderChecks();
  if (crashes <= kMaxReloadsInCrashWindow) {
    state_->reload();
    return;
  }
  state_->setLoading(false);
  state_->setErrorMessage(kWebProcessStoppedMessage);
}

void WebViewCoordinator::handlePinningRefused(const std::string& host) {
  ORVIK_ASSERT_ON_QUEUE(queue_);
  diagnostics_.loadFailed("certificatePinning", std::nullopt, "host=" + host);
}

bool WebViewCoordinator::decideNavigationPolicy(const std::optional<std::string>& uri) const {
  ORVIK_ASSERT_ON_QUEUE(queue_);
  if (!uri || uri->rfind("file:", 0) != 0) return true;
  return hooks_.isFileInsideAppFolders && hooks_.isFileInsideAppFolders(*uri);
}

}  // namespace orvik
