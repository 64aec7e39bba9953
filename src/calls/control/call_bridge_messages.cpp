#include "calls/control/call_bridge_messages.h"

#include <array>
#include <vector>

#include "calls/control/call_strings.h"
#include "core/native_logger.h"
#include "platform/dispatch/task_queue.h"
#include "platform/message_routes.h"
#include "platform/page_call.h"
#include "platform/page_payload.h"
#include "platform/queue_checker.h"

namespace orvik {
namespace {

using platform::payloadFlag;
using platform::payloadString;

constexpr std::array<std::string_view, 20> kMessageNames = {
    "setCallLimitExempt",       "serverCallFinished",     "setCallScreenshotAccessAllowed",
    CallStrings::kMessagePrefix, "showIncomingCallPanel", "dismissIncomingCallPanel",
    "callerIdentityResolved",   "callHandledByOtherDevice", "reliableCallCancelReceived",
    "otherDeviceBusyChanged",   "showPreCallUI",          "preCallStatusUpdate",
    "callConnected",            "callWindowClose",        "bringCallWindowToFront",
    "callWindowSetVar",         "endNativeCall",          "openNativeAudioUI",
    "openNativeVideoUI",        "openCallWindow",
};

constexpr const char* kStartLocalCamera = "window.__orvikStartLocalCamera?.();";
constexpr const char* kCallDeclined =
    "if (typeof window.__nativeCallDeclined === 'function') window.__nativeCallDeclined();";

const char* text(bool flag) { return flag ? "true" : "false"; }

bool isBlankOrTabs(std::string_view value) { return value.find_first_not_of(" \t") == std::string_view::npos; }

// A list element as the call manager takes it: strings as they are, numbers
// as their decimal text, anything else as its JSON.
std::string textForm(const nlohmann::json& value) {
  if (value.is_string()) return value.get<std::string>();
  if (value.is_number_integer()) return std::to_string(value.get<std::int64_t>());
  if (value.is_number_unsigned()) return std::to_string(value.get<std::uint64_t>());
  return value.dump();
}

}  // namespace

CallBridgeMessages::CallBridgeMessages(Collaborators collaborators) : c_(std::move(collaborators)) {}

std::span<const std::string_view> CallBridgeMessages::messageNames() { return kMessageNames; }

void CallBridgeMessages::log(const std::string& line) const {
  if (c_.log) {
    c_.log(line);
  } else {
    nativeLog(line);
  }
}

bool CallBridgeMessages::evaluateInPage(const std::string& script) const {
  auto page = c_.page.lock();
  if (!page) return false;
  page->evaluateScript(script);
  return true;
}

void CallBridgeMessages::publishRoutes(platform::MessageRoutes& routes) {
  using Body = const nlohmann::json&;
  const auto add = [&routes](std::string_view name, platform::MessageRoutes::Handler handler) {
    [[maybe_unused]] const bool known = routes.route(name, std::move(handler));
  };
  add("setCallLimitExempt", [this](Body body) { setCallLimitExempt(body); });
  add("serverCallFinished", [this](Body) { serverCallFinished(); });
  add("setCallScreenshotAccessAllowed", [this](Body body) { setCallScreenshotAccessAllowed(body); });
  add(CallStrings::kMessagePrefix, [this](Body body) { setCallStrings(body); });
  add("showIncomingCallPanel", [this](Body body) { showIncomingCallPanel(body); });
  add("dismissIncomingCallPanel", [this](Body) { dismissIncomingCallPanel(); });
  add("callerIdentityResolved", [this](Body body) { callerIdentityResolved(body); });
  add("callHandledByOtherDevice", [this](Body body) { callHandledByOtherDevice(body); });
  add("reliableCallCancelReceived", [this](Body body) { reliableCallCancelReceived(body); });
  // Accepted so that it is not reported as unhandled; nothing depends on it.
  add("otherDeviceBusyChanged", [](Body) {});
  add("showPreCallUI", [this](Body body) { showPreCallUI(body); });
  add("preCallStatusUpdate", [this](Body body) { preCallStatusUpdate(body); });
  add("callConnected", [this](Body) { callConnected(); });
  add("callWindowClose", [this](Body) { callWindowClose(); });
  add("bringCallWindowToFront", [this](Body) { bringCallWindowToFront(); });
  add("callWindowSetVar", [this](Body body) { callWindowSetVar(body); });
  add("endNativeCall", [this](Body) { endNativeCall(); });
  add("openCallWindow", [this](Body body) { openCallWindow(body); });
  add("openNativeAudioUI", [this](Body body) { openNativeAudioUI(body); });
  add("openNativeVideoUI", [this](Body body) { openNativeVideoUI(body); });
}

// ---------------------------------------------------------------- settings

void CallBridgeMessages::setCallLimitExempt(const nlohmann::json& body) {
  std::vector<std::string> numbers;
  if (auto list = platform::payloadArray(body, "numbers")) {
    for (const auto& value : *list) numbers.push_back(textForm(value));
  }
  c_.manager.setCallLimitExempt(payloadFlag(body, "exempt").value_or(false), numbers);
}

void CallBridgeMessages::serverCallFinished() { c_.manager.handleServerCallFinished(); }

void CallBridgeMessages::setCallScreenshotAccessAllowed(const nlohmann::json& body) {
  c_.manager.setScreenshotAccessAllowed(payloadFlag(body, "allowed").value_or(false));
}

void CallBridgeMessages::setCallStrings(const nlohmann::json& body) {
  if (!body.is_string()) {
    log("[CallStrings] invalid payload — keeping current strings");
    return;
  }
  c_.strings.setCallStrings(body.get_ref<const std::string&>());
}

// ---------------------------------------------------------------- incoming calls

void CallBridgeMessages::showIncomingCallPanel(const nlohmann::json& body) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  if (c_.manager.isMaskedOrWiped()) return;
  IncomingCallAnnouncement call;
  call.callerName = payloadString(body, "from").value_or("Unknown");
  call.userNumber = payloadString(body, "userNumber").value_or("");
  call.imageUrl = payloadString(body, "imageUrl").value_or("");
  call.isAudio = payloadFlag(body, "isAudio").value_or(true);
  call.pushId = payloadString(body, "pushId").value_or("");
  call.isDarkMode = payloadFlag(body, "isDarkMode").value_or(true);
  call.identityGuessed = payloadFlag(body, "identityGuessed").value_or(false);
  call.myIsSubscribed = payloadFlag(body, "myIsSubscribed").value_or(false);
  call.callerIsSubscribed = payloadFlag(body, "callerIsSubscribed").value_or(false);
  c_.manager.setLocalIsSubscribed(call.myIsSubscribed);

