// Placing a call (makeCall), the offer's add-record and the side effects of
// an active call: the page is told, the session is kept awake, and the main
// window comes forward beside an answered call.

#include "calls/control/call_strings.h"
#include "calls/control/native_call_manager.h"
#include "calls/control/offer_add_record.h"
#include "core/native_logger.h"
#include "platform/display_sleep_inhibitor.h"
#include "platform/page_call.h"
#include "platform/queue_checker.h"

namespace orvik {

std::string callStateName(const CallState& state);

namespace {

bool isBlankOrTabs(std::string_view text) { return text.find_first_not_of(" \t") == std::string_view::npos; }

const char* typeName(CallType type) { return type == CallType::audio ? "audio" : "video"; }

}  // namespace

void NativeCallManager::makeCall(const CallUser& callee, CallType type, std::optional<nlohmann::json> addRecord) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  auto& call = state_.call;
  auto& kept = state_.kept;

  if (isMaskedOrWiped()) {
    log("[NativeCallMgr] makeCall blocked — decoy/wipeout active");
    return;
  }
  // The running call keeps its timeline: a second makeCall is ignored before
  // anything of the call's record is touched.
  if (isInCall()) {
    log("[NativeCallMgr] makeCall ignored — already in a call (" + callStateName(call.callState) + ")");
    return;
  }
  timeline_.begin("OUTGOING", callee.userNumber, std::string(typeName(type)) + " call placed");

  if (isBlankOrTabs(callee.userNumber)) {
    log("[NativeCallMgr] makeCall ABORTED — callee OrvikID is empty (name=" + callee.name +
        "); the caller sent no userNumber");
    showCallAlert("Can't Place Call",
                  "This contact's OrvikID is missing, so the call can't be placed. Please reopen the chat or contact "
                  "and try again.");
    platform::mainQueue().post([weak = weak_from_this()] {
      if (auto self = weak.lock()) self->closeCallWindows();
    });
    return;
  }

  ++kept.callGeneration;
  timers_.stopAll();

  if (call.callState.kind() != CallState::Kind::idle) {
    log("[NativeCallMgr] makeCall — flushing lingering " + callStateName(call.callState) + " before new call");
    cleanup();
  }

  if (!kept.myUserNumber || !kept.myDeviceUdid || !kept.myAuthToken) {
    log("[NativeCallMgr] makeCall failed — no credentials");
    // The window opened for this call would otherwise stay on "Calling..."
    // with nothing behind it: fetch the credentials for the next attempt and
    // close it with a word to the user.
    if (c_.fetchCredentials) c_.fetchCredentials("outgoing-call");
    timeline_.noteEndReason("no call credentials yet");
    timeline_.end("no call credentials yet");
    showCallAlert("Can't Place Call",
                  "Your account is still connecting to the call service. Please try the call again in a moment.");
    platform::mainQueue().post([weak = weak_from_this()] {
      if (auto self = weak.lock()) self->closeCallWindows();
    });
    return;
  }

  if (!c_.capture.hasMicrophone()) {
    log("[NativeCallMgr] makeCall — no microphone attached, aborting");
    showCallAlert("No Microphone Found", "No microphone is connected. Please attach a microphone and try again.");
    platform::mainQueue().post([weak = weak_from_this()] {
      if (auto self = weak.lock()) self->closeCallWindows();
    });
    return;
  }

  call.remoteUserNumber = callee.userNumber;
  call.remoteDeviceUdid.reset();
  resetPerCallSignalingState();
  call.outgoingAddRecord = std::move(addRecord);
  call.pendingOfferSDP.reset();
  call.deviceFetchDone = false;

  call.currentSession = std::make_shared<CallSession>(
      CallSession{makeUpperCaseUUID(), CallDirection::outgoing, type, callee, CallState::Kind::calling, std::nullopt});
  call.callState = CallState::Kind::calling;
  kept.outgoingRingStartedAt = clock().now();

  notifyWebNativeCallActive(true);
  preventDisplaySleep();
  c_.tones.startTone(CallTones::Tone::connecting);
  timers_.startRingTimer();

