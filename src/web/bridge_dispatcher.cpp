#include "web/bridge_dispatcher.h"

#include <algorithm>
#include <array>
#include <iostream>
#include <vector>

#include "core/native_logger.h"
#include "files/file_transfer_messages.h"
#include "platform/json_limits.h"
#include "platform/queue_checker.h"

namespace orvik {
namespace {

constexpr const char* kNativeApp = "nativeApp";
constexpr const char* kLogger = "logger";
constexpr const char* kNativeTag = "NATIVE";

using M = BridgeDispatcher::Match;
constexpr std::array<BridgeDispatcher::TextName, 15> kTextNames = {{
    {"getDeviceInfo", M::exact},
    {"voiceRecordingStarted", M::exact},
    {"voiceRecordingStopped", M::exact},
    {"accept:", M::prefix},
    {"getDeviceToken", M::exact},
    {"getDeviceUdid", M::exact},
    {"showLocalNotification:", M::prefix},
    {"clearBadge", M::exact},
    {"setCallStrings:", M::prefix},
    {"setUnreadTotal:", M::prefix},
    {"clearChatNotifications:", M::prefix},
    {"userLoggedIn", M::exact},
    {"checkForUpdates", M::prefix},
    {"updateUIHidden", M::exact},
    {"updateAnchor:", M::prefix},
}};

// The names of subsystems that publish their own table are added to these.
constexpr std::array<std::string_view, 53> kOwnDictionaryNames = {
    "setCallLimitExempt", "setInspectorAllowed", "setScreenshotProtected", "serverCallFinished",
    "setCallScreenshotAccessAllowed", "setRingtoneVolumes", "stopRingtonePreview", "setNotificationSound",
    "previewNotificationSound", "setIncomingRingtone", "previewIncomingRingtone", "securityStateChanged",
    "requestMediaPermission",
    // Viewers (the transfers' names are FileTransferMessages::messageNames()).
    "openImageModal", "openImageGallery", "openOrSaveImage", "openDocumentModal", "openOrSaveDocument",
    "openOrSaveVideo", "openVideoModal", "readVideoForPlayback",
    "openURL", "getAppVersion", "userSignedOut", "deleteLocalFiles", "beginFileDrag",
    "saveImageToSystem", "copyImageToClipboard", "shareImageToSystem", "saveVideoToSystem", "saveDocumentToSystem",
    // Calls and call windows.
    "showIncomingCallPanel", "dismissIncomingCallPanel", "callerIdentityResolved", "callHandledByOtherDevice",
    "reliableCallCancelReceived", "otherDeviceBusyChanged", "showPreCallUI", "preCallStatusUpdate", "callConnected",
    "callWindowClose", "bringCallWindowToFront", "callWindowSetVar",
    "nativeAuthData", "writeDebugLog", "getDebugLogSize", "getDebugLogContent", "clearDebugLog",
    "endNativeCall", "openNativeAudioUI", "openNativeVideoUI", "openCallWindow",
    "themeChanged",
};

// A console argument as plain text: strings as they are, anything else as JSON.
std::string describe(const nlohmann::json& value) {
  return value.is_string() ? value.get<std::string>() : platform::describeJson(value);
}

const std::vector<std::string_view>& allDictionaryNames() {
  static const std::vector<std::string_view> names = [] {
    std::vector<std::string_view> all(kOwnDictionaryNames.begin(), kOwnDictionaryNames.end());
    const auto files = FileTransferMessages::messageNames();
    all.insert(all.end(), files.begin(), files.end());
    return all;
  }();
  return names;
}

}  // namespace

std::span<const BridgeDispatcher::TextName> BridgeDispatcher::textNames() { return kTextNames; }
std::span<const std::string_view> BridgeDispatcher::dictionaryNames() { return allDictionaryNames(); }

BridgeDispatcher::BridgeDispatcher(Collaborators collaborators) : collaborators_(std::move(collaborators)) {}

bool BridgeDispatcher::route(std::string_view name, Handler handler) {
  const bool known =
      std::any_of(kTextNames.begin(), kTextNames.end(), [&](const TextName& entry) { return entry.name == name; }) ||
      std::find(allDictionaryNames().begin(), allDictionaryNames().end(), name) != allDictionaryNames().end();
  if (!known) return false;
  routes_[std::string(name)] = std::move(handler);
  return true;
}

bool BridgeDispatcher::isTrustedBridgeOrigin(const BridgeMessage& message) const {
  return message.isMainFrame && message.documentVerified && message.protocol == "https" &&
         collaborators_.isTrustedHost && collaborators_.isTrustedHost(message.host);
}

void BridgeDispatcher::didReceive(const BridgeMessage& message) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  if (!isTrustedBridgeOrigin(message)) {
    logger().log("[WebView] Ignored bridge '" + message.handler + "' from untrusted origin " + message.protocol +
                     "://" + message.host + ":" + std::to_string(message.port) +
                     " mainFrame=" + (message.isMainFrame ? "true" : "false"),
                 kNativeTag, NativeLogger::ForwardToWeb{true});
    return;
  }
  if (message.handler == kLogger) {
    echoConsoleLine(message.body);
    return;
  }
  if (message.handler != kNativeApp) return;
  if (collaborators_.hasCredentials && !collaborators_.hasCredentials() && collaborators_.fetchCredentials) {
    collaborators_.fetchCredentials("bridge-message");
  }
  const auto& body = message.body;
  if (body.is_string()) {
    const auto& text = body.get_ref<const std::string&>();
    for (const auto& entry : kTextNames) {
      const bool matches = entry.match == Match::exact ? text == entry.name : text.rfind(entry.name, 0) == 0;
      if (matches) {
        dispatch(entry.name, body);
        return;
      }
    }
    return;
  }
  if (!body.is_object()) return;
  const auto eventType = body.find("eventType");
  if (eventType == body.end() || !eventType->is_string()) return;
  const auto& name = eventType->get_ref<const std::string&>();
  if (std::find(allDictionaryNames().begin(), allDictionaryNames().end(), name) == allDictionaryNames().end()) return;
  dispatch(name, body);
}

