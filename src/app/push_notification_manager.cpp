#include "app/push_notification_manager.h"

#include <algorithm>
#include <utility>

#include "core/native_logger.h"
#include "platform/dispatch/task_queue.h"
#include "platform/message_routes.h"

namespace orvik {
namespace {

const nlohmann::json* member(const nlohmann::json& object, const char* key) {
  if (!object.is_object()) return nullptr;
  auto it = object.find(key);
  return it == object.end() ? nullptr : &*it;
}

std::optional<std::string> stringMember(const nlohmann::json& object, const char* key) {
  const nlohmann::json* value = member(object, key);
  if (!value || !value->is_string()) return std::nullopt;
  return value->get<std::string>();
}

std::string lowercased(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

}  // namespace

PushNotificationManager::PushNotificationManager(IncomingCallPushTarget& calls, std::function<void()> raiseWindows)
    : calls_(calls), raiseWindows_(std::move(raiseWindows)) {}

void PushNotificationManager::publishRoutes(platform::MessageRoutes& routes) {
  [[maybe_unused]] const bool known = routes.route("getDeviceToken", [this](const nlohmann::json&) {
    // Without a push service the token is known at once: empty.
    handleGetDeviceToken({});
  });
}

void PushNotificationManager::registerForRemoteNotifications() {
  didFailToRegister("remote notifications are not available on this desktop");
}

std::string PushNotificationManager::hexByteStrings(const std::string& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (unsigned char byte : bytes) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0f];
  }
  return text;
}

void PushNotificationManager::didRegister(const std::string& tokenBytes) {
  deviceToken_ = hexByteStrings(tokenBytes);
  sendDeviceTokenToPage(*deviceToken_);
}

void PushNotificationManager::didFailToRegister(const std::string& error) {
  nativeLog("[PUSH] registration failed: " + error);
  registrationFailed_ = true;
  sendDeviceTokenToPage("");
}

void PushNotificationManager::handleGetDeviceToken(
    const std::function<void(std::function<void(const platform::NotificationSettings&)>)>& settings) {
  if (deviceToken_) {
    sendDeviceTokenToPage(*deviceToken_);
    return;
  }
  if (registrationFailed_ || !settings) {
    sendDeviceTokenToPage("");
    return;
  }
  settings([this, alive = std::weak_ptr<bool>(alive_)](const platform::NotificationSettings& current) {
    if (alive.expired()) return;
    if (current.authorization != platform::NotificationAuthorization::authorized) sendDeviceTokenToPage("");
  });
}

void PushNotificationManager::sendDeviceTokenToPage(const std::string& token) {
  platform::callPage(page_, platform::pageFunctionCall("onDeviceTokenReceived", {token}));
}

void PushNotificationManager::didReceive(const platform::NotificationResponse& response,
                                         const std::function<void()>& clearBadge) {
  // Closing a banner is no request to see what it was about.
  if (response.action != platform::NotificationAction::open) return;
  nativeLog("[PUSH] didReceive (tapped) — raw payload: " + response.userInfo.dump());
  if (clearBadge) clearBadge();
  handleNotificationTap(response.userInfo);
}

void PushNotificationManager::handleNotificationTap(const nlohmann::json& userInfo) {
  platform::mainQueue().post([raise = raiseWindows_] {
    if (raise) raise();
  });
  if (!page_.expired()) {
    deliverTapPayloadToJS(userInfo);
  } else {
    pendingNotificationPayload_ = userInfo;
  }
}

void PushNotificationManager::deliverTapPayloadToJS(const nlohmann::json& userInfo) {
  // The page gets an object, whatever the banner carried.
  const nlohmann::json payload = userInfo.is_object() ? userInfo : nlohmann::json::object();
  platform::callPage(page_, platform::pageFunctionCall("onNotificationTapped", {payload}));
}

void PushNotificationManager::deliverPendingPayload() {
  if (!pendingNotificationPayload_) return;
  nlohmann::json payload = std::move(*pendingNotificationPayload_);
  pendingNotificationPayload_.reset();
  deliverTapPayloadToJS(payload);
}

bool PushNotificationManager::isAudioCall(const nlohmann::json& payload) {
  if (const nlohmann::json* isAudio = member(payload, "isAudio")) {
    if (isAudio->is_string()) return lowercased(isAudio->get<std::string>()) == "true";
    if (isAudio->is_boolean()) return isAudio->get<bool>();
  }
  if (const nlohmann::json* isAudioCall = member(payload, "isAudioCall")) {
    if (isAudioCall->is_number_integer()) return isAudioCall->get<std::int64_t>() == 1;
    if (isAudioCall->is_boolean()) return isAudioCall->get<bool>();
  }
  return true;
}

std::optional<std::string> PushNotificationManager::callerName(const nlohmann::json& payload) {
  if (const nlohmann::json* aps = member(payload, "aps")) {
    if (const nlohmann::json* alert = member(*aps, "alert")) {
      if (auto title = stringMember(*alert, "title")) return title;
    }
  }
  return stringMember(payload, "title");
}

void PushNotificationManager::handleIncomingCallPush(const nlohmann::json& payload) {
  if (calls_.isMaskedOrWiped()) {
    nativeLog("[CALL] Incoming push suppressed — decoy/wipeout active");
    return;
  }
  nativeLog("[CALL] handleIncomingCall — raw payload: " + payload.dump());
  IncomingCallPush call;
  call.isAudio = isAudioCall(payload);
  call.pushId = stringMember(payload, "pushToken").value_or(stringMember(payload, "pushId").value_or(""));
  const std::string from = stringMember(payload, "from").value_or("");
  if (auto name = callerName(payload)) {
    call.displayName = *name;
  } else {
    call.displayName = from.empty() ? "Unknown" : from;
  }
  call.callerNumber = from.substr(0, from.find('_'));
  // A second announcement of the call already ringing is no new caller: it
  // shows the panel again and must never answer that caller busy.
  if (calls_.isInCall() && !calls_.isRingingCall(call)) {
    calls_.sendBusyToNewCaller(call.callerNumber);
    return;
  }
  platform::mainQueue().post([this, alive = std::weak_ptr<bool>(alive_), page = page_.lock(), call] {
    if (alive.expired()) return;
    if (page) page->evaluateScript("window.__nativeCallPanelActive = true;");
    calls_.prepareSignalingForIncoming(call);
    calls_.showIncomingCallPanel(
        call,
        [this, alive, page, call] {
          if (alive.expired()) return;
          if (page) page->evaluateScript("window.__nativeCallPanelActive = false;");
          calls_.acceptIncomingFromPanel(call);
        },
        [this, alive, page] {
          if (alive.expired()) return;
          calls_.rejectCall();
          if (page) page->evaluateScript("window.__nativeCallPanelActive = false;");
        });
  });
}

}  // namespace orvik
