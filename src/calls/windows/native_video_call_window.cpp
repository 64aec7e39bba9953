#include "calls/windows/native_video_call_window.h"

#include <algorithm>

#include "calls/control/call_control.h"
#include "calls/control/call_ports.h"
#include "calls/control/call_strings.h"
#include "calls/windows/floating_call_panel_control.h"
#include "calls/windows/native_video_pip.h"
#include "core/native_logger.h"
#include "core/theme_manager.h"
#include "platform/capture_authorization.h"
#include "platform/dispatch/task_queue.h"

namespace orvik {

VideoCallWindowRequest videoCallRequest(VideoCallEntry entry, const VideoCallParty& callee, bool isSubscribed,
                                        bool isDarkMode) {
  VideoCallWindowRequest request;
  request.calleeName = callee.name;
  request.calleeOrvikID = callee.orvikID;
  request.imageUrl = callee.imageUrl;
  request.isSubscribed = isSubscribed;
  request.isDarkMode = isDarkMode;
  request.isConnected = entry == VideoCallEntry::upgrade;
  request.isUpgrade = entry == VideoCallEntry::accepted || entry == VideoCallEntry::upgrade;
  request.isOutgoing = entry == VideoCallEntry::outgoing;
  return request;
}

std::shared_ptr<NativeVideoCallWindow> NativeVideoCallWindow::create(Collaborators collaborators) {
  auto window = std::shared_ptr<NativeVideoCallWindow>(new NativeVideoCallWindow(std::move(collaborators)));
  if (window->c_.theme) {
    window->applyTheme(window->c_.theme->isDarkMode());
    window->themeSubscription_ = window->c_.theme->addObserver(
        [weak = std::weak_ptr<NativeVideoCallWindow>(window)](bool dark) {
          if (auto self = weak.lock()) self->applyTheme(dark);
        });
  }
  return window;
}

NativeVideoCallWindow::NativeVideoCallWindow(Collaborators collaborators)
    : c_(std::move(collaborators)), model_(c_.strings) {}

NativeVideoCallWindow::~NativeVideoCallWindow() = default;

void NativeVideoCallWindow::log(const std::string& line) const {
  if (c_.log) {
    c_.log(line);
  } else {
    nativeLog(line);
  }
}

void NativeVideoCallWindow::onMain(std::function<void(NativeVideoCallWindow&)> step) {
  platform::mainQueue().post([weak = weak_from_this(), step = std::move(step)] {
    if (auto self = weak.lock()) step(*self);
  });
}

NativeVideoPiP* NativeVideoCallWindow::pip() const { return c_.pip ? c_.pip() : nullptr; }

std::pair<int, int> NativeVideoCallWindow::clampedSize(int width, int height) {
  return {std::max(width, kMinimumWidth), std::max(height, kMinimumHeight)};
}

void NativeVideoCallWindow::applyTheme(bool dark) {
  model_.set(&VideoCallFields::isDarkMode, dark);
  if (window_) window_->setDarkMode(dark);
}

void NativeVideoCallWindow::open(const VideoCallWindowRequest& request) {
  // The window of a call that has ended (or that the manager is closing) is
  // not the new call's.
  const bool staleWindow = window_ && (model_->callEnded || isEnding_);
  isEnding_ = false;
  const std::uint64_t generation = ++openGeneration_;

  VideoCallOpening opening;
  opening.calleeName = request.calleeName;
  opening.calleeOrvikID = request.calleeOrvikID;
  opening.imageUrl = request.imageUrl;
  const LocalCallIdentity me = c_.localIdentity ? c_.localIdentity() : LocalCallIdentity{};
  opening.localName = !request.localName.empty() ? request.localName
                      : !me.displayName.empty()  ? me.displayName
                                                 : me.userNumber.value_or("?");
  opening.localImageUrl = !request.localImageUrl.empty() ? request.localImageUrl : me.avatarURL;
  opening.isConnected = request.isConnected;
  opening.isSubscribed = request.isSubscribed;
  opening.isDarkMode = request.isDarkMode;
  opening.isUpgrade = request.isUpgrade;
  opening.isOutgoing = request.isOutgoing;
  model_.applyOpening(opening);

  if (staleWindow) {
    log("[VideoCallWindow] open() — closing the ended call's window first");
    closeNow();
    isEnding_ = false;
  }
  if (window_) {
    window_->orderFront();
    c_.floatingPanel.hide();
    return;
  }
  if (!request.isOutgoing || request.isUpgrade) {
    buildWindow();
    c_.floatingPanel.hide();
    return;
  }

  CallUser callee;
  callee.OrvikID = request.calleeOrvikID;
  callee.name = request.calleeName;
  if (!request.imageUrl.empty()) callee.avatarURL = request.imageUrl;
  callee.userNumber = request.calleeOrvikID;
  callee.isSubscribed = request.isSubscribed;

  // A later open takes the window over while access is being asked for.
  auto current = [weak = weak_from_this(), generation]() {
    auto self = weak.lock();
    return self && self->openGeneration_ == generation ? self : nullptr;
  };
  platform::whenAuthorized(
      c_.authorization, platform::CaptureDevice::microphone,
      [current, callee] {
        if (auto self = current()) self->placeCall(callee);
      },
      [current] {
        auto self = current();
        if (!self) return;
        self->log("[VideoCallWindow] mic permission denied — outgoing call not started");
        self->c_.alerts.showCallAlert(kMicrophoneAlertTitle, kMicrophoneAlertText);
      });
}

void NativeVideoCallWindow::placeCall(const CallUser& callee) {
  if (window_) {
    // A window came up while access was being asked for: one call only.
    window_->orderFront();
    c_.floatingPanel.hide();
    return;
  }
  buildWindow();
  c_.floatingPanel.hide();
  const bool otherCallRunning = c_.calls.callState().isInCall();
  c_.calls.makeCall(callee, CallType::video);
  // The manager ignores a second call and refuses one it cannot place; the
  // window opened for it would otherwise stay on "Calling..." for ever.
  if (otherCallRunning || !c_.calls.callState().isInCall()) {
    log("[VideoCallWindow] makeCall refused — closing the window opened for it");
    closeNow();
  }
}

void NativeVideoCallWindow::buildWindow() {
  VideoCallWindowSetup setup;
  setup.title = model_->isIncoming ? kIncomingTitle : kTitle;
  setup.isDarkMode = model_->isDarkMode;
  setup.capturable = c_.calls.isScreenshotAccessAllowed();
  window_ = std::shared_ptr<VideoCallWindowSurface>(c_.makeWindow(setup, model_, makeActions(), *this));
  if (!window_) return;
  ++windowGeneration_;
  window_->orderFront();
  if (auto* panel = pip()) panel->markActive();
}

VideoCallActions NativeVideoCallWindow::makeActions() {
  const std::weak_ptr<NativeVideoCallWindow> weak = weak_from_this();
  auto calls = [weak](auto operation) {
    return [weak, operation] {
      if (auto self = weak.lock()) operation(self->c_.calls);
    };
  };
  VideoCallActions actions;
  actions.onAccept = calls([](CallControl& c) { c.acceptCall(); });
  actions.onReject = calls([](CallControl& c) { c.rejectCall(); });
  actions.onMuteToggle = [weak] {
    auto self = weak.lock();
    if (!self) return;
    const bool muted = !self->model_->isMuted;
    self->model_.set(&VideoCallFields::isMuted, muted);
    self->c_.calls.setMuted(muted);
  };
  actions.onCameraToggle = [weak] {
    auto self = weak.lock();
    if (!self) return;
    const bool off = !self->model_->isCameraOff;
    self->model_.set(&VideoCallFields::isCameraOff, off);
    self->c_.calls.setCameraOff(off);
  };
  // A speaker that is off is turned on and one that is on is turned off; the
  // manager writes the new state back.
  actions.onSpeakerToggle = [weak] {
    if (auto self = weak.lock()) self->c_.calls.setSpeakerEnabled(self->model_->isSpeakerOff);
  };
  actions.onScreenShareToggle = calls([](CallControl& c) { c.toggleScreenShare(); });
  actions.onEndCall = [weak] {
    auto self = weak.lock();
    if (!self) return;
    const bool wasActive = self->c_.calls.callState().isInCall();
    self->c_.calls.endCall();
    // Nothing to end: nobody else would close the window.
    if (!wasActive) self->close();
  };
  actions.orderFront = [weak] {
    if (auto self = weak.lock()) self->orderFront();
  };
  actions.setElevated = [weak](bool elevated) {
    if (auto self = weak.lock()) self->setElevated(elevated);
  };
  actions.setFloatingPanelSuppressed = [weak](bool suppressed) {
    if (auto self = weak.lock()) self->c_.floatingPanel.setSuppressAutoShow(suppressed);
  };
  actions.startScreenShare = [weak](const ShareTarget& target) {
    if (auto self = weak.lock()) self->c_.calls.startScreenShare(target);
  };
  actions.requestScreenShareOptions = [weak](bool afterPrimer) {
    if (auto self = weak.lock()) self->c_.calls.requestScreenShareOptions(afterPrimer);
  };
  actions.extendCall = calls([](CallControl& c) { c.extendCall(true); });
  return actions;
}

void NativeVideoCallWindow::close() {
  log(std::string("[VideoCallWindow] close() called — hasWindow=") + (window_ ? "true" : "false"));
  onMain([generation = windowGeneration_](NativeVideoCallWindow& self) {
    // A new call's window was built since: that window stays.
    if (self.windowGeneration_ != generation) return;
    self.closeNow();
  });
}

void NativeVideoCallWindow::closeNow() {
  isEnding_ = true;
  if (auto window = window_) window->close();
}

void NativeVideoCallWindow::bringToFront() {
  onMain([](NativeVideoCallWindow& self) {
    if (self.window_) self.window_->bringToFront();
  });
}

void NativeVideoCallWindow::orderFront() {
  onMain([](NativeVideoCallWindow& self) {
    if (self.window_) self.window_->orderFront();
  });
}

void NativeVideoCallWindow::setElevated(bool elevated) {
  onMain([elevated](NativeVideoCallWindow& self) {
    if (self.window_) self.window_->setElevated(elevated);
  });
}

bool NativeVideoCallWindow::windowShouldClose() {
  if (isEnding_) return true;
  // Without a call in progress there is nothing to end and nobody else
  // would ever close the window: it closes now.
  if (!c_.calls.callState().isInCall()) return true;
  c_.calls.endCall();
  return false;
}

void NativeVideoCallWindow::windowWillClose() {
  isEnding_ = false;
  // The surface is still running its close: it goes once that returns.
  if (auto window = std::move(window_)) platform::mainQueue().post([window] {});
  if (auto* panel = pip()) panel->close();
  c_.floatingPanel.hide();
}

void NativeVideoCallWindow::windowDidBecomeKey() { c_.floatingPanel.hide(); }

void NativeVideoCallWindow::windowDidResignKey() {
  if (!isEnding_) c_.floatingPanel.showIfNeeded();
}

}  // namespace orvik
