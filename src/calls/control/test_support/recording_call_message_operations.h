// Test double of both sides the page's call messages reach: every operation
// is written to one ordered list (`calls`) as "name(arguments)", the queries
// answer from the public fields, and the incoming panel's actions are kept to
// be run by the test.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "calls/control/call_message_operations.h"

namespace orvik::testing {

class RecordingCallMessageOperations final : public CallManagerOperations, public CallWindowOperations {
 public:
  // CallManagerOperations.
  bool isInCall() const override { return inCall; }
  bool isMaskedOrWiped() const override { return maskedOrWiped; }
  bool hasCredentials() const override { return credentials; }
  bool isRingingIncoming(const std::string& userNumber, const std::string& pushId) const override {
    return inCall && ((!userNumber.empty() && userNumber == ringingFrom) || (!pushId.empty() && pushId == ringingPushId));
  }
  void setCallLimitExempt(bool exempt, const std::vector<std::string>& numbers) override {
    std::string list;
    for (const auto& number : numbers) list += (list.empty() ? "" : ",") + number;
    add("setCallLimitExempt(" + flag(exempt) + ",[" + list + "])");
  }
  void handleServerCallFinished() override { add("handleServerCallFinished()"); }
  void setScreenshotAccessAllowed(bool allowed) override { add("setScreenshotAccessAllowed(" + flag(allowed) + ")"); }
  void setLocalIsSubscribed(bool subscribed) override { add("setLocalIsSubscribed(" + flag(subscribed) + ")"); }
  void sendBusyToNewCaller(const std::string& userNumber) override { add("sendBusyToNewCaller(" + userNumber + ")"); }
  void prepareSignalingForIncoming(const IncomingCallAnnouncement& call) override {
    add("prepareSignalingForIncoming(" + describe(call) + ")");
  }
  void callerIdentityResolved(const std::string& userNumber, const std::string& name,
                              const std::optional<std::string>& imageUrl, bool isSubscribed) override {
    add("callerIdentityResolved(" + userNumber + "," + name + "," + imageUrl.value_or("<none>") + "," +
        flag(isSubscribed) + ")");
  }
  void handleSendToMyDevices(const std::string& action) override { add("handleSendToMyDevices(" + action + ")"); }
  void handleMissedCallMessage(const std::string& caller, const std::string& pushId) override {
    add("handleMissedCallMessage(" + caller + "," + pushId + ")");
  }
  void handleIncomingCall(const std::string& caller, bool isAudio, const std::string& pushId,
                          bool isDarkMode) override {
    add("handleIncomingCall(" + caller + "," + flag(isAudio) + "," + pushId + "," + flag(isDarkMode) + ")");
  }
  void acceptIncomingFromPanel(const std::string& userNumber, const std::string& name, bool isAudio,
                               const std::string& pushId, bool isDarkMode) override {
    add("acceptIncomingFromPanel(" + userNumber + "," + name + "," + flag(isAudio) + "," + pushId + "," +
        flag(isDarkMode) + ")");
  }
  void rejectCall() override { add("rejectCall()"); }
  void endCall() override { add("endCall()"); }
  int dailyVideoUsedSeconds() override { return dailyVideoSeconds; }

  // CallWindowOperations.
  void showIncomingCallPanel(const IncomingCallAnnouncement& call, std::function<void()> accept,
                             std::function<void()> decline) override {
    add("showIncomingCallPanel(" + describe(call) + ")");
    panelAccept = std::move(accept);
    panelDecline = std::move(decline);
  }
  void dismissIncomingCallPanel() override { add("dismissIncomingCallPanel()"); }
  void showPreCallWindow(const std::string& calleeName, const std::string& userNumber, const std::string& imageUrl,
                         bool isAudio) override {
    add("showPreCallWindow(" + calleeName + "," + userNumber + "," + imageUrl + "," + flag(isAudio) + ")");
  }
  void updatePreCallStatus(const std::string& status) override { add("updatePreCallStatus(" + status + ")"); }
  void closePreCallWindow() override { add("closePreCallWindow()"); }
  void markPreCallEnded() override { add("markPreCallEnded()"); }
  bool isPreCallWindowActive() override { return preCallActive; }
  void bringPreCallWindowToFront() override { add("bringPreCallWindowToFront()"); }
  void closeCallWindow() override { add("closeCallWindow()"); }
  void bringCallWindowToFront() override { add("bringCallWindowToFront()"); }
  void evaluateInCallWindow(const std::string& script) override { add("evaluateInCallWindow(" + script + ")"); }
  void openOutgoingAudioCall(const OutgoingCallRequest& request) override {
    add("openOutgoingAudioCall(" + describe(request) + ")");
  }
  void openOutgoingVideoCall(const OutgoingCallRequest& request) override {
    add("openOutgoingVideoCall(" + describe(request) + ")");
  }
  void showDailyVideoLimitAlert() override { add("showDailyVideoLimitAlert()"); }

  static std::string flag(bool value) { return value ? "true" : "false"; }
  static std::string describe(const IncomingCallAnnouncement& call) {
    return call.callerName + "," + call.userNumber + "," + call.imageUrl + "," + flag(call.isAudio) + "," +
           call.pushId + "," + flag(call.isDarkMode) + "," + flag(call.identityGuessed) + "," +
           flag(call.callerIsSubscribed);
  }
  static std::string describe(const OutgoingCallRequest& request) {
    return request.callee.name + "," + request.callee.OrvikID + "," + request.callee.avatarURL.value_or("<none>") +
           "," + flag(request.callee.isSubscribed) + "," + flag(request.isDarkMode) + "," + request.myName + "," +
           request.myImage + "," + flag(request.myIsSubscribed);
  }

  std::vector<std::string> calls;
  bool inCall = false;
  bool maskedOrWiped = false;
  bool credentials = true;
  bool preCallActive = false;
  int dailyVideoSeconds = 0;
  std::string ringingFrom;
  std::string ringingPushId;
  std::function<void()> panelAccept;
  std::function<void()> panelDecline;

 private:
  void add(std::string call) { calls.push_back(std::move(call)); }
};

}  // namespace orvik::testing
