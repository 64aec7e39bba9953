#include "calls/windows/native_pre_call_window.h"

#include "calls/control/call_strings.h"
#include "calls/windows/native_call_window.h"
#include "platform/capture_authorization.h"
#include "platform/dispatch/task_queue.h"
#include "platform/page_call.h"
#include "platform/queue_checker.h"

namespace orvik {

std::shared_ptr<NativePreCallWindow> NativePreCallWindow::create(Collaborators collaborators) {
  return std::shared_ptr<NativePreCallWindow>(new NativePreCallWindow(std::move(collaborators)));
}

NativePreCallWindow::NativePreCallWindow(Collaborators collaborators) : c_(std::move(collaborators)) {
  controlState_.reset(c_.strings.string(CallStrings::kCalling, CallStrings::kCallingDefault));
}

NativePreCallWindow::~NativePreCallWindow() {
  cancelAutoClose();
  stopPreview();
  if (window_) window_->close();
}

void NativePreCallWindow::onMain(std::function<void(NativePreCallWindow&)> step) {
  c_.queue.post([weak = weak_from_this(), step = std::move(step)] {
    if (auto self = weak.lock()) step(*self);
  });
}

// ---------------------------------------------------------------- page operations

void NativePreCallWindow::show(const std::string& calleeName, const std::string& userNumber,
                               const std::string& imageUrl, bool isAudio) {
  ORVIK_ASSERT_ON_QUEUE(c_.queue);
  // Active before the window exists, so that the page's "bring the call
  // window to the front" already finds this one.
  preparing_ = true;
  PreCallWindowSpec windowSpec;
  windowSpec.calleeName = calleeName;
  windowSpec.userNumber = userNumber;
  windowSpec.imageUrl = imageUrl;
  windowSpec.isAudio = isAudio;
  windowSpec.title = isAudio ? NativeCallWindow::kAudioTitle
                       : c_.strings.string(CallStrings::kSecureCall, CallStrings::kSecureCallDefault);
  windowSpec.width = isAudio ? NativeCallWindow::kAudioWidth : NativeCallWindow::kVideoWidth;
  windowSpec.height = isAudio ? NativeCallWindow::kAudioHeight : NativeCallWindow::kVideoHeight;
  windowSpec.minWidth = isAudio ? NativeCallWindow::kAudioMinWidth : NativeCallWindow::kVideoMinWidth;
  windowSpec.minHeight = isAudio ? NativeCallWindow::kAudioMinHeight : NativeCallWindow::kVideoMinHeight;
  onMain([windowSpec = std::move(windowSpec), closes = closes_](NativePreCallWindow& self) {
    // The call connected or was hung up before this turn came: no window.
    if (self.closes_ != closes) return;
    self.teardown();
    self.preparing_ = true;
    self.controlState_.reset(self.c_.strings.string(CallStrings::kCalling, CallStrings::kCallingDefault));
    self.sessionBox_ = std::make_shared<CaptureSessionBox>();
    self.cameraStarting_ = false;
    ++self.generation_;
    self.closedNoticeSent_ = false;
    if (windowSpec.isAudio) {
      self.build(windowSpec);
      return;
    }
    // The video window opens on a running camera, or once it is known that
    // there is none.
    self.buildWhenCameraAnswers_ = [weak = self.weak_from_this(), windowSpec] {
      auto me = weak.lock();
      if (me && me->preparing_ && !me->window_) me->build(windowSpec);
    };
    self.startPreview();
  });
}

void NativePreCallWindow::build(const PreCallWindowSpec& windowSpec) {
  PreCallWindowSpec built = windowSpec;
  built.capturable = c_.isScreenshotAccessAllowed && c_.isScreenshotAccessAllowed();
  window_ = c_.makeWindow(built, controlState_, *sessionBox_, makeActions(), *this);
  if (window_) window_->present();
}

void NativePreCallWindow::updateStatus(const std::string& status) {
  ORVIK_ASSERT_ON_QUEUE(c_.queue);
  onMain([status](NativePreCallWindow& self) { self.applyStatus(status); });
}

void NativePreCallWindow::applyStatus(const std::string& status) {
  controlState_.setStatus(status);
  // One auto-close per ending: a later ending status schedules nothing more,
  // and a ringing status does not call it off.
  if (!controlState_.isEndingStatus() || autoClose_) return;
  const double delay = status == "Busy" || status == "User Busy" ? kBusyCloseDelay : kEndedCloseDelay;
  autoClose_ = std::make_shared<platform::WorkItem>([weak = weak_from_this()] {
    auto self = weak.lock();
    if (!self) return;
    self->autoClose_.reset();
    self->close();
  });
  c_.queue.postAfter(delay, autoClose_);
}

void NativePreCallWindow::close() {
  ORVIK_ASSERT_ON_QUEUE(c_.queue);
  ++closes_;
  teardown();
}

void NativePreCallWindow::markCallEnded() {
  ORVIK_ASSERT_ON_QUEUE(c_.queue);
  onMain([](NativePreCallWindow& self) {
    if (self.isActive() && !self.controlState_.isEndingStatus()) self.applyStatus(kCallEnded);
  });
}

void NativePreCallWindow::bringToFront() {
  ORVIK_ASSERT_ON_QUEUE(c_.queue);
  onMain([](NativePreCallWindow& self) {
    if (self.window_) self.window_->present();
  });
}

// ---------------------------------------------------------------- closing

void NativePreCallWindow::cancelAutoClose() {
  if (autoClose_) autoClose_->cancel();
  autoClose_.reset();
}

// Everything that ends a window goes through here, so that a pending
// auto-close never outlives its window to close the next call's.
void NativePreCallWindow::teardown() {
  preparing_ = false;
  cancelAutoClose();
  buildWhenCameraAnswers_ = nullptr;
  stopPreview();
  if (window_) {
    window_->close();
    retireWindow();
  }
}

// A window may be closed from inside its own button's click: it is
// destroyed on a later turn of the queue.
void NativePreCallWindow::retireWindow() {
  if (!window_) return;
  std::shared_ptr<PreCallWindowSurface> closing(std::move(window_));
  c_.queue.post([closing] {});
}

// ---------------------------------------------------------------- camera

// One start at a time per window: a toggle while the camera starts only
// changes whether the session is kept when it arrives.
void NativePreCallWindow::startPreview() {
  cameraWanted_ = true;
  if (!sessionBox_ || sessionBox_->session() || cameraStarting_) return;
  cameraStarting_ = true;
  PreCallCamera* camera = c_.camera;
  std::weak_ptr<NativePreCallWindow> weak = weak_from_this();
  auto answer = [weak, box = sessionBox_, camera](CameraSessionHandle session) {
    if (auto self = weak.lock()) {
      self->previewStarted(box, std::move(session));
    } else if (session && camera) {
      camera->stop(session);
    }
  };
  auto unavailable = [this, answer] { c_.queue.post([answer] { answer(nullptr); }); };
  if (!camera) {
    unavailable();
    return;
  }
  switch (c_.authorization.status(platform::CaptureDevice::camera)) {
    case platform::CaptureAuthorizationStatus::authorized:
      camera->start(answer);
      return;
    case platform::CaptureAuthorizationStatus::notDetermined:
      c_.authorization.request(platform::CaptureDevice::camera, [weak, answer, camera](bool granted) {
        // Granted after the controller went: nothing starts.
        auto self = weak.lock();
        if (!self) return;
        if (granted) {
          camera->start(answer);
        } else {
          answer(nullptr);
        }
      });
      return;
    case platform::CaptureAuthorizationStatus::denied:
    case platform::CaptureAuthorizationStatus::restricted:
      unavailable();
      return;
  }
}

void NativePreCallWindow::previewStarted(const std::shared_ptr<CaptureSessionBox>& box,
                                         CameraSessionHandle session) {
  if (box != sessionBox_) {
    // The window it was started for is gone: the camera must not stay on.
    if (session) c_.camera->stop(session);
    return;
  }
  cameraStarting_ = false;
  if (session) {
    if (cameraWanted_) {
      box->setSession(std::move(session));
    } else {
      // Switched off, closed or the call ended while it started.
      c_.camera->stop(session);
    }
  }
  if (auto buildNow = std::exchange(buildWhenCameraAnswers_, nullptr)) buildNow();
}

void NativePreCallWindow::stopPreview() {
  cameraWanted_ = false;
  if (!sessionBox_) return;
  if (CameraSessionHandle session = sessionBox_->take()) c_.camera->stop(session);
}

// ---------------------------------------------------------------- buttons

PreCallActions NativePreCallWindow::makeActions() {
  auto bind = [weak = weak_from_this(), generation = generation_](void (NativePreCallWindow::*action)()) {
    return [weak, generation, action] {
      auto self = weak.lock();
      // A click that reaches a window already replaced or closed does nothing.
      if (self && self->generation_ == generation && self->window_) ((*self).*action)();
    };
  };
  return {bind(&NativePreCallWindow::toggleMute), bind(&NativePreCallWindow::toggleVideo),
          bind(&NativePreCallWindow::toggleSpeaker), bind(&NativePreCallWindow::hangUp)};
}

void NativePreCallWindow::toggleMute() {
  ORVIK_ASSERT_ON_QUEUE(c_.queue);
  controlState_.setMuted(!controlState_.isMuted());
  runInMainPage(kToggleMuteScript);
}

void NativePreCallWindow::toggleVideo() {
  ORVIK_ASSERT_ON_QUEUE(c_.queue);
  const bool on = !controlState_.isVideoOn();
  controlState_.setVideoOn(on);
  if (on) {
    startPreview();
  } else {
    stopPreview();
  }
  runInMainPage(kToggleVideoScript);
}

// The speaker button only changes its own look: the call's audio is the
// page's until the call connects.
void NativePreCallWindow::toggleSpeaker() { controlState_.setSpeakerOn(!controlState_.isSpeakerOn()); }

void NativePreCallWindow::hangUp() {
  ORVIK_ASSERT_ON_QUEUE(c_.queue);
  ++closes_;
  teardown();
  sendClosedNotice();
}

// ---------------------------------------------------------------- window events and the main page

void NativePreCallWindow::windowWillClose() {
  ORVIK_ASSERT_ON_QUEUE(c_.queue);
  if (!window_) return;
  // Closed by hand: nothing is left to prepare or to close later.
  preparing_ = false;
  cancelAutoClose();
  buildWhenCameraAnswers_ = nullptr;
  stopPreview();
  retireWindow();
  sendClosedNotice();
}

// The web call window, when there is one, tells the main page itself as it
// closes; the pre-call window tells it only otherwise, so the page hears it
// once per call.
void NativePreCallWindow::sendClosedNotice() {
  if (std::exchange(closedNoticeSent_, true)) return;
  const bool callWindowTells = c_.closeCallWindow && c_.closeCallWindow();
  if (callWindowTells) return;
  onMain([](NativePreCallWindow& self) { self.runInMainPage(NativeCallWindow::kClosedNotice); });
}

void NativePreCallWindow::notifyCallWindowFocus(bool focused) { runInMainPage(callWindowFocusScript(focused)); }

void NativePreCallWindow::runInMainPage(const std::string& script) {
  if (auto page = mainPage_.lock()) page->evaluateScript(script);
}

}  // namespace orvik