  const auto weak = lifetime_.weak(this);
  auto accept = [weak, call] {
    // Dark mode is always asked for here: the page's flag styles only the panel.
    if (auto* self = weak.get()) {
      self->c_.manager.acceptIncomingFromPanel(call.userNumber, call.callerName, call.isAudio, call.pushId, true);
    }
  };
  auto decline = [weak, page = c_.page] {
    auto* self = weak.get();
    if (!self) return;
    self->c_.manager.rejectCall();
    self->c_.queue.post([page] {
      if (auto sink = page.lock()) sink->evaluateScript(kCallDeclined);
    });
  };
  if (c_.manager.isInCall()) {
    // The page announces the ringing call again (a push and the socket both
    // told it): show the panel afresh instead of calling its caller busy.
    if (c_.manager.isRingingIncoming(call.userNumber, call.pushId)) {
      c_.windows.showIncomingCallPanel(call, std::move(accept), std::move(decline));
      return;
    }
    c_.manager.sendBusyToNewCaller(call.userNumber);
    return;
  }
  c_.manager.prepareSignalingForIncoming(call);
  c_.windows.showIncomingCallPanel(call, std::move(accept), std::move(decline));
}

void CallBridgeMessages::dismissIncomingCallPanel() { c_.windows.dismissIncomingCallPanel(); }

