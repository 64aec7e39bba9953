#include "calls/signaling/native_call_log_bridge.h"

#include <algorithm>

#include "core/native_logger.h"
#include "platform/queue_checker.h"

namespace orvik {
namespace {

const char* boolText(bool value) { return value ? "true" : "false"; }

std::string idText(const std::optional<std::int64_t>& id, const char* absent) {
  return id ? std::to_string(*id) : std::string(absent);
}

bool isOutgoing(const CallLogContext& context) { return context.direction == CallDirection::outgoing; }

bool hasSession(const CallLogContext& context) { return context.sessionId && !context.sessionId->empty(); }

nlohmann::json idValue(const std::optional<std::int64_t>& id) { return id ? nlohmann::json(*id) : nlohmann::json(); }

void writeLine(const NativeCallLogBridge::LogFunction& log, const std::string& line) {
  if (log) {
    log(line);
  } else {
    nativeLog(line);
  }
}

// Keeps `order` and `members` at most `limit` long by dropping the oldest.
template <typename T>
void insertBounded(std::deque<T>& order, std::set<T>& members, T value, std::size_t limit) {
  members.insert(value);
  order.push_back(std::move(value));
  while (order.size() > limit) {
    members.erase(order.front());
    order.pop_front();
  }
}

}  // namespace

NativeCallLogBridge::NativeCallLogBridge(platform::Clock* clock, LogFunction log)
    : clock_(clock), log_(std::move(log)) {}

platform::Clock& NativeCallLogBridge::clock() const { return clock_ ? *clock_ : platform::systemClock(); }

void NativeCallLogBridge::write(const std::string& message) const { writeLine(log_, message); }

std::string NativeCallLogBridge::summary(const std::optional<CallLogContext>& context, std::string_view trigger) const {
  const std::string head = "trigger=" + std::string(trigger);
  if (!context) return head + " dir=nil logged=" + boolText(logged_);
  return head + " dir=" + (isOutgoing(*context) ? "outgoing" : "incoming") + " callId=" + idText(context->callId, "nil") +
         " remote=" + context->remoteUserNumber.value_or("nil") + " connected=" + boolText(context->connectedAt.has_value()) +
         " logged=" + boolText(logged_) +
         " session=" + (context->sessionId ? firstCharacters(*context->sessionId, 8) : std::string("nil"));
}

std::int64_t NativeCallLogBridge::durationSeconds(const CallLogContext& context) const {
  if (!context.connectedAt) return 0;
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(clock().now() - *context.connectedAt).count();
  return std::max<std::int64_t>(0, seconds);
}

std::string NativeCallLogBridge::numericUserId(const std::optional<std::string>& userNumber) {
  std::string digits;
  if (!userNumber) return digits;
  std::copy_if(userNumber->begin(), userNumber->end(), std::back_inserter(digits),
               [](char c) { return c >= '0' && c <= '9'; });
  return digits;
}

bool NativeCallLogBridge::sessionAlreadyLogged(const CallLogContext& context) {
  if (!hasSession(context)) return false;
  std::lock_guard lock(loggedSessionsLock_);
  return std::find(loggedSessions_.begin(), loggedSessions_.end(), *context.sessionId) != loggedSessions_.end();
}

void NativeCallLogBridge::markLogged(const CallLogContext& context) {
  logged_ = true;
  if (!hasSession(context)) return;
  std::lock_guard lock(loggedSessionsLock_);
  loggedSessions_.push_back(*context.sessionId);
  while (loggedSessions_.size() > kMaxRememberedSessions) loggedSessions_.pop_front();
}

void NativeCallLogBridge::sendReport(const CallLogContext& context, const std::string& function,
                                     const std::vector<nlohmann::json>& args, std::string failedLine,
                                     std::string receivedLine, std::string notFoundLine) {
  std::vector<platform::JsArgument> arguments(args.begin(), args.end());
  sendScript(context, platform::pageFunctionCallReportingPresence(function, arguments), std::move(failedLine),
             std::move(receivedLine), std::move(notFoundLine));
}

void NativeCallLogBridge::sendScript(const CallLogContext& context, std::string script, std::string failedLine,
                                     std::string receivedLine, std::string notFoundLine) {
  // The report counts as sent once handed over: the page's answer only
  // decides the log line.
  platform::callPage(context.webView, std::move(script),
                     [log = log_, failedLine = std::move(failedLine), receivedLine = std::move(receivedLine),
                      notFoundLine = std::move(notFoundLine)](const platform::PageScriptResult& result) {
                       writeLine(log, result.error             ? failedLine + *result.error
                                      : result.value == true ? receivedLine
                                                             : notFoundLine);
                     });
}

void NativeCallLogBridge::finalize(const std::optional<CallLogContext>& context, std::string_view trigger) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  if (!context) {
    write("[CallLog] finalize — no session/direction, nothing logged (" + summary(context, trigger) + ")");
    return;
  }
  if (isOutgoing(*context)) {
    logOutgoing(*context, trigger);
  } else {
    logIncoming(*context, trigger);
  }
  sendStatus(context->connectedAt ? "complete" : "missed", *context, trigger);
  serverEnd(*context, trigger);
}

