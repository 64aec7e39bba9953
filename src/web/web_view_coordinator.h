// The main web view's navigation logic: turns WebKit's load events (already
// translated into our values by WebViewHost) into the observable load state,
// the web-load diagnostics and the recovery after the page's web process
// died. Holds no WebKit type, so the load-state table runs on virtual time in
// unit tests.
//
// Load cycle as the main window sees it through WebViewState:
//   start                   loading, progress 0.1, no error; render checks of
//                           the previous load abandoned; 15 s time-out armed;
//                           the update banner hidden until the new page
//                           reports a signed-in user
//   commit                  progress 0.5
//   finish                  not loading, progress 1, no error, online; time-out
//                           disarmed; render-check series 6 × 3 s; a silent
//                           update check 2.5 s later
//   cancelled (either phase) not loading; render-check series; error and
//                           offline untouched; skipped when a newer load began
//   failure after commit    not loading, error message
//   provisional, offline    not loading, offline, no message
//   provisional, network    not loading, online, error message
//   provisional, other      not loading, error message
//
// Owner: WebViewHost. THREAD-SAFETY: main queue only; state changes are
// posted to the main queue, diagnostics are written at once.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <cstdint>
#include <map>

#include "platform/dispatch/clock.h"
#include "platform/dispatch/task_queue.h"
#include "platform/lifetime_token.h"
#include "platform/observer_list.h"
#include "web/load_error.h"

namespace orvik {

class CredentialFetcher;
class LoadDiagnostics;
class UpdateBanner;
class WebViewState;

inline constexpr const char* kWebProcessStoppedMessage = "Orvik stopped unexpectedly. Please try again.";
// The name of the notification posted after every finished load of the main page.
inline constexpr const char* kWebViewDidFinishLoadingNotification = "webViewDidFinishLoading";

// The process-wide "webViewDidFinishLoading" notification: told after every
// finished load of the main page, on the main queue. Observers may be added
// before the web view exists (the launch sequence does).
platform::ObserverList<>& webViewDidFinishLoadingObservers();

class WebViewCoordinator {
 public:
  static constexpr double kCredentialFetchDelaySeconds = 1.5;
  static constexpr double kCrashWindowSeconds = 60.0;
  static constexpr int kMaxReloadsInCrashWindow = 3;
  static constexpr double kBackgroundUpdateCheckDelaySeconds = 2.5;

  // What the coordinator asks of its neighbours; each may be left empty.
  struct Hooks {
    // Marks the native logger ready and flushes its pending lines.
    std::function<void()> pageReadyForLogs;
    // Makes the web view its window's focus.
    std::function<void()> focusWebView;
    // Cancels an open file chooser (a dying page cannot answer it).
    std::function<void()> cancelFileChooser;
    // Whether a file URL lies inside the application's folders.
    std::function<bool(const std::string& fileURI)> isFileInsideAppFolders;
  };

  WebViewCoordinator(platform::TaskQueue& queue, platform::Clock& clock, std::shared_ptr<WebViewState> state,
                     LoadDiagnostics& diagnostics, Hooks hooks);
  ~WebViewCoordinator();
  WebViewCoordinator(const WebViewCoordinator&) = delete;
  WebViewCoordinator& operator=(const WebViewCoordinator&) = delete;

  void handleDidStartLoading(const std::optional<std::string>& uri);
  void handleDidCommitNavigation();
  void handleDidFinishLoading(const std::optional<std::string>& uri);
  void handleNavigationFailure(const std::optional<std::string>& uri, const LoadError& error);
  void handleProvisionalNavigationFailure(const std::optional<std::string>& uri, const LoadError& error);
  void handleContentProcessTermination(const std::optional<std::string>& uri);
  // The web application's host failed the pin test: recorded as
  // "certificatePinning"; the load then fails through `error`.
  void handlePinningRefused(const std::string& host);
  // Whether a navigation to `uri` may go on.
  bool decideNavigationPolicy(const std::optional<std::string>& uri) const;

  WebViewState& state() { return *state_; }
  // The page's credential fetch: reset at each load start, run once 1.5 s
  // after each finished load. Not owned; cleared with nullptr.
  void setCredentialFetcher(CredentialFetcher* fetcher) { credentials_ = fetcher; }
  // The updater's banner state: hidden at each load start, and a silent
  // check 2.5 s after each finished load. Not owned; cleared with nullptr,
  // which also drops the checks still waiting.
  void setUpdateBanner(UpdateBanner* updates);

 private:
  void handleCancelledNavigation(const std::optional<std::string>& uri);
  void postStep(std::function<void(WebViewCoordinator&)> step);
  void fetchCredentialsAfterLoad();
  void scheduleBackgroundUpdateCheck();

  platform::TaskQueue& queue_;
  platform::Clock& clock_;
  std::shared_ptr<WebViewState> state_;
  LoadDiagnostics& diagnostics_;
  Hooks hooks_;
  std::deque<platform::Clock::MonotonicTime> contentProcessTerminations_;
  std::shared_ptr<platform::WorkItem> credentialFetch_;
  CredentialFetcher* credentials_ = nullptr;
  UpdateBanner* updates_ = nullptr;
  // One per finished load still waiting; each removes itself when it runs.
  std::map<std::uint64_t, std::shared_ptr<platform::WorkItem>> updateChecks_;
  std::uint64_t nextUpdateCheck_ = 0;
  // Posted steps of a coordinator that is gone do nothing. Last member.
  platform::LifetimeToken lifetime_;
};

}  // namespace orvik
