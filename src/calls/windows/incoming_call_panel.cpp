#include "calls/windows/incoming_call_panel.h"

#include "calls/control/call_control.h"
#include "calls/control/call_strings.h"
#include "calls/screens/call_display_name.h"
#include "calls/screens/format_user_number.h"
#include "core/native_logger.h"
#include "platform/dispatch/task_queue.h"

namespace orvik {

namespace {
const char* boolText(bool value) { return value ? "true" : "false"; }
}  // namespace

void IncomingCallIdentityBox::update(const std::function<void(IncomingCallIdentity&)>& change) {
  IncomingCallIdentity next = state_;
  change(next);
  if (next == state_) return;
  state_ = std::move(next);
  observers_.notify();
}

IncomingCallContent presentIncomingCall(const IncomingCallIdentity& identity, bool isAudio,
                                        const CallStrings& strings) {
  IncomingCallContent content;
  content.shownName = callDisplayName(identity.callerName);
  content.orvikIdLine = identity.userNumber.empty()
                            ? " "
                            : strings.string(CallStrings::kOrvikIdLabel, CallStrings::kOrvikIdLabelDefault) + " " +
                                  formatUserNumber(identity.userNumber);
  content.avatarInitial = avatarInitial(identity.callerName);
  if (isAudio) content.badge = "Incoming Audio Call";
  content.acceptSymbol = isAudio ? "phone.fill" : "video.fill";
  content.goldRing = identity.isSubscribed;
  content.showsPreview = !isAudio && identity.preview != nullptr;
  content.showsPreviewPlaceholder = !isAudio && identity.preview == nullptr;
  return content;
}

std::shared_ptr<IncomingCallPanel> IncomingCallPanel::create(Collaborators collaborators) {
  return std::shared_ptr<IncomingCallPanel>(new IncomingCallPanel(std::move(collaborators)));
}

IncomingCallPanel::IncomingCallPanel(Collaborators collaborators) : c_(std::move(collaborators)) {}

IncomingCallPanel::~IncomingCallPanel() {
  if (revealTimer_) revealTimer_->cancel();
  if (dismissTimer_) dismissTimer_->cancel();
  stopPreview();
  if (window_) window_->close();
}

void IncomingCallPanel::log(const std::string& line) const {
  if (c_.log) {
    c_.log(line);
  } else {
    nativeLog(line);
  }
}

void IncomingCallPanel::onMain(std::function<void(IncomingCallPanel&)> step) {
  platform::mainQueue().post([weak = weak_from_this(), step = std::move(step)] {
    if (auto self = weak.lock()) step(*self);
  });
}

bool IncomingCallPanel::isProperName(const std::string& name) {
  return !name.empty() && name != "Unknown" && name != kUnknownCaller;
}

void IncomingCallPanel::show(const IncomingCallRequest& request, IncomingCallCallbacks callbacks) {
  log("[IncomingCall] show() ENTER for '" + request.callerName + "' (" + request.userNumber +
      ") isAudio=" + boolText(request.isAudio) + " identityGuessed=" + boolText(request.identityGuessed));
  onMain([request, callbacks = std::move(callbacks)](IncomingCallPanel& self) mutable {
    self.build(request, std::move(callbacks));
  });
}

void IncomingCallPanel::showForRingingCall(const IncomingCallRequest& request) {
  CallControl& calls = c_.calls;
  show(request, {[&calls] { calls.acceptCall(); }, [&calls] { calls.rejectCall(); }, {}});
}

void IncomingCallPanel::dismiss() {
  log(std::string("[IncomingCall] dismiss() called — hasWindow=") + boolText(hasWindow()));
  onMain([](IncomingCallPanel& self) { self.cleanupSync(); });
}

void IncomingCallPanel::identityResolved() {
  onMain([](IncomingCallPanel& self) {
    if (!self.revealPending_ || !self.window_) return;
    self.log("[IncomingCall] identity resolved before reveal timeout — revealing now");
    self.reveal();
  });
}

void IncomingCallPanel::updateIdentity(const std::string& callerName, const std::string& userNumber,
                                       const std::optional<std::string>& imageUrl,
                                       std::optional<bool> isSubscribed) {
  if (!window_) return;
  identity_->update([&](IncomingCallIdentity& s) {
    s.callerName = callerName;
    s.userNumber = userNumber;
    if (imageUrl) s.imageUrl = *imageUrl;
    if (isSubscribed) s.isSubscribed = *isSubscribed;
  });
}

void IncomingCallPanel::build(const IncomingCallRequest& request, IncomingCallCallbacks callbacks) {
  cleanupSync();
  handled_ = false;
  callbacks_ = std::move(callbacks);

  identity_ = std::make_shared<IncomingCallIdentityBox>();
  const bool proper = isProperName(request.callerName);
  identity_->update([&](IncomingCallIdentity& s) {
    if (request.identityGuessed) {
      s.callerName = proper ? request.callerName : kUnknownCaller;
    } else {
      s.callerName = request.callerName;
      s.userNumber = request.userNumber;
      s.imageUrl = request.imageUrl;
      s.isSubscribed = request.isSubscribed;
    }
  });
  IncomingCallPanelSpec windowSpec;
  windowSpec.title = kTitle;
  windowSpec.isAudio = request.isAudio;
  windowSpec.isDarkMode = request.isDarkMode;
  windowSpec.width = kWidth;
  windowSpec.height = request.isAudio ? kAudioHeight : kVideoHeight;
  windowSpec.margin = kMargin;
  std::weak_ptr<IncomingCallPanel> weak = weak_from_this();
  // A window's buttons answer only its own call, never a later panel's.
  const std::uint64_t generation = ++generation_;
  IncomingCallPanelActions actions{[weak, generation] {
                                     auto self = weak.lock();
                                     if (self && self->generation_ == generation) self->accept();
                                   },
                                   [weak, generation] {
                                     auto self = weak.lock();
                                     if (self && self->generation_ == generation) self->decline();
                                   }};
  window_ = c_.makeWindow(windowSpec, *identity_, std::move(actions), *this);
  if (!request.isAudio) startPreview();

  if (!request.identityGuessed || proper) {
    reveal();
    return;
  }
  revealPending_ = true;
  revealTimer_ = std::make_shared<platform::WorkItem>([weak] {
    auto self = weak.lock();
    if (!self) return;
    self->log("[IncomingCall] reveal timeout — identity not fully resolved in time, showing what's known");
    if (self->window_) self->reveal();
  });
  platform::mainQueue().postAfter(kRevealTimeout, revealTimer_);
}

void IncomingCallPanel::reveal() {
  revealPending_ = false;
  if (revealTimer_) revealTimer_->cancel();
  revealTimer_.reset();
  window_->reveal(c_.calls.isScreenshotAccessAllowed());
  if (dismissTimer_) dismissTimer_->cancel();
  dismissTimer_ = std::make_shared<platform::WorkItem>([weak = weak_from_this()] {
    if (auto self = weak.lock()) self->noAnswer();
  });
  platform::mainQueue().postAfter(kNoAnswerTimeout, dismissTimer_);
}

void IncomingCallPanel::accept() {
  if (!window_) return;
  log("[IncomingCall] Accept button tapped");
  // The camera goes before the call's own capture asks for it.
  stopPreview();
  auto onAccept = std::move(callbacks_.onAccept);
  cleanupSync();
  if (onAccept) onAccept();
}

void IncomingCallPanel::decline() {
  if (!window_) return;
  // Once per panel: a second click before the window goes declines nothing.
  auto onDecline = std::move(callbacks_.onDecline);
  callbacks_.onAccept = nullptr;
  if (onDecline) onDecline();
  dismiss();
}

// An unanswered ring is a missed call: it must not reach the caller as a
// decline from this user.
void IncomingCallPanel::noAnswer() {
  log("[IncomingCall] no answer — closing the panel");
  auto onNoAnswer = std::move(callbacks_.onNoAnswer);
  cleanupSync();
  if (onNoAnswer) onNoAnswer();
}

void IncomingCallPanel::windowWillClose() {
  if (handled_) return;
  handled_ = true;
  if (dismissTimer_) dismissTimer_->cancel();
  dismissTimer_.reset();
  // A hidden panel cannot be closed by hand; the reveal would show nothing.
  if (revealTimer_) revealTimer_->cancel();
  revealTimer_.reset();
  revealPending_ = false;
  stopPreview();
  // The window is already closing.
  retireWindow();
  auto onDecline = std::move(callbacks_.onDecline);
  callbacks_ = {};
  if (onDecline) onDecline();
}

void IncomingCallPanel::cleanupSync() {
  log(std::string("[IncomingCall] _cleanupSync — closing window (hasWindow=") + boolText(hasWindow()) + ")");
  handled_ = true;
  if (dismissTimer_) dismissTimer_->cancel();
  dismissTimer_.reset();
  if (revealTimer_) revealTimer_->cancel();
  revealTimer_.reset();
  revealPending_ = false;
  stopPreview();
  if (window_) {
    window_->close();
    retireWindow();
  }
  callbacks_ = {};
}

// A window may be closed from inside its own button's click: it is destroyed
// on the next main-queue turn, with the identity box it observes.
void IncomingCallPanel::retireWindow() {
  if (!window_) return;
  std::shared_ptr<IncomingCallPanelSurface> closing(std::move(window_));
  platform::mainQueue().post([closing, identity = identity_] {});
}

void IncomingCallPanel::startPreview() {
  if (!c_.camera) return;
  std::weak_ptr<IncomingCallIdentityBox> box = identity_;
  IncomingCameraPreview* camera = c_.camera;
  std::weak_ptr<IncomingCallPanel> weak = weak_from_this();
  camera->start([box, weak, camera](CameraSessionHandle session) {
    if (!session) return;
    auto self = weak.lock();
    auto current = box.lock();
    // A preview that starts after its panel went would keep the camera on.
    if (!self || !current || current != self->identity_ || !self->window_) {
      camera->stop(session);
      return;
    }
    current->update([&](IncomingCallIdentity& s) { s.preview = session; });
  });
}

void IncomingCallPanel::stopPreview() {
  if (!identity_) return;
  CameraSessionHandle session = identity_->state().preview;
  if (!session) return;
  identity_->update([](IncomingCallIdentity& s) { s.preview.reset(); });
  if (c_.camera) c_.camera->stop(session);
}

}  // namespace orvik