void NativeCallLogBridge::logOutgoing(const CallLogContext& context, std::string_view trigger) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  const auto skip = [&](const std::string& text) { write("[CallLog] " + text + " (" + summary(context, trigger) + ")"); };
  if (!isOutgoing(context)) return skip("logOutgoing SKIP — not an outgoing call");
  if (logged_) return skip("logOutgoing SKIP — already logged this call, avoiding a duplicate");
  if (sessionAlreadyLogged(context)) {
    return skip("logOutgoing SKIP — this session was already logged (late trigger after reset), avoiding a duplicate");
  }
  if (!context.remoteUserNumber || context.remoteUserNumber->empty()) {
    return skip("logOutgoing SKIP — no callee/remoteUserNumber to log against");
  }
  if (context.webView.expired()) {
    return skip("logOutgoing ABORT — webView is nil, JS bridge unreachable, NOT logged (will retry on next trigger)");
  }
  markLogged(context);
  const bool wasConnected = context.connectedAt.has_value();
  const std::int64_t duration = durationSeconds(context);
  skip("logOutgoing → JS bridge — callee=" + *context.remoteUserNumber + " isAudio=" + boolText(context.isAudio) +
       " wasConnected=" + boolText(wasConnected) + " duration=" + std::to_string(duration) +
       "s callId=" + idText(context.callId, "null"));
  if (!context.callId) {
    skip("⚠️ logOutgoing — callId is nil; JS will de-dupe by composite key, double-log risk if that fails");
  }
  const auto object = platform::jsObjectLiteral({{"toUserNumber", *context.remoteUserNumber},
                                                 {"isAudio", context.isAudio},
                                                 {"wasConnected", wasConnected},
                                                 {"durationSeconds", duration},
                                                 {"callId", idValue(context.callId)},
                                                 {"sessionKey", context.sessionId.value_or("")}});
  sendScript(context, platform::pageFunctionCallReportingPresence("__orvikLogNativeCall", {object}),
             "[CallLog] logOutgoing — JS bridge call FAILED: ",
             "[CallLog] logOutgoing — JS bridge received it; see JS [CallLog] lines for save+send outcome",
             "[CallLog] logOutgoing — window.__orvikLogNativeCall NOT FOUND in JS, nothing was logged");
}

void NativeCallLogBridge::logIncoming(const CallLogContext& context, std::string_view trigger) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  const auto skip = [&](const std::string& text) { write("[CallLog] " + text + " (" + summary(context, trigger) + ")"); };
  if (isOutgoing(context)) return skip("logIncoming SKIP — not an incoming call");
  if (logged_) return skip("logIncoming SKIP — already logged this call, avoiding a duplicate");
  if (sessionAlreadyLogged(context)) {
    return skip("SKIP — this session was already logged (late trigger after reset), avoiding a duplicate");
  }
  if (!context.remoteUserNumber || context.remoteUserNumber->empty()) {
    return skip("logIncoming SKIP — no caller/remoteUserNumber to log against");
  }
  if (context.webView.expired()) return skip("logIncoming ABORT — webView is nil, JS bridge unreachable, NOT logged");
  markLogged(context);
  const bool wasConnected = context.connectedAt.has_value();
  const std::int64_t duration = durationSeconds(context);
  skip("logIncoming → JS bridge — caller=" + *context.remoteUserNumber + " wasConnected=" + boolText(wasConnected) +
       " isAudio=" + boolText(context.isAudio) + " duration=" + std::to_string(duration) +
       "s callId=" + idText(context.callId, "null"));
  const auto object = platform::jsObjectLiteral({{"fromUserNumber", *context.remoteUserNumber},
                                                 {"isAudio", context.isAudio},
                                                 {"wasConnected", wasConnected},
                                                 {"durationSeconds", duration},
                                                 {"callId", idValue(context.callId)}});
  sendScript(context, platform::pageFunctionCallReportingPresence("__orvikLogNativeIncomingCall", {object}),
             "[CallLog] logIncoming — JS bridge call FAILED: ",
             "[CallLog] logIncoming — JS bridge received it; see JS [CallLog] lines for save outcome",
             "[CallLog] logIncoming — window.__orvikLogNativeIncomingCall NOT FOUND in JS, nothing was logged");
}

