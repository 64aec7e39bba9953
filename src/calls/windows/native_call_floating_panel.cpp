#include "calls/windows/native_call_floating_panel.h"

#include "calls/control/call_control.h"
#include "calls/control/call_strings.h"
#include "core/native_logger.h"
#include "core/theme_manager.h"
#include "platform/dispatch/repeating_timer.h"
#include "platform/dispatch/task_queue.h"

namespace orvik {

namespace {
const char* flag(bool value) { return value ? "true" : "false"; }
}  // namespace

std::shared_ptr<NativeCallFloatingPanel> NativeCallFloatingPanel::create(Collaborators collaborators) {
  auto panel = std::shared_ptr<NativeCallFloatingPanel>(new NativeCallFloatingPanel(std::move(collaborators)));
  const std::weak_ptr<NativeCallFloatingPanel> weak = panel;
  if (panel->c_.theme) {
    panel->themeSubscription_ = panel->c_.theme->addObserver([weak](bool dark) {
      if (auto self = weak.lock()) self->applyTheme(dark);
    });
  }
  panel->hostEvents_ = panel->c_.host.observe([weak](const FloatingPanelEvent& event) {
    if (auto self = weak.lock()) self->onEvent(event);
  });
  return panel;
}

NativeCallFloatingPanel::NativeCallFloatingPanel(Collaborators collaborators)
    : c_(std::move(collaborators)), model_(c_.strings) {}

NativeCallFloatingPanel::~NativeCallFloatingPanel() { stopFrontWatch(); }

void NativeCallFloatingPanel::log(const std::string& line) const {
  if (c_.log) {
    c_.log(line);
  } else {
    nativeLog(line);
  }
}

void NativeCallFloatingPanel::onMain(std::function<void(NativeCallFloatingPanel&)> step, double delay) {
  auto task = [weak = weak_from_this(), step = std::move(step)] {
    if (auto self = weak.lock()) step(*self);
  };
  if (delay > 0) {
    c_.queue.postAfter(delay, std::move(task));
  } else {
    c_.queue.post(std::move(task));
  }
}

// ---- The call's life ----

void NativeCallFloatingPanel::callDidStart(const std::string& calleeName, const std::string& imageUrl, bool isAudio,
                                           bool awaitingAccept) {
  isCallActive_ = true;
  const std::string calling = c_.strings.string(CallStrings::kCalling, CallStrings::kCallingDefault);
  const bool dark = c_.theme ? c_.theme->isDarkMode() : model_.state().isDarkMode;
  model_.update([&](FloatingCallPanelState& s) {
    s.calleeName = calleeName;
    s.imageUrl = imageUrl;
    s.isAudio = isAudio;
    s.awaitingAccept = awaitingAccept;
    s.timerText = calling;
    s.isMuted = false;
    s.isCameraOff = false;
    s.isConnected = false;
    s.isDarkMode = dark;
  });
  if (!clickMonitor_) {
    clickMonitor_ = c_.host.monitorClicks([weak = weak_from_this()](const FloatingPanelClick& click) {
      if (auto self = weak.lock()) self->onClick(click);
    });
  }
}

void NativeCallFloatingPanel::callDidEnd() {
  if (!c_.queue.isCurrent()) {
    onMain([](NativeCallFloatingPanel& self) { self.callDidEnd(); });
    return;
  }
  log(kCallDidEndLog);
  isCallActive_ = false;
  clickMonitor_.reset();
  stopFrontWatch();
  if (auto panel = std::move(panel_)) panel->close();
  c_.host.hideVideoPictureInPicture();
}

void NativeCallFloatingPanel::setAwaitingAccept(bool awaiting) {
  model_.update([awaiting](FloatingCallPanelState& s) { s.awaitingAccept = awaiting; });
}

void NativeCallFloatingPanel::setSuppressAutoShow(bool suppressed) { suppressAutoShow_ = suppressed; }

// ---- Windows ----

std::optional<FloatingPanelWindow> NativeCallFloatingPanel::callWindow() {
  if (auto video = c_.host.videoCallWindow()) return video;
  return c_.host.audioCallWindow();
}

std::optional<FloatingPanelWindow> NativeCallFloatingPanel::currentCallWindow() {
  for (auto window : {c_.host.videoCallWindow(), c_.host.audioCallWindow()}) {
    if (window && window->isVisible && !window->isMiniaturized) return window;
  }
  return std::nullopt;
}

std::optional<FloatingPanelWindow> NativeCallFloatingPanel::firstMainWindow() {
  for (const FloatingPanelWindow& window : c_.host.mainWindows()) {
    if (window.isVisible && !window.isMiniaturized) return window;
  }
  return std::nullopt;
}

bool NativeCallFloatingPanel::anyMainWindowFullScreen() {
  for (const FloatingPanelWindow& window : c_.host.mainWindows()) {
    if (window.isVisible && window.isFullScreen) return true;
  }
  return false;
}

bool NativeCallFloatingPanel::callWindowMostlyUncovered(const FloatingPanelWindow& window) {
  const auto call = currentCallWindow();
  if (!call || !call->isVisibleOnScreen) return false;
  const double area = call->frame.area();
  if (area <= 0) return false;
  return platform::intersection(call->frame, window.frame).area() / area < kCoveredShare;
}

// ---- Showing and hiding ----

void NativeCallFloatingPanel::showIfNeeded() {
  const FloatingCallPanelState& s = model_.state();
  log(std::string("[FloatingPanel] showIfNeeded() called — isCallActive=") + flag(isCallActive_) +
      " awaitingAccept=" + flag(s.awaitingAccept) + " isAudio=" + flag(s.isAudio) +
      " suppressAutoShow=" + flag(suppressAutoShow_) + " hasPanel=" + flag(panel_ != nullptr));
  if (!isCallActive_ || s.awaitingAccept || suppressAutoShow_) return;
  if (anyMainWindowFullScreen()) {
    hide();
    return;
  }
  startFrontWatch();
  if (s.isAudio) {
    onMain([](NativeCallFloatingPanel& self) { self.showPanelNow(); });
  } else {
    c_.host.showVideoPictureInPicture();
  }
}

void NativeCallFloatingPanel::showPanelNow() {
  const FloatingCallPanelState& s = model_.state();
  if (!isCallActive_ || !s.isAudio || s.awaitingAccept) return;
  if (panel_) {
    panel_->orderFront();
  } else {
    buildPanel();
  }
}

void NativeCallFloatingPanel::hide() {
  log(std::string("[FloatingPanel] hide() called — hasPanel=") + flag(panel_ != nullptr));
  stopFrontWatch();
  onMain([](NativeCallFloatingPanel& self) {
    if (self.panel_) self.panel_->orderOut();
    self.c_.host.hideVideoPictureInPicture();
  });
}

void NativeCallFloatingPanel::buildPanel() {
  FloatingPanelSpec windowSpec;
  windowSpec.width = kWidth;
  windowSpec.height = kHeight;
  windowSpec.margin = kMargin;
  windowSpec.isDarkMode = model_.state().isDarkMode;
  windowSpec.capturable = c_.calls.isScreenshotAccessAllowed();
  const std::weak_ptr<NativeCallFloatingPanel> weak = weak_from_this();
  FloatingPanelActions actions;
  actions.onReturnToCall = [weak] {
    auto self = weak.lock();
    if (!self) return;
    if (self->panel_) self->panel_->orderOut();
    self->returnToCall();
  };
  actions.onMute = [weak] {
    auto self = weak.lock();
    if (!self) return;
    const bool muted = !self->model_.state().isMuted;
    self->model_.update([muted](FloatingCallPanelState& s) { s.isMuted = muted; });
    self->c_.calls.setMuted(muted);
  };
  actions.onCamera = [weak] {
    auto self = weak.lock();
    if (!self) return;
    const bool off = !self->model_.state().isCameraOff;
    self->model_.update([off](FloatingCallPanelState& s) { s.isCameraOff = off; });
    if (self->c_.setCameraOff) self->c_.setCameraOff(off);
  };
  actions.onEnd = [weak] {
    if (auto self = weak.lock()) self->c_.calls.endCall();
  };
  panel_ = c_.makePanel ? c_.makePanel(windowSpec, model_, std::move(actions)) : nullptr;
  if (panel_) panel_->orderFront();
}

void NativeCallFloatingPanel::applyTheme(bool dark) {
  model_.update([dark](FloatingCallPanelState& s) { s.isDarkMode = dark; });
  if (panel_) panel_->setDarkMode(dark);
}

// ---- The front watch ----

bool NativeCallFloatingPanel::isFrontWatchRunning() const { return frontWatch_ && frontWatch_->isRunning(); }

void NativeCallFloatingPanel::startFrontWatch() {
  if (isFrontWatchRunning()) return;
  frontWatch_ = std::make_unique<platform::RepeatingTimer>(c_.queue, kFrontWatchInterval,
                                                           [weak = weak_from_this()] {
                                                             if (auto self = weak.lock()) self->frontWatchTick();
                                                           });
  frontWatch_->start();
}

void NativeCallFloatingPanel::stopFrontWatch() {
  if (frontWatch_) frontWatch_->stop();
}

// Only ever hides: the panel goes once the call window is in front of the
// main window again, or no longer shares any of the screen with it.
void NativeCallFloatingPanel::frontWatchTick() {
  if (!isCallActive_) {
    stopFrontWatch();
    return;
  }
  if (anyMainWindowFullScreen()) {
    hide();
    return;
  }
  // While the program is inactive its activation and occlusion events decide.
  if (!c_.host.isApplicationActive()) return;
  const auto call = callWindow();
  if (!call || !call->isVisible) return;
  const auto main = firstMainWindow();
  const auto stack = c_.host.onScreenWindows();
  if (!stack) return;
  const auto callIndex = platform::stackIndex(*stack, call->number);
  if (!callIndex) return;
  const auto mainIndex = main ? platform::stackIndex(*stack, main->number) : std::nullopt;
  if (!mainIndex || *callIndex < *mainIndex) {
    hide();
    return;
  }
  if (!platform::intersects(call->frame, main->frame)) hide();
}

// ---- Events ----

void NativeCallFloatingPanel::onClick(const FloatingPanelClick& click) {
  if (!isCallActive_) return;
  switch (click.role) {
    case FloatingPanelWindowRole::audioCallWindow:
    case FloatingPanelWindowRole::videoCallWindow:
      hide();
      return;
    case FloatingPanelWindowRole::otherCallWindow:
    case FloatingPanelWindowRole::notMain:
      return;
    case FloatingPanelWindowRole::mainWindow:
      if (!callWindowMostlyUncovered(click.window)) {
        showIfNeeded();
      } else {
        log(kNoOverlapLog);
        hide();
      }
      return;
  }
}

void NativeCallFloatingPanel::onEvent(const FloatingPanelEvent& event) {
  using Kind = FloatingPanelEvent::Kind;
  switch (event.kind) {
    case Kind::applicationDidResignActive: {
      const auto call = currentCallWindow();
      if (!call || !call->isVisibleOnScreen) {
        showIfNeeded();
        return;
      }
      onMain(
          [](NativeCallFloatingPanel& self) {
            if (!self.isCallActive_ || self.c_.host.isApplicationActive()) return;
            const auto again = self.currentCallWindow();
            if (again && again->isVisibleOnScreen) {
              self.log(kCallWindowStillVisibleLog);
            } else {
              self.showIfNeeded();
            }
          },
          kResignRecheckDelay);
      return;
    }
    case Kind::windowDidChangeOcclusion: {
      if (!isCallActive_ || c_.host.isApplicationActive()) return;
      std::optional<FloatingPanelWindow> window;
      if (event.role == FloatingPanelWindowRole::videoCallWindow) window = c_.host.videoCallWindow();
      if (event.role == FloatingPanelWindowRole::audioCallWindow) window = c_.host.audioCallWindow();
      if (!window || !window->isVisible) return;
      const auto current = currentCallWindow();
      if (current && current->isVisibleOnScreen) {
        log(kVisibleAgainLog);
        hide();
      } else {
        showIfNeeded();
      }
      return;
    }
    case Kind::applicationDidBecomeActive:
      suppressAutoShow_ = false;
      return;
    case Kind::windowDidMiniaturize:
      if (event.role == FloatingPanelWindowRole::mainWindow) showIfNeeded();
      return;
    case Kind::activeDesktopDidChange:
      if (!returnRaisePending_) return;
      returnRaisePending_ = false;
      c_.host.raiseCallWindows();
      onMain([](NativeCallFloatingPanel& self) { self.c_.host.raiseCallWindows(); }, kDesktopRaiseAgainDelay);
      return;
  }
}

// ---- Return to the call ----

void NativeCallFloatingPanel::returnToCall() {
  c_.host.raiseCallWindows();
  // A call window on another desktop is raised once the switch there comes,
  // and again a moment later, when the desktop has settled.
  returnRaisePending_ = true;
  c_.host.activateApplication();
  onMain(
      [](NativeCallFloatingPanel& self) {
        if (!self.returnRaisePending_) return;
        self.returnRaisePending_ = false;
        self.c_.host.raiseCallWindows();
      },
      kReturnRaiseDelay);
}

}  // namespace orvik