void CallBridgeMessages::callerIdentityResolved(const nlohmann::json& body) {
  c_.manager.callerIdentityResolved(payloadString(body, "userNumber").value_or(""),
                                    payloadString(body, "name").value_or(""), payloadString(body, "imageUrl"),
                                    payloadFlag(body, "isSubscribed").value_or(false));
}

void CallBridgeMessages::callHandledByOtherDevice(const nlohmann::json& body) {
  c_.manager.handleSendToMyDevices(payloadString(body, "actionType").value_or("rejectCall"));
}

void CallBridgeMessages::reliableCallCancelReceived(const nlohmann::json& body) {
  c_.manager.handleMissedCallMessage(payloadString(body, "from").value_or(""),
                                     payloadString(body, "pushId").value_or(""));
}

void CallBridgeMessages::openCallWindow(const nlohmann::json& body) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  if (c_.manager.isMaskedOrWiped()) {
    log("[WebView] openCallWindow suppressed — decoy/wipeout active");
    return;
  }
  std::string from = payloadString(body, "from").value_or("");
  // A device address ("<user>_<device>") names its user by the part before "_".
  if (const auto cut = from.find('_'); cut != std::string::npos) from.resize(cut);
  const bool isAudio = payloadFlag(body, "isAudio").value_or(false);
  const bool isOutgoing = payloadFlag(body, "isOutgoing").value_or(false);
  const std::string pushId = payloadString(body, "pushId").value_or("");
  const bool hasCredentials = c_.manager.hasCredentials();
  log("[WebView] openCallWindow — from:" + from + " isAudio:" + text(isAudio) + " isOutgoing:" + text(isOutgoing) +
      " hasCredentials:" + text(hasCredentials));
  if (from.empty() || isOutgoing) return;
  if (hasCredentials) {
    c_.manager.handleIncomingCall(from, isAudio, pushId, true);
    return;
  }
  evaluateInPage(c_.authDataScript);
  c_.queue.postAfter(kDeferredStepSeconds, [weak = lifetime_.weak(this), from, isAudio, pushId] {
    if (auto* self = weak.get()) self->c_.manager.handleIncomingCall(from, isAudio, pushId, true);
  });
}

// ---------------------------------------------------------------- pre-call and call windows

void CallBridgeMessages::showPreCallUI(const nlohmann::json& body) {
  c_.windows.showPreCallWindow(payloadString(body, "calleeName").value_or("Unknown"),
                               payloadString(body, "userNumber").value_or(""),
                               payloadString(body, "imageUrl").value_or(""),
                               payloadFlag(body, "isAudio").value_or(true));
}

void CallBridgeMessages::preCallStatusUpdate(const nlohmann::json& body) {
  if (auto status = payloadString(body, "status")) c_.windows.updatePreCallStatus(*status);
}

void CallBridgeMessages::callConnected() {
  c_.windows.closePreCallWindow();
  evaluateInPage(kStartLocalCamera);
  c_.windows.bringCallWindowToFront();
}

void CallBridgeMessages::callWindowClose() {
  c_.windows.markPreCallEnded();
  c_.windows.closeCallWindow();
}

void CallBridgeMessages::bringCallWindowToFront() {
  if (c_.windows.isPreCallWindowActive()) {
    c_.windows.bringPreCallWindowToFront();
  } else {
    c_.windows.bringCallWindowToFront();
  }
}

void CallBridgeMessages::callWindowSetVar(const nlohmann::json& body) {
  if (auto script = payloadString(body, "js")) c_.windows.evaluateInCallWindow(*script);
}

// ---------------------------------------------------------------- ending and outgoing calls

void CallBridgeMessages::endNativeCall() {
  if (c_.manager.isInCall()) c_.manager.endCall();
}