void NativeCallLogBridge::logRejected(const CallLogContext& context, std::string_view trigger) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  const auto skip = [&](const std::string& text) { write("[CallLog] " + text + " (" + summary(context, trigger) + ")"); };
  if (logged_) return skip("logRejected SKIP — already logged this call, avoiding a duplicate");
  if (sessionAlreadyLogged(context)) {
    return skip("SKIP — this session was already logged (late trigger after reset), avoiding a duplicate");
  }
  if (!context.remoteUserNumber || context.remoteUserNumber->empty()) {
    return skip("logRejected SKIP — no caller/remoteUserNumber to log against");
  }
  if (context.webView.expired()) return skip("logRejected ABORT — webView is nil, JS bridge unreachable, NOT logged");
  markLogged(context);
  skip("logRejected → JS bridge — caller=" + *context.remoteUserNumber + " isAudio=" + boolText(context.isAudio) +
       " callId=" + idText(context.callId, "nil"));
  const auto object = platform::jsObjectLiteral({{"fromUserNumber", *context.remoteUserNumber},
                                                 {"isAudio", context.isAudio},
                                                 {"callId", idValue(context.callId)}});
  sendScript(context, platform::pageFunctionCallReportingPresence("__orvikLogNativeIncomingRejectedCall", {object}),
             "[CallLog] logRejected — JS bridge call FAILED: ",
             "[CallLog] logRejected — JS bridge received it; see JS [CallLog] lines for save outcome",
             "[CallLog] logRejected — window.__orvikLogNativeIncomingRejectedCall NOT FOUND in JS, nothing was logged");
}

void NativeCallLogBridge::sendStatus(std::string_view status, const CallLogContext& context, std::string_view trigger) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  const std::string statusText(status);
  const auto line = [&](const std::string& text) { write("[CallLog] " + text + " (" + summary(context, trigger) + ")"); };
  if (isOutgoing(context)) {
    return line("sendStatus(" + statusText +
                ") SKIP — outgoing call, no server callId to sync; own-device/callee copy rides on the sent message "
                "instead");
  }
  if (!context.callId) {
    return line("⚠️ sendStatus(" + statusText +
                ") SKIP — incoming call but no callId known; other devices will NOT be told this call's outcome");
  }
  if (context.webView.expired()) return line("sendStatus(" + statusText + ") ABORT — webView is nil, JS bridge unreachable");
  line("sendStatus → JS bridge — status=" + statusText + " callId=" + std::to_string(*context.callId));
  sendReport(context, "__orvikUpdateCallStatus", {statusText, *context.callId}, "[CallLog] sendStatus — JS bridge call FAILED: ",
             "[CallLog] sendStatus — JS bridge received it (status=" + statusText +
                 "); see JS [CallLog] lines for socket-emit outcome",
             "[CallLog] sendStatus — window.__orvikUpdateCallStatus NOT FOUND in JS, nothing was emitted");
}

void NativeCallLogBridge::postRejectApi(const CallLogContext& context) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  if (!hasSession(context)) {
    write("[CallLog] postRejectApi skipped — no pushId known");
    return;
  }
  if (context.webView.expired()) {
    write("[CallLog] postRejectApi ABORT — webView is nil, JS bridge unreachable");
    return;
  }
  write("[CallLog] postRejectApi — sending pushId=" + *context.sessionId + " to JS bridge");
  sendReport(context, "__orvikPostRejectCallApi", {*context.sessionId}, "[CallLog] postRejectApi — JS bridge call FAILED: ",
             "[CallLog] postRejectApi — JS bridge received it; see JS console for API-call confirmation",
             "[CallLog] postRejectApi — window.__orvikPostRejectCallApi NOT FOUND in JS, nothing was sent");
}