void BridgeDispatcher::dispatch(std::string_view name, const nlohmann::json& body) {
  const auto found = routes_.find(name);
  if (found == routes_.end() || !found->second) {
    // Its subsystem is not part of this build yet: say so rather than pretend.
    logger().log("[WebView] bridge message '" + std::string(name) + "' not handled yet", kNativeTag,
                 NativeLogger::ForwardToWeb{true});
    return;
  }
  found->second(body);
}

void BridgeDispatcher::echoConsoleLine(const nlohmann::json& body) {
  if (!body.is_object()) return;
  const auto type = body.find("type");
  const auto args = body.find("args");
  if (type == body.end() || !type->is_string() || args == body.end() || !args->is_array()) return;
  std::string text;
  bool first = true;
  for (const auto& argument : *args) {
    if (!first) text += ' ';
    text += describe(argument);
    first = false;
  }
  // Forwarding stays off: the page's own lines never travel back into its console.
  const auto& level = type->get_ref<const std::string&>();
  if (level == "warn") {
    print("⚠️  [Web] " + text);
    logger().log("[Web] " + text, kNativeTag, NativeLogger::ForwardToWeb{false});
  } else if (level == "error") {
    print("❌  [Web] " + text);
    logger().log("[Web] " + text, kNativeTag, NativeLogger::ForwardToWeb{false});
  } else {
    print("🌐 [Web] " + text);
  }
}

NativeLogger& BridgeDispatcher::logger() const {
  return collaborators_.logger ? *collaborators_.logger : NativeLogger::shared();
}

void BridgeDispatcher::print(const std::string& line) const {
  if (collaborators_.print) {
    collaborators_.print(line);
  } else {
    std::cout << line << std::endl;
  }
}

}  // namespace orvik
