// The program's side of notifications the user clicks and of the push token:
// a click on a banner (the default action only; closing one is no click)
// raises the program and hands the banner's content to the page, or keeps
// the latest one until a page has loaded; a call banner opens the native
// incoming-call panel. The desktop has no remote push service, so
// registration always fails and the page's token request gets the empty
// token.
//
//   PushNotificationManager push(calls, raiseWindows);
//   push.setPage(mainPage);
//   push.handleIncomingCallPush(payload);
//
// Owner: the composition root. THREAD-SAFETY: main queue only.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/notifier.h"
#include "platform/page_call.h"

namespace orvik {

namespace platform {
class MessageRoutes;
}  // namespace platform

// An incoming call as a notification announces it.
struct IncomingCallPush {
  std::string callerNumber;
  std::string displayName;
  std::string pushId;
  bool isAudio = true;
  friend bool operator==(const IncomingCallPush&, const IncomingCallPush&) = default;
};

// What an announced call needs of the call engine and its panel.
class IncomingCallPushTarget {
 public:
  virtual ~IncomingCallPushTarget() = default;
  // The decoy or wipe-out mode is active.
  virtual bool isMaskedOrWiped() const = 0;
  // Ringing, calling, connecting or connected.
  virtual bool isInCall() const = 0;
  // Whether `call` is the call ringing here now, announced once more.
  virtual bool isRingingCall(const IncomingCallPush& call) const = 0;
  virtual void sendBusyToNewCaller(const std::string& callerNumber) = 0;
  virtual void prepareSignalingForIncoming(const IncomingCallPush& call) = 0;
  virtual void showIncomingCallPanel(const IncomingCallPush& call, std::function<void()> accept,
                                     std::function<void()> decline) = 0;
  virtual void acceptIncomingFromPanel(const IncomingCallPush& call) = 0;
  virtual void rejectCall() = 0;
};

class PushNotificationManager {
 public:
  // `raiseWindows` brings the program and its windows to the front.
  PushNotificationManager(IncomingCallPushTarget& calls, std::function<void()> raiseWindows);

  // The page every call goes to; a call while there is none is skipped.
  void setPage(std::weak_ptr<platform::PageScriptSink> page) { page_ = std::move(page); }
  std::weak_ptr<platform::PageScriptSink> page() const { return page_; }

  // "getDeviceToken".
  void publishRoutes(platform::MessageRoutes& routes);

  // Asks for a push token. This desktop has none to give: the registration
  // fails at once.
  void registerForRemoteNotifications();
  void didRegister(const std::string& tokenBytes);
  void didFailToRegister(const std::string& error);
  // `settings` reads whether the user lets the program notify.
  void handleGetDeviceToken(
      const std::function<void(std::function<void(const platform::NotificationSettings&)>)>& settings);
  void sendDeviceTokenToPage(const std::string& token);

  // The user acted on one of the program's banners.
  void didReceive(const platform::NotificationResponse& response, const std::function<void()>& clearBadge);
  void handleNotificationTap(const nlohmann::json& userInfo);
  void deliverTapPayloadToJS(const nlohmann::json& userInfo);
  // After each finished load of the main page: hands over a click that came
  // while there was no page.
  void deliverPendingPayload();

  void handleIncomingCallPush(const nlohmann::json& payload);

  const std::optional<std::string>& deviceToken() const { return deviceToken_; }
  bool registrationFailed() const { return registrationFailed_; }
  const std::optional<nlohmann::json>& pendingNotificationPayload() const { return pendingNotificationPayload_; }

  static std::string hexByteStrings(const std::string& bytes);
  static bool isAudioCall(const nlohmann::json& payload);
  static std::optional<std::string> callerName(const nlohmann::json& payload);

 private:
  IncomingCallPushTarget& calls_;
  std::function<void()> raiseWindows_;
  std::weak_ptr<platform::PageScriptSink> page_;
  std::optional<std::string> deviceToken_;
  std::optional<nlohmann::json> pendingNotificationPayload_;
  bool registrationFailed_ = false;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace orvik