NativeCallLogBridge::ServerEndDecision NativeCallLogBridge::decideServerEnd(const CallLogContext& context,
                                                                            const std::string& otherUserId,
                                                                            bool commit) {
  ServerEndDecision decision;
  std::lock_guard lock(serverEndLock_);
  if (!otherUserId.empty()) {
    if (hasSession(context)) {
      decision.endCallDue = !serverEndedSessions_.contains(*context.sessionId);
      if (decision.endCallDue && commit) {
        insertBounded(serverEndedOrder_, serverEndedSessions_, *context.sessionId, kMaxRememberedSessions);
      }
    } else {
      decision.endCallDue = true;
    }
  }
  if (context.callId && !clearedCallIds_.contains(*context.callId)) {
    decision.recordId = context.callId;
    if (commit) insertBounded(clearedOrder_, clearedCallIds_, *context.callId, kMaxRememberedSessions);
  }
  return decision;
}

void NativeCallLogBridge::serverEnd(const CallLogContext& context, std::string_view trigger) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  static constexpr std::string_view kTriggers[] = {"endCall", "ringTimeout", "iceFailed", "authFailed", "lateCallId"};
  if (!isOutgoing(context) || context.connectedAt) return;
  if (std::find(std::begin(kTriggers), std::end(kTriggers), trigger) == std::end(kTriggers)) return;

  const std::string otherUserId = numericUserId(context.remoteUserNumber);
  // Decide first, mark only once the request is really handed to a page: a
  // session marked while no page could take it would never be ended.
  const ServerEndDecision peek = decideServerEnd(context, otherUserId, /*commit=*/false);
  if (!peek.endCallDue && !peek.recordId) return;
  const std::string tail = " (" + summary(context, trigger) + ")";
  if (peek.endCallDue && !peek.recordId) {
    write("[CallEnd] ⚠️ serverEnd — no callId yet; endCall API now, record cleanup when the id arrives" + tail);
  }
  if (context.webView.expired()) {
    write("[CallEnd] serverEnd ABORT — webView is nil, JS bridge unreachable" + tail);
    return;
  }
  const ServerEndDecision decision = decideServerEnd(context, otherUserId, /*commit=*/true);
  write("[CallEnd] serverEnd → JS bridge — endCall API=" + std::string(boolText(decision.endCallDue)) +
        " otherUserId=" + otherUserId + " then updateCallStatus(missed) + deleteCurrentCallMetaData callId=" +
        idText(decision.recordId, "null") + tail);

  const std::string object = platform::jsObjectLiteral({{"otherUserId", otherUserId},
                                                        {"status", "missed"},
                                                        {"callId", idValue(decision.recordId)},
                                                        {"skipApi", !decision.endCallDue}})
                                 .text;
  const std::string id = platform::jsLiteral(idValue(decision.recordId));
  const std::string script =
      "(function(){\n"
      "  if (window.__orvikEndOutgoingCallOnServer) { window.__orvikEndOutgoingCallOnServer(" + object +
      "); return \"ordered\"; }\n"
      "  var ok = false; var id = " + id + ";\n"
      "  if (id !== null && window.__orvikUpdateCallStatus) { window.__orvikUpdateCallStatus(\"missed\", id); ok = true; }\n"
      "  if (id !== null && window.__orvikDeleteCallRecord) { window.__orvikDeleteCallRecord(id); ok = true; }\n"
      "  return ok ? \"recordOnly\" : \"none\";\n"
      "})();";
  platform::callPage(context.webView, script, [log = log_](const platform::PageScriptResult& result) {
    writeLine(log, result.error ? "[CallEnd] serverEnd — JS bridge call FAILED: " + *result.error
                                : "[CallEnd] serverEnd — JS path: " +
                                      (result.value.is_string() ? result.value.get<std::string>() : "?"));
  });
}

void NativeCallLogBridge::warnIfOutgoingUnlogged(const std::optional<CallLogContext>& context) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  if (!context || !isOutgoing(*context) || logged_) return;
  write("[CallLog] ⚠️ cleanup() — OUTGOING call torn down WITHOUT being logged (no Chat/Call-Log entry written) (" +
        summary(context, "cleanup") + ")");
}

}  // namespace orvik
