#include "calls/windows/native_audio_call_window.h"

#include <algorithm>

#include "calls/control/call_control.h"
#include "calls/control/call_ports.h"
#include "calls/control/call_strings.h"
#include "calls/windows/floating_call_panel_control.h"
#include "core/native_logger.h"
#include "core/theme_manager.h"
#include "platform/capture_authorization.h"
#include "platform/dispatch/task_queue.h"

namespace orvik {

std::shared_ptr<NativeAudioCallWindow> NativeAudioCallWindow::create(Collaborators collaborators) {
  auto window = std::shared_ptr<NativeAudioCallWindow>(new NativeAudioCallWindow(std::move(collaborators)));
  if (window->c_.theme) {
    window->applyTheme(window->c_.theme->isDarkMode());
    window->themeSubscription_ = window->c_.theme->addObserver(
        [weak = std::weak_ptr<NativeAudioCallWindow>(window)](bool dark) {
          if (auto self = weak.lock()) self->applyTheme(dark);
        });
  }
  return window;
}

NativeAudioCallWindow::NativeAudioCallWindow(Collaborators collaborators)
    : c_(std::move(collaborators)), model_(c_.strings) {}

NativeAudioCallWindow::~NativeAudioCallWindow() = default;

void NativeAudioCallWindow::log(const std::string& line) const {
  if (c_.log) {
    c_.log(line);
  } else {
    nativeLog(line);
  }
}

void NativeAudioCallWindow::onMain(std::function<void(NativeAudioCallWindow&)> step) {
  platform::mainQueue().post([weak = weak_from_this(), step = std::move(step)] {
    if (auto self = weak.lock()) step(*self);
  });
}

std::pair<int, int> NativeAudioCallWindow::clampedSize(int width, int height) {
  return {std::max(width, kMinimumSide), std::max(height, kMinimumSide)};
}

void NativeAudioCallWindow::applyTheme(bool dark) {
  model_.update([dark](AudioCallViewState& s) { s.isDarkMode = dark; });
  if (window_) window_->setDarkMode(dark);
}

void NativeAudioCallWindow::open(const AudioCallWindowRequest& request) {
  isEnding_ = false;
  const std::uint64_t generation = ++openGeneration_;
  const std::string status =
      request.connecting ? c_.strings.string(CallStrings::kConnecting, CallStrings::kConnectingDefault)
      : request.outgoing ? c_.strings.string(CallStrings::kCalling, CallStrings::kCallingDefault)
                         : std::string(kIncomingCall);
  model_.update([&](AudioCallViewState& s) {
    s.calleeName = request.calleeName;
    s.calleeOrvikID = request.calleeOrvikID;
    s.imageUrl = request.imageUrl;
    s.isSubscribed = request.isSubscribed;
    s.isDarkMode = request.isDarkMode;
    s.isConnected = false;
    s.isMuted = false;
    s.isSpeakerOff = false;
    s.remoteMuted = false;
    s.canRequestVideoUpgrade = false;
    s.isIncoming = !request.connecting && !request.outgoing;
    s.timerText = status;
  });

  if (window_) {
    window_->orderFront();
    c_.floatingPanel.hide();
    return;
  }
  if (!request.outgoing || request.connecting) {
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
        self->log("[AudioCallWindow] mic permission denied — outgoing call not started");
        self->c_.alerts.showCallAlert(kMicrophoneAlertTitle, kMicrophoneAlertText);
      });
}

void NativeAudioCallWindow::placeCall(const CallUser& callee) {
  if (window_) {
    // A window came up while access was being asked for: one call only.
    window_->orderFront();
    c_.floatingPanel.hide();
    return;
  }
  buildWindow();
  c_.floatingPanel.hide();
  c_.calls.makeCall(callee, CallType::audio);
}

void NativeAudioCallWindow::buildWindow() {
  AudioCallWindowSetup setup;
  setup.title = model_.state().isIncoming ? kIncomingTitle : kTitle;
  setup.isDarkMode = model_.state().isDarkMode;
  setup.capturable = c_.calls.isScreenshotAccessAllowed();
  window_ = std::shared_ptr<AudioCallWindowSurface>(c_.makeWindow(setup, model_, makeActions(), *this));
  if (window_) window_->orderFront();
}

