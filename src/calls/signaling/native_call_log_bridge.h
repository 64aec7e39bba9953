// Tells the web application what happened to each native call, by calling
// global functions of the page in the main web view: the call records
// (outgoing, incoming, declined), status updates for the user's other
// devices, the server-side end of an unanswered outgoing call, and the reject
// report. The page owns the history and talks to the server; the native side
// never writes a record itself.
//
// Every report is guarded twice against duplicates: per call (`logged`, reset
// by the call manager's per-call clean-up) and per session across that reset,
// since several end-of-call paths can fire for one call and some fire late.
//
// THREAD-SAFETY: called on the main queue; scripts run later on the main
// queue. The session lists are guarded by their locks.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "calls/signaling/call_model.h"
#include "platform/dispatch/clock.h"
#include "platform/page_call.h"

namespace orvik {

// What the bridge needs to report one call; built by the call manager.
struct CallLogContext {
  CallDirection direction = CallDirection::outgoing;
  std::optional<std::int64_t> callId;
  std::optional<std::string> remoteUserNumber;
  bool isAudio = true;
  std::optional<std::chrono::system_clock::time_point> connectedAt;
  std::optional<std::string> sessionId;
  // Where the scripts run; empty when the page is gone.
  std::weak_ptr<platform::PageScriptSink> webView;
};

class NativeCallLogBridge {
 public:
  static constexpr std::size_t kMaxRememberedSessions = 50;
  using LogFunction = std::function<void(const std::string& message)>;

  // `clock` null means the process-wide clock; `log` empty means nativeLog.
  explicit NativeCallLogBridge(platform::Clock* clock = nullptr, LogFunction log = {});

  // A call ended: its record, its status and, for an unanswered outgoing
  // call, the server-side end. Triggers: "endCall", "remoteEnd",
  // "ringTimeout", "busyOrRemoteDecline", "authFailed", "iceFailed".
  void finalize(const std::optional<CallLogContext>& context, std::string_view trigger);
  void logOutgoing(const CallLogContext& context, std::string_view trigger);
  void logIncoming(const CallLogContext& context, std::string_view trigger);
  void logRejected(const CallLogContext& context, std::string_view trigger);
  // `status` is "complete", "missed" or "accepted".
  void sendStatus(std::string_view status, const CallLogContext& context, std::string_view trigger);
  void postRejectApi(const CallLogContext& context);
  void serverEnd(const CallLogContext& context, std::string_view trigger);
  void warnIfOutgoingUnlogged(const std::optional<CallLogContext>& context);

  bool logged() const { return logged_; }
  // The call manager's per-call clean-up.
  void clearLogged() { logged_ = false; }

  // Digits of a user number, for the server's end-call request.
  static std::string numericUserId(const std::optional<std::string>& userNumber);

 private:
  struct ServerEndDecision {
    bool endCallDue = false;
    std::optional<std::int64_t> recordId;
  };

  std::string summary(const std::optional<CallLogContext>& context, std::string_view trigger) const;
  std::int64_t durationSeconds(const CallLogContext& context) const;
  bool sessionAlreadyLogged(const CallLogContext& context);
  void markLogged(const CallLogContext& context);
  ServerEndDecision decideServerEnd(const CallLogContext& context, const std::string& otherUserId, bool commit);
  // Sends a record/status/reject script and logs what came back.
  void sendReport(const CallLogContext& context, const std::string& function, const std::vector<nlohmann::json>& args,
                  std::string failedLine, std::string receivedLine, std::string notFoundLine);
  void sendScript(const CallLogContext& context, std::string script, std::string failedLine, std::string receivedLine,
                  std::string notFoundLine);
  void write(const std::string& message) const;
  platform::Clock& clock() const;

  platform::Clock* clock_;
  LogFunction log_;
  bool logged_ = false;

  std::mutex loggedSessionsLock_;
  std::deque<std::string> loggedSessions_;

  // Both sets remember insertion order, so the oldest entry is the one that
  // makes room, never the one just added.
  std::mutex serverEndLock_;
  std::deque<std::string> serverEndedOrder_;
  std::set<std::string> serverEndedSessions_;
  std::deque<std::int64_t> clearedOrder_;
  std::set<std::int64_t> clearedCallIds_;
};

}  // namespace orvik
