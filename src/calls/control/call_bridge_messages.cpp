#include "calls/control/call_bridge_messages.h"

#include "calls/control/call_strings.h"
#include "calls/control/native_call_manager.h"
#include "core/native_logger.h"
#include "platform/message_routes.h"
#include "platform/page_payload.h"

namespace orvik {
namespace {

bool isBlankOrTabs(std::string_view text) { return text.find_first_not_of(" \t") == std::string_view::npos; }

}  // namespace

CallBridgeMessages::CallBridgeMessages(NativeCallManager& manager, CallStrings& strings, LogFunction log)
    : manager_(manager), strings_(strings), log_(std::move(log)) {}

void CallBridgeMessages::log(const std::string& line) const {
  if (log_) {
    log_(line);
  } else {
    nativeLog(line);
  }
}

void CallBridgeMessages::publishRoutes(platform::MessageRoutes& routes) {
  [[maybe_unused]] bool known = routes.route(CallStrings::kMessagePrefix, [this](const nlohmann::json& body) {
    setCallStrings(body);
  });
  known = routes.route("endNativeCall", [this](const nlohmann::json&) { endNativeCall(); });
}

void CallBridgeMessages::setCallStrings(const nlohmann::json& body) {
  if (!body.is_string()) {
    log("[CallStrings] invalid payload — keeping current strings");
    return;
  }
  strings_.setCallStrings(body.get_ref<const std::string&>());
}

void CallBridgeMessages::endNativeCall() {
  if (manager_.isInCall()) manager_.endCall();
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
  const std::string name = platform::payloadString(body, "toName").value_or("");
  const std::string orvikID = platform::payloadString(body, "toOrvikID").value_or("");
  if (isBlankOrTabs(orvikID)) {
    write("[WebView] " + std::string(eventType) + " ABORTED — no callee OrvikID (name=" + name + ")");
    return std::nullopt;
  }
  request.callee.name = name;
  request.callee.OrvikID = orvikID;
  request.callee.userNumber = orvikID;
  if (auto image = platform::payloadString(body, "toImage"); image && !image->empty()) request.callee.avatarURL = image;
  request.callee.isSubscribed = platform::payloadFlag(body, "calleeIsSubscribed").value_or(false);
  request.isDarkMode = platform::payloadFlag(body, "isDarkMode").value_or(true);
  request.myIsSubscribed = platform::payloadFlag(body, "myIsSubscribed").value_or(false);
  request.myName = platform::payloadString(body, "myName").value_or("");
  request.myImage = platform::payloadString(body, "myImage").value_or("");
  return request;
}

}  // namespace orvik