AudioCallActions NativeAudioCallWindow::makeActions() {
  const std::weak_ptr<NativeAudioCallWindow> weak = weak_from_this();
  auto bind = [weak](void (NativeAudioCallWindow::*step)()) {
    return [weak, step] {
      if (auto self = weak.lock()) ((*self).*step)();
    };
  };
  auto calls = [weak](auto operation) {
    return [weak, operation] {
      if (auto self = weak.lock()) operation(self->c_.calls);
    };
  };
  AudioCallActions actions;
  actions.onAccept = calls([](CallControl& c) { c.acceptCall(); });
  actions.onReject = calls([](CallControl& c) { c.rejectCall(); });
  actions.onMuteToggle = [weak] {
    auto self = weak.lock();
    if (!self) return;
    const bool muted = !self->model_.state().isMuted;
    self->model_.update([muted](AudioCallViewState& s) { s.isMuted = muted; });
    self->c_.calls.setMuted(muted);
  };
  // A speaker that is off is turned on and one that is on is turned off;
  // the manager writes the new state back into the model.
  actions.onSpeakerToggle = [weak] {
    if (auto self = weak.lock()) self->c_.calls.setSpeakerEnabled(self->model_.state().isSpeakerOff);
  };
  actions.onEndCall = [weak] {
    auto self = weak.lock();
    if (!self) return;
    const bool wasActive = self->c_.calls.callState().isInCall();
    self->c_.calls.endCall();
    if (!wasActive) self->close();
  };
  actions.onRequestVideoUpgrade = [weak] {
    auto self = weak.lock();
    if (self && self->c_.calls.callState().kind() == CallState::Kind::connected) self->c_.calls.requestVideoUpgrade();
  };
  actions.onAcceptVideoUpgrade = calls([](CallControl& c) { c.acceptVideoUpgrade(); });
  actions.onDeclineVideoUpgrade = calls([](CallControl& c) { c.declineVideoUpgrade(); });
  actions.onCancelVideoUpgrade = [] {};
  actions.onExtendCall = calls([](CallControl& c) { c.extendCall(true); });
  actions.onCloseLimitBanner = [weak] {
    if (auto self = weak.lock()) {
      self->model_.update([](AudioCallViewState& s) {
        s.limitWarning.reset();
        s.callLimitCanExtend = false;
      });
    }
  };
  actions.onOutputPickerDismissed = bind(&NativeAudioCallWindow::bringToFront);
  actions.onOutputPickerElevate = [weak](bool elevated) {
    if (auto self = weak.lock()) self->setElevated(elevated);
  };
  actions.setFloatingPanelSuppressed = [weak](bool suppressed) {
    if (auto self = weak.lock()) self->c_.floatingPanel.setSuppressAutoShow(suppressed);
  };
  return actions;
}

void NativeAudioCallWindow::close() {
  log(std::string("[AudioCallWindow] close() called — hasWindow=") + (window_ ? "true" : "false"));
  onMain([](NativeAudioCallWindow& self) { self.closeNow(); });
}

void NativeAudioCallWindow::closeForUpgrade() {
  onMain([](NativeAudioCallWindow& self) { self.closeNow(); });
}

void NativeAudioCallWindow::closeNow() {
  isEnding_ = true;
  if (auto window = window_) window->close();
}

void NativeAudioCallWindow::bringToFront() {
  onMain([](NativeAudioCallWindow& self) {
    if (self.window_) self.window_->orderFront();
  });
}

void NativeAudioCallWindow::raiseAboveAppWindows() {
  onMain([](NativeAudioCallWindow& self) {
    if (self.window_) self.window_->raiseAboveAppWindows();
  });
}

void NativeAudioCallWindow::setElevated(bool elevated) {
  onMain([elevated](NativeAudioCallWindow& self) {
    if (self.window_) self.window_->setElevated(elevated);
  });
}

bool NativeAudioCallWindow::windowShouldClose() {
  if (isEnding_) return true;
  // Without a call in progress there is nothing to end and nobody else
  // would ever close the window: it closes now.
  if (!c_.calls.callState().isInCall()) return true;
  c_.calls.endCall();
  return false;
}

void NativeAudioCallWindow::windowWillClose() {
  isEnding_ = false;
  // The surface is still running its close: it goes once that returns.
  if (auto window = std::move(window_)) platform::mainQueue().post([window] {});
  c_.floatingPanel.hide();
}

void NativeAudioCallWindow::windowDidBecomeKey() { c_.floatingPanel.hide(); }

void NativeAudioCallWindow::windowDidResignKey() {
  if (!isEnding_) c_.floatingPanel.showIfNeeded();
}

}  // namespace orvik
