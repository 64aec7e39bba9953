// CallWindowOperations in the program: the web call window
// (NativeCallWindow), the pre-call window, the incoming-call panel and the
// call alerts. The native call screens are joined here as they come; until
// then a request for one is logged and nothing opens.
//
// Owner: the composition root. THREAD-SAFETY: main queue only.
#pragma once

#include <functional>
#include <string>
#include <utility>

#include "calls/control/call_message_operations.h"

namespace orvik {

class CallAlerts;
class IncomingCallPanel;
class NativeCallWindow;
class NativePreCallWindow;

class AppCallWindowOperations final : public CallWindowOperations {
 public:
  using LogFunction = std::function<void(const std::string& line)>;

  // `log` empty means nativeLog.
  AppCallWindowOperations(NativeCallWindow& callWindow, CallAlerts& alerts, LogFunction log = {});

  void showIncomingCallPanel(const IncomingCallAnnouncement& call, std::function<void()> accept,
                             std::function<void()> decline) override;
  void dismissIncomingCallPanel() override;
  void showPreCallWindow(const std::string& calleeName, const std::string& userNumber, const std::string& imageUrl,
                         bool isAudio) override;
  void updatePreCallStatus(const std::string& status) override;
  void closePreCallWindow() override;
  void markPreCallEnded() override;
  bool isPreCallWindowActive() override;
  void bringPreCallWindowToFront() override;
  void closeCallWindow() override;
  void bringCallWindowToFront() override;
  void evaluateInCallWindow(const std::string& script) override;
  void openOutgoingAudioCall(const OutgoingCallRequest& request) override;
  void openOutgoingVideoCall(const OutgoingCallRequest& request) override;
  void showDailyVideoLimitAlert() override;

  // The native audio call window's open, which places the call.
  void setAudioCallOpener(std::function<void(const OutgoingCallRequest&)> open) { openAudioCall_ = std::move(open); }
  void setVideoCallOpener(std::function<void(const OutgoingCallRequest&)> open) { openVideoCall_ = std::move(open); }
  // The panel that rings an incoming call; null while there is none.
  void setIncomingCallPanel(std::function<IncomingCallPanel*()> panel) { incomingPanel_ = std::move(panel); }
  // The pre-call window's controller; null while there is none.
  void setPreCallWindow(std::function<NativePreCallWindow*()> window) { preCallWindow_ = std::move(window); }

 private:
  void notYet(const std::string& operation) const;
  NativePreCallWindow* preCallWindow() const { return preCallWindow_ ? preCallWindow_() : nullptr; }

  NativeCallWindow& callWindow_;
  CallAlerts& alerts_;
  LogFunction log_;
  std::function<void(const OutgoingCallRequest&)> openAudioCall_;
  std::function<void(const OutgoingCallRequest&)> openVideoCall_;
  std::function<IncomingCallPanel*()> incomingPanel_;
  std::function<NativePreCallWindow*()> preCallWindow_;
};

}  // namespace orvik
