// The observable load state of the main web view: whether a load runs, its
// progress, the error or offline condition the main window shows as overlays,
// and the time-outs and checks that turn a load which never finishes, or a
// page that stays blank, into a visible error: the loading time-out, the
// render-check series after a load and the periodic health check.
//
// Every delayed step carries the render-check generation it was armed under;
// a load start, a content-process death and each new series advance it, so a
// step or answer of an older load never touches the state of a newer one.
//
// Owner: the main window (shared with the web view host, which drives it).
// Made with make_shared: delayed work holds it weakly.
// THREAD-SAFETY: main queue only; observers are called on the main queue.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/dispatch/repeating_timer.h"
#include "platform/dispatch/task_queue.h"
#include "platform/observer_list.h"
#include "web/render_check.h"

namespace orvik {

class LoadDiagnostics;
class WebPage;

// The message shown when the page never rendered.
inline constexpr const char* kLoadFailedMessage =
    "Orvik couldn't finish loading. Please check your connection and try again.";

class WebViewState : public std::enable_shared_from_this<WebViewState> {
 public:
  static constexpr double kLoadingTimeoutSeconds = 15.0;
  static constexpr double kRenderCheckIntervalSeconds = 3.0;
  static constexpr int kRenderCheckMaxChecks = 6;
  static constexpr double kHealthCheckIntervalSeconds = 30.0;
  static constexpr double kReloadRequestTimeoutSeconds = 30.0;

  // `isApplicationActive` answers whether the program is the active one
  // (the health check runs only then).
  WebViewState(platform::TaskQueue& queue, LoadDiagnostics& diagnostics, std::function<bool()> isApplicationActive);
  ~WebViewState();
  WebViewState(const WebViewState&) = delete;
  WebViewState& operator=(const WebViewState&) = delete;

  // Observable fields; `addObserver` callbacks run after each change.
  bool isLoading() const { return isLoading_; }
  double loadingProgress() const { return loadingProgress_; }
  const std::optional<std::string>& errorMessage() const { return errorMessage_; }
  bool isOffline() const { return isOffline_; }
  [[nodiscard]] platform::Subscription addObserver(std::function<void()> observer) {
    return observers_.add(std::move(observer));
  }

  void setLoading(bool loading);
  void setLoadingProgress(double progress);
  void setErrorMessage(std::optional<std::string> message);
  void setOffline(bool offline);

  void attachPage(std::weak_ptr<WebPage> page) { page_ = std::move(page); }
  const std::optional<std::string>& loadedURL() const { return loadedURL_; }
  void setLoadedURL(std::optional<std::string> url) { loadedURL_ = std::move(url); }

  // Arms the loading time-out, replacing an armed one.
  void startLoadingTimeout(double seconds);
  void cancelLoadingTimeout();
  bool hasLoadingTimeout() const { return loadingTimeoutTask_ != nullptr; }

  // Abandons every scheduled render check and its answer (load start,
  // content-process death).
  void invalidateRenderChecks();
  // Starts a new series: check 1 after `interval`, at most `maxChecks`.
  void scheduleRenderCheck(double interval, int maxChecks);

  // Starts the 30 s health timer (once).
  void startHealthMonitoring();
  // The shell calls this each time the program becomes the active one.
  void applicationBecameActive();
  void runHealthCheck(const std::string& trigger);

  // The main window's and the recovery's actions.
  void reload();
  void retry();

  std::int64_t renderCheckGeneration() const { return renderCheckGeneration_; }
  bool renderCheckPending() const { return renderCheckPending_; }
  std::int64_t consecutiveBlankChecks() const { return consecutiveBlankChecks_; }
  bool healthCheckInFlight() const { return healthCheckInFlight_; }

 private:
  void notify() { observers_.notify(); }
  void handleLoadingTimeout(double seconds);
  void handleLoadEventLate(const RenderCheckResult& result, double seconds, std::int64_t generation);
  void runRenderCheckAfterLoad(std::int64_t generation, int check, int maxChecks, double interval);
  void handleRenderCheckAfterLoad(const RenderCheckResult& result, std::int64_t generation, int check,
                                  int maxChecks, double interval);
  void handleBlankPageDuringUse(const RenderCheckResult& result, const std::string& trigger);
  void runCheck(std::function<void(WebViewState&, RenderCheckResult)> handler);

  platform::TaskQueue& queue_;
  LoadDiagnostics& diagnostics_;
  std::function<bool()> isApplicationActive_;
  platform::ObserverList<> observers_;

  bool isLoading_ = true;
  double loadingProgress_ = 0.0;
  std::optional<std::string> errorMessage_;
  bool isOffline_ = false;

  std::weak_ptr<WebPage> page_;
  std::optional<std::string> loadedURL_;
  std::shared_ptr<platform::WorkItem> loadingTimeoutTask_;
  std::int64_t renderCheckGeneration_ = 0;
  bool renderCheckPending_ = false;
  std::unique_ptr<platform::RepeatingTimer> healthTimer_;
  std::int64_t consecutiveBlankChecks_ = 0;
  bool healthCheckInFlight_ = false;
};

}  // namespace orvik