void CallBridgeMessages::openNativeAudioUI(const nlohmann::json& body) { openOutgoingCall("openNativeAudioUI", body); }

void CallBridgeMessages::openNativeVideoUI(const nlohmann::json& body) { openOutgoingCall("openNativeVideoUI", body); }

void CallBridgeMessages::openOutgoingCall(const std::string& eventType, const nlohmann::json& body) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  if (c_.manager.isMaskedOrWiped()) {
    log("[WebView] " + eventType + " blocked — decoy/wipeout active");
    return;
  }
  auto request = readOutgoingCallRequest(eventType, body, c_.log);
  if (!request) return;
  const bool isVideo = request->type == CallType::video;
  c_.manager.setLocalIsSubscribed(request->myIsSubscribed);
  const std::string hasCredentials = text(c_.manager.hasCredentials());
  const std::string calleeSub = text(request->callee.isSubscribed);
  log("[WebView] " + eventType + " — name:" + request->callee.name +
      (isVideo ? std::string(" mySub:") + text(request->myIsSubscribed) : std::string()) + " calleeSub:" + calleeSub +
      " hasCredentials:" + hasCredentials);
  if (c_.manager.isInCall()) {
    log("[WebView] " + eventType + " ignored — already in a call");
    return;
  }
  const bool hasPage = evaluateInPage(c_.authDataScript);
  if (isVideo && !request->myIsSubscribed && !request->callee.isSubscribed &&
      c_.manager.dailyVideoUsedSeconds() >= kDailyVideoLimitSeconds) {
    log("[WebView] openNativeVideoUI blocked — daily video limit reached");
    c_.windows.showDailyVideoLimitAlert();
    return;
  }
  if (hasPage && !c_.manager.hasCredentials()) evaluateInPage(c_.authDataScript);
  c_.queue.postAfter(kDeferredStepSeconds, [weak = lifetime_.weak(this), request = std::move(*request), isVideo] {
    auto* self = weak.get();
    if (!self) return;
    if (isVideo) {
      self->c_.windows.openOutgoingVideoCall(request);
    } else {
      self->c_.windows.openOutgoingAudioCall(request);
    }
  });
}

std::optional<OutgoingCallRequest> CallBridgeMessages::readOutgoingCallRequest(std::string_view eventType,
                                                                               const nlohmann::json& body,
                                                                               const LogFunction& log) {
  const auto write = [&log](const std::string& line) {
    if (log) {
      log(line);
    } else {
      nativeLog(line);
    }
  };
  OutgoingCallRequest request;
  if (eventType == "openNativeAudioUI") {
    request.type = CallType::audio;
  } else if (eventType == "openNativeVideoUI") {
    request.type = CallType::video;
  } else {
    write("[WebView] outgoing call refused — unknown call type '" + std::string(eventType) + "'");
    return std::nullopt;
  }
  const std::string name = payloadString(body, "toName").value_or("");
  const std::string orvikID = payloadString(body, "toOrvikID").value_or("");
  if (isBlankOrTabs(orvikID)) {
    write("[WebView] " + std::string(eventType) + " ABORTED — no callee OrvikID (name=" + name + ")");
    return std::nullopt;
  }
  request.callee.name = name;
  request.callee.OrvikID = orvikID;
  request.callee.userNumber = orvikID;
  if (auto image = payloadString(body, "toImage"); image && !image->empty()) request.callee.avatarURL = image;
  request.callee.isSubscribed = payloadFlag(body, "calleeIsSubscribed").value_or(false);
  request.isDarkMode = payloadFlag(body, "isDarkMode").value_or(true);
  request.myIsSubscribed = payloadFlag(body, "myIsSubscribed").value_or(false);
  request.myName = payloadString(body, "myName").value_or("");
  request.myImage = payloadString(body, "myImage").value_or("");
  return request;
}

}  // namespace orvik
