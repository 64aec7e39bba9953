// The page's call and call-window messages: account limits, screenshot
// access, the call-screen text table ("setCallStrings:…"), the incoming-call
// panel, caller identity, calls settled on another device, the pre-call and
// web call windows, the page's hang-up, incoming calls the page announces and
// the native outgoing call screens. Each message is read here and ends in one
// operation of CallManagerOperations or CallWindowOperations
// (call_message_operations.h); missing or mistyped payload values take their
// defaults. The 1.0 s steps are plain delayed tasks on the main queue that
// carry the payload read when the message came.
//
//   CallBridgeMessages messages({manager, windows, strings, mainQueue(), page, authDataScript});
//   messages.publishRoutes(routes);
//
// Owner: the composition root. THREAD-SAFETY: main queue only.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "calls/control/call_message_operations.h"
#include "platform/lifetime_token.h"

namespace orvik {

class CallStrings;
namespace platform {
class MessageRoutes;
class PageScriptSink;
class TaskQueue;
}  // namespace platform

class CallBridgeMessages {
 public:
  using LogFunction = std::function<void(const std::string& line)>;

  static constexpr double kDeferredStepSeconds = 1.0;
  static constexpr int kDailyVideoLimitSeconds = 1800;

  struct Collaborators {
    CallManagerOperations& manager;
    CallWindowOperations& windows;
    CallStrings& strings;
    platform::TaskQueue& queue;
    // The main web view's page: credential refreshes, the local camera start
    // and the decline notice go there; empty skips them.
    std::weak_ptr<platform::PageScriptSink> page{};
    // The auth-data script (the credential fetch's), evaluated to refresh the
    // call credentials before a call.
    std::string authDataScript{};
    // Empty: nativeLog.
    LogFunction log{};
  };

  explicit CallBridgeMessages(Collaborators collaborators);

  // Every name routed here, in the dispatcher's order ("setCallStrings:" is
  // the one text-form name).
  static std::span<const std::string_view> messageNames();
  void publishRoutes(platform::MessageRoutes& routes);

  // The handlers, with the whole body as the dispatcher passes it.
  void setCallLimitExempt(const nlohmann::json& body);
  void serverCallFinished();
  void setCallScreenshotAccessAllowed(const nlohmann::json& body);
  void setCallStrings(const nlohmann::json& body);
  void showIncomingCallPanel(const nlohmann::json& body);
  void dismissIncomingCallPanel();
  void callerIdentityResolved(const nlohmann::json& body);
  void callHandledByOtherDevice(const nlohmann::json& body);
  void reliableCallCancelReceived(const nlohmann::json& body);
  void showPreCallUI(const nlohmann::json& body);
  void preCallStatusUpdate(const nlohmann::json& body);
  void callConnected();
  void callWindowClose();
  void bringCallWindowToFront();
  void callWindowSetVar(const nlohmann::json& body);
  void endNativeCall();
  void openCallWindow(const nlohmann::json& body);
  void openNativeAudioUI(const nlohmann::json& body);
  void openNativeVideoUI(const nlohmann::json& body);

  // The request of an "openNativeAudioUI" or "openNativeVideoUI" message;
  // nothing (and a log line) for another name or a blank callee OrvikID.
  static std::optional<OutgoingCallRequest> readOutgoingCallRequest(std::string_view eventType,
                                                                    const nlohmann::json& body,
                                                                    const LogFunction& log);

 private:
  void log(const std::string& line) const;
  // Evaluates `script` in the main page when there is one; false without.
  bool evaluateInPage(const std::string& script) const;
  void openOutgoingCall(const std::string& eventType, const nlohmann::json& body);

  Collaborators c_;
  // Weakly held by the panel's actions and the delayed steps. Last member.
  platform::LifetimeToken lifetime_;
};

}  // namespace orvik