  platform::mainQueue().post([weak = weak_from_this(), name = callee.name,
                              avatar = callee.avatarURL.value_or(""), isAudio = type == CallType::audio] {
    auto self = weak.lock();
    if (!self) return;
    self->c_.windows.floatingPanelCallDidStart(name, avatar, isAudio, /*startsRinging=*/false);
    self->log("[FloatingPanel] callDidStart — callee='" + name + "' isAudio=" + (isAudio ? "true" : "false") +
              " startsRinging=false");
  });
  publishCallDuration(strings().string(CallStrings::kCalling, CallStrings::kCallingDefault));

  if (type == CallType::video) {
    if (c_.capture.hasCamera()) {
      c_.capture.prewarmCamera();
      platform::mainQueue().post([weak = weak_from_this()] {
        if (auto self = weak.lock()) self->c_.windows.setVideoCameraSession(self->c_.capture.cameraSession());
      });
    } else {
      log("[NativeCallMgr] makeCall — no camera attached, continuing audio-only");
      showCallAlert("No Camera Found", "No camera is connected. The call will continue with audio only.");
      c_.capture.startWithCameraOff();
      platform::mainQueue().post([weak = weak_from_this()] {
        if (auto self = weak.lock()) self->markCameraOffInWindows();
      });
    }
  }

  attachDelegates();
  const std::string pushToken = c_.pushToken ? c_.pushToken() : std::string();
  signaling().connect(CallingSocketParams{*kept.myAuthToken, *kept.myUserNumber, *kept.myDeviceUdid, pushToken, "false"});
}

void NativeCallManager::buildAddRecord(const std::optional<nlohmann::json>& deviceRecord) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  const auto token = deviceTokenOf(deviceRecord);
  const auto& kept = state_.kept;
  const auto& call = state_.call;
  if (!token || !kept.myUserNumber || !kept.myDeviceUdid || !call.remoteUserNumber) {
    log("[NativeCallMgr] buildAddRecord — skipped (no device token)");
    return;
  }
  OfferAddRecordInputs inputs;
  inputs.deviceToken = *token;
  inputs.myUserNumber = *kept.myUserNumber;
  inputs.myDeviceUdid = *kept.myDeviceUdid;
  inputs.remoteUserNumber = *call.remoteUserNumber;
  inputs.myDisplayName = kept.myDisplayName;
  inputs.myAvatarURL = kept.myAvatarURL;
  inputs.isAudio = call.currentSession && call.currentSession->type == CallType::audio;
  inputs.pushId = makeOfferPushId();
  inputs.nowMs = std::chrono::duration_cast<std::chrono::milliseconds>(clock().now().time_since_epoch()).count();
  state_.call.outgoingAddRecord = buildOfferAddRecord(inputs);
  log("[NativeCallMgr] addRecord built — token=" + firstCharacters(*token, 12) + "… pushId=" + inputs.pushId);
}

void NativeCallManager::notifyWebNativeCallActive(bool active) {
  // Short-circuit form: the page may not define the function.
  const std::string flag = active ? "true" : "false";
  platform::callPage(webView_, "window.__orvikNativeCallActiveChanged && window.__orvikNativeCallActiveChanged(" +
                                   flag + ");");
}

void NativeCallManager::preventDisplaySleep() {
  auto& call = state_.call;
  if (call.powerAssertionActive) return;
  const unsigned cookie = c_.displaySleep.inhibit(kDisplaySleepReason);
  if (cookie == 0) {
    // Nothing is held: the next call start tries again.
    log("[NativeCallMgr] Failed to create power assertion: 0");
    return;
  }
  call.powerAssertionID = cookie;
  call.powerAssertionActive = true;
  log("[NativeCallMgr] Screen sleep prevented — call active");
}

void NativeCallManager::showMainAppWindow() {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  auto& windows = c_.windows;
  const bool callWindow = windows.hasCallWindow();
  if (callWindow) windows.raiseCallWindows();
  windows.activateApplication();
  switch (windows.mainWindowPlacement()) {
    case MainWindowPlacement::none:
    case MainWindowPlacement::onOtherDesktop:
      // The user stays with the call window.
      break;
    case MainWindowPlacement::available:
      windows.presentMainWindow();
      break;
  }
  // The call window stays above the main window.
  if (callWindow) windows.raiseCallWindows();
}

}  // namespace orvik
