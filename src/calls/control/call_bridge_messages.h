// The page's call messages that the call manager answers itself: the
// call-screen text table ("setCallStrings:…") and the page's hang-up
// ("endNativeCall"). Also reads the page's request for an outgoing call
// ("openNativeAudioUI", "openNativeVideoUI"), which the call windows route
// once they exist. Bad input is refused with a log line and changes nothing.
//
//   CallBridgeMessages messages(manager, CallStrings::shared());
//   messages.publishRoutes(routes);
//
// Owner: the composition root. THREAD-SAFETY: main queue only.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "calls/signaling/call_model.h"

namespace orvik {

class CallStrings;
class NativeCallManager;
namespace platform {
class MessageRoutes;
}  // namespace platform

// What the page asks for when it wants a native outgoing call.
struct OutgoingCallRequest {
  CallType type = CallType::audio;
  CallUser callee;
  bool isDarkMode = true;
  bool myIsSubscribed = false;
  std::string myName;   // video calls
  std::string myImage;  // video calls
};

class CallBridgeMessages {
 public:
  using LogFunction = std::function<void(const std::string& line)>;

  // `log` empty means nativeLog.
  CallBridgeMessages(NativeCallManager& manager, CallStrings& strings, LogFunction log = {});

  void publishRoutes(platform::MessageRoutes& routes);

  void setCallStrings(const nlohmann::json& body);
  void endNativeCall();

  // The request of an "openNativeAudioUI" or "openNativeVideoUI" message;
  // nothing (and a log line) for another name or a blank callee OrvikID.
  static std::optional<OutgoingCallRequest> readOutgoingCallRequest(std::string_view eventType,
                                                                    const nlohmann::json& body,
                                                                    const LogFunction& log);

 private:
  void log(const std::string& line) const;

  NativeCallManager& manager_;
  CallStrings& strings_;
  LogFunction log_;
};

}  // namespace orvik
