// What the page's call messages reach, named as the operations they call:
// the call manager's side (CallManagerOperations) and the call windows' side
// (CallWindowOperations). CallBridgeMessages reads each message and calls
// exactly these; the program implements them over NativeCallManager
// (NativeCallManagerOperations) and the call windows, tests with the
// recording fake in test_support/recording_call_message_operations.h.
//
// THREAD-SAFETY: main queue only.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "calls/signaling/call_model.h"

namespace orvik {

// An incoming call the page announces for the incoming-call panel.
struct IncomingCallAnnouncement {
  std::string callerName = "Unknown";
  std::string userNumber;
  std::string imageUrl;
  bool isAudio = true;
  std::string pushId;
  bool isDarkMode = true;
  bool identityGuessed = false;
  bool myIsSubscribed = false;
  bool callerIsSubscribed = false;
  friend bool operator==(const IncomingCallAnnouncement&, const IncomingCallAnnouncement&) = default;
};

// What the page asks for when it wants a native outgoing call.
struct OutgoingCallRequest {
  CallType type = CallType::audio;
  CallUser callee;
  bool isDarkMode = true;
  bool myIsSubscribed = false;
  std::string myName;   // video calls
  std::string myImage;  // video calls
};

class CallManagerOperations {
 public:
  virtual ~CallManagerOperations() = default;

  virtual bool isInCall() const = 0;
  virtual bool isMaskedOrWiped() const = 0;
  virtual bool hasCredentials() const = 0;
  // Whether the call ringing here now is the incoming call from `userNumber`
  // or with `pushId` (a second announcement of the same call).
  virtual bool isRingingIncoming(const std::string& userNumber, const std::string& pushId) const = 0;

  virtual void setCallLimitExempt(bool exempt, const std::vector<std::string>& numbers) = 0;
  virtual void handleServerCallFinished() = 0;
  virtual void setScreenshotAccessAllowed(bool allowed) = 0;
  virtual void setLocalIsSubscribed(bool subscribed) = 0;
  virtual void sendBusyToNewCaller(const std::string& userNumber) = 0;
  virtual void prepareSignalingForIncoming(const IncomingCallAnnouncement& call) = 0;
  virtual void callerIdentityResolved(const std::string& userNumber, const std::string& name,
                                      const std::optional<std::string>& imageUrl, bool isSubscribed) = 0;
  virtual void handleSendToMyDevices(const std::string& action) = 0;
  virtual void handleMissedCallMessage(const std::string& caller, const std::string& pushId) = 0;
  // An incoming call the page announced: no caller name or image here.
  virtual void handleIncomingCall(const std::string& caller, bool isAudio, const std::string& pushId,
                                  bool isDarkMode) = 0;
  virtual void acceptIncomingFromPanel(const std::string& userNumber, const std::string& name, bool isAudio,
                                       const std::string& pushId, bool isDarkMode) = 0;
  virtual void rejectCall() = 0;
  virtual void endCall() = 0;
  // Seconds of free-to-free video used today.
  virtual int dailyVideoUsedSeconds() = 0;
};

class CallWindowOperations {
 public:
  virtual ~CallWindowOperations() = default;

  // The panel runs `accept` or `decline` when the user answers.
  virtual void showIncomingCallPanel(const IncomingCallAnnouncement& call, std::function<void()> accept,
                                     std::function<void()> decline) = 0;
  virtual void dismissIncomingCallPanel() = 0;

  virtual void showPreCallWindow(const std::string& calleeName, const std::string& userNumber,
                                 const std::string& imageUrl, bool isAudio) = 0;
  virtual void updatePreCallStatus(const std::string& status) = 0;
  virtual void closePreCallWindow() = 0;
  virtual void markPreCallEnded() = 0;
  virtual bool isPreCallWindowActive() = 0;
  virtual void bringPreCallWindowToFront() = 0;

  // The web call window.
  virtual void closeCallWindow() = 0;
  virtual void bringCallWindowToFront() = 0;
  virtual void evaluateInCallWindow(const std::string& script) = 0;

  // The native call screens; each asks the call manager to place the call.
  virtual void openOutgoingAudioCall(const OutgoingCallRequest& request) = 0;
  virtual void openOutgoingVideoCall(const OutgoingCallRequest& request) = 0;
  // "Daily video limit reached", one "OK" button.
  virtual void showDailyVideoLimitAlert() = 0;
};

}  // namespace orvik
