#include "app/call_window_operations.h"

#include "calls/control/call_ports.h"
#include "calls/windows/incoming_call_panel.h"
#include "calls/windows/native_call_window.h"
#include "calls/windows/native_pre_call_window.h"
#include "core/native_logger.h"

namespace orvik {

AppCallWindowOperations::AppCallWindowOperations(NativeCallWindow& callWindow, CallAlerts& alerts, LogFunction log)
    : callWindow_(callWindow), alerts_(alerts), log_(std::move(log)) {}

void AppCallWindowOperations::notYet(const std::string& operation) const {
  const std::string line = "[WebView] " + operation + " asked for — not available in this build yet";
  if (log_) {
    log_(line);
  } else {
    nativeLog(line);
  }
}

void AppCallWindowOperations::showIncomingCallPanel(const IncomingCallAnnouncement& call,
                                                    std::function<void()> accept, std::function<void()> decline) {
  auto* panel = incomingPanel_ ? incomingPanel_() : nullptr;
  if (!panel) {
    notYet("IncomingCallPanel.show");
    return;
  }
  IncomingCallRequest request{call.callerName, call.userNumber,   call.imageUrl,       call.isAudio,
                              call.callerIsSubscribed, call.isDarkMode, call.identityGuessed};
  // No no-answer action: the call manager's own ring timer ends an
  // unanswered ring as missed.
  panel->show(request, {std::move(accept), std::move(decline), {}});
}

void AppCallWindowOperations::dismissIncomingCallPanel() {
  if (auto* panel = incomingPanel_ ? incomingPanel_() : nullptr) panel->dismiss();
}

void AppCallWindowOperations::showPreCallWindow(const std::string& calleeName, const std::string& userNumber,
                                                const std::string& imageUrl, bool isAudio) {
  auto* window = preCallWindow();
  if (!window) {
    notYet("NativePreCallWindow.show");
    return;
  }
  window->show(calleeName, userNumber, imageUrl, isAudio);
}

void AppCallWindowOperations::updatePreCallStatus(const std::string& status) {
  if (auto* window = preCallWindow()) window->updateStatus(status);
}

void AppCallWindowOperations::closePreCallWindow() {
  if (auto* window = preCallWindow()) window->close();
}

void AppCallWindowOperations::markPreCallEnded() {
  if (auto* window = preCallWindow()) window->markCallEnded();
}

bool AppCallWindowOperations::isPreCallWindowActive() {
  auto* window = preCallWindow();
  return window && window->isActive();
}

void AppCallWindowOperations::bringPreCallWindowToFront() {
  if (auto* window = preCallWindow()) window->bringToFront();
}

void AppCallWindowOperations::closeCallWindow() { callWindow_.closeWindow(); }
void AppCallWindowOperations::bringCallWindowToFront() { callWindow_.bringToFront(); }
void AppCallWindowOperations::evaluateInCallWindow(const std::string& script) {
  callWindow_.evaluateInCallWindow(script);
}

void AppCallWindowOperations::openOutgoingAudioCall(const OutgoingCallRequest& request) {
  if (!openAudioCall_) {
    notYet("NativeAudioCallWindow.open");
    return;
  }
  openAudioCall_(request);
}

void AppCallWindowOperations::openOutgoingVideoCall(const OutgoingCallRequest& request) {
  if (!openVideoCall_) {
    notYet("NativeVideoCallWindow.open");
    return;
  }
  openVideoCall_(request);
}

void AppCallWindowOperations::showDailyVideoLimitAlert() {
  alerts_.showCallAlert("Daily video limit reached",
                        "Free accounts can make up to 30 minutes of video calls per day. You can make audio calls, "
                        "or try again tomorrow.");
}

}  // namespace orvik
