#include "app/main_window_hooks.h"

#include "core/native_logger.h"

namespace orvik {

MainWindowCloseInterceptor::MainWindowCloseInterceptor(MainWindowControl& window, CallControl& calls)
    : window_(window), calls_(calls) {}

MainWindowCloseInterceptor::~MainWindowCloseInterceptor() {
  if (fallback_) fallback_->cancel();
  if (exitFullScreen_) exitFullScreen_->cancel();
}

bool MainWindowCloseInterceptor::handleMainWindowCloseButton() {
  nativeLog("[MainWindow] red-X intercepted — hiding window instead of closing");
  if (calls_.isCallActive()) {
    nativeLog("[HomeView] main window closed during active call — hanging up");
    calls_.hangUpCurrentCall();
  }
  if (!window_.isFullScreen()) {
    window_.hide();
    return false;
  }
  nativeLog("[MainWindow] red-X while full screen — exiting full screen before hiding");
  if (fallback_) fallback_->cancel();
  hidePending_ = true;
  fallback_ = std::make_shared<platform::WorkItem>([this] { hideAfterFullScreenExit("fallback timeout"); });
  exitFullScreen_ = std::make_shared<platform::WorkItem>([this] { window_.exitFullScreen(); });
  platform::mainQueue().post(exitFullScreen_);
  platform::mainQueue().postAfter(kFullScreenExitFallback, fallback_);
  return false;
}

void MainWindowCloseInterceptor::onFullScreenExited() {
  if (hidePending_) hideAfterFullScreenExit("didExitFullScreen");
}

void MainWindowCloseInterceptor::hideAfterFullScreenExit(std::string_view reason) {
  if (!hidePending_) return;
  hidePending_ = false;
  if (fallback_) {
    fallback_->cancel();
    fallback_.reset();
  }
  nativeLog("[MainWindow] hiding after full screen exit (" + std::string(reason) + ")");
  window_.hide();
}

TitlebarDoubleClickAction titlebarDoubleClickAction(const std::optional<std::string>& setting, bool isFullScreen) {
  if (isFullScreen) return TitlebarDoubleClickAction::none;
  if (!setting) return TitlebarDoubleClickAction::toggleMaximize;
  if (*setting == "none") return TitlebarDoubleClickAction::none;
  if (*setting == "minimize") return TitlebarDoubleClickAction::minimize;
  if (*setting == "lower") return TitlebarDoubleClickAction::lower;
  if (*setting == "menu") return TitlebarDoubleClickAction::windowMenu;
  return TitlebarDoubleClickAction::toggleMaximize;
}

void performTitlebarDoubleClickAction(MainWindowControl& window, const std::optional<std::string>& setting) {
  switch (titlebarDoubleClickAction(setting, window.isFullScreen())) {
    case TitlebarDoubleClickAction::none: return;
    case TitlebarDoubleClickAction::minimize: window.minimize(); return;
    case TitlebarDoubleClickAction::toggleMaximize: window.toggleMaximized(); return;
    case TitlebarDoubleClickAction::lower: window.lower(); return;
    case TitlebarDoubleClickAction::windowMenu: window.showWindowMenu(); return;
  }
}

}  // namespace orvik
