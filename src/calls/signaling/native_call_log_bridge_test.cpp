#include "calls/signaling/native_call_log_bridge.h"

#include <gtest/gtest.h>

#include "platform/dispatch/virtual_queue.h"
#include "platform/recording_page_script_sink.h"
#include "platform/test_support/subprocess.h"

namespace orvik {
namespace {

using platform::PageScriptResult;

class NativeCallLogBridgeTest : public ::testing::Test {
 protected:
  NativeCallLogBridgeTest() {
    page->reply = [](const std::string& script) {
      return script.find("EndOutgoingCallOnServer") != std::string::npos ? PageScriptResult{std::nullopt, "ordered"}
                                                                          : PageScriptResult{std::nullopt, true};
    };
  }

  CallLogContext outgoing(std::optional<std::int64_t> callId = std::nullopt, std::string session = "session-1") {
    CallLogContext context;
    context.direction = CallDirection::outgoing;
    context.callId = callId;
    context.remoteUserNumber = "+47 (9) 12";
    context.isAudio = true;
    context.sessionId = std::move(session);
    context.webView = page;
    return context;
  }
  CallLogContext incoming(std::optional<std::int64_t> callId, bool connected) {
    CallLogContext context = outgoing(callId, "incoming-session");
    context.direction = CallDirection::incoming;
    if (connected) context.connectedAt = queue.clock().now() - std::chrono::seconds(42);
    return context;
  }

  // Scripts that reached the page, and how many of them call `function`.
  std::size_t callsOf(const std::string& function) {
    queue.runUntilIdle();
    return static_cast<std::size_t>(std::count_if(page->scripts.begin(), page->scripts.end(), [&](const auto& s) {
      return s.find("if (window." + function + ")") != std::string::npos;
    }));
  }
  bool logged(const std::string& text) const {
    return std::any_of(lines.begin(), lines.end(), [&](const auto& l) { return l.find(text) != std::string::npos; });
  }

  platform::VirtualQueue queue;
  platform::ScopedMainQueue main{queue};
  std::shared_ptr<platform::RecordingPageScriptSink> page = std::make_shared<platform::RecordingPageScriptSink>();
  std::vector<std::string> lines;
  NativeCallLogBridge bridge{&queue.clock(), [this](const std::string& line) { lines.push_back(line); }};
};

TEST_F(NativeCallLogBridgeTest, OneOutgoingRecordAndOneServerEndWhateverTheTriggers) {
  bridge.finalize(outgoing(), "endCall");
  bridge.finalize(outgoing(), "remoteEnd");
  bridge.finalize(outgoing(), "ringTimeout");
  EXPECT_EQ(callsOf("__orvikLogNativeCall"), 1u);
  EXPECT_EQ(callsOf("__orvikUpdateCallStatus"), 0u);
  EXPECT_EQ(callsOf("__orvikEndOutgoingCallOnServer"), 1u);
  EXPECT_TRUE(logged("[CallLog] logOutgoing — JS bridge received it; see JS [CallLog] lines for save+send outcome"));
  EXPECT_TRUE(logged("[CallEnd] serverEnd — JS path: ordered"));
}

TEST_F(NativeCallLogBridgeTest, ALateTriggerAfterTheResetIsCaughtByTheSessionList) {
  bridge.finalize(outgoing(), "endCall");
  bridge.clearLogged();
  bridge.logOutgoing(outgoing(), "remoteEnd");
  EXPECT_EQ(callsOf("__orvikLogNativeCall"), 1u);
  EXPECT_TRUE(logged("logOutgoing SKIP — this session was already logged (late trigger after reset)"));
}

TEST_F(NativeCallLogBridgeTest, UnansweredCallEndsOnTheServerAtOnceAndCleansTheRecordWhenTheIdArrives) {
  bridge.finalize(outgoing(), "endCall");
  bridge.serverEnd(outgoing(77), "lateCallId");
  queue.runUntilIdle();
  ASSERT_EQ(page->scripts.size(), 3u);
  EXPECT_NE(page->scripts[1].find("({ otherUserId: \"47912\", status: \"missed\", callId: null, skipApi: false })"),
            std::string::npos);
  EXPECT_NE(page->scripts[2].find("({ otherUserId: \"47912\", status: \"missed\", callId: 77, skipApi: true })"),
            std::string::npos);
  EXPECT_TRUE(logged("[CallEnd] ⚠️ serverEnd — no callId yet; endCall API now, record cleanup when the id arrives"));
}

struct ServerEndCase {
  const char* trigger;
  bool connected;
  bool expectScript;
};

class ServerEndTriggerTest : public NativeCallLogBridgeTest, public ::testing::WithParamInterface<ServerEndCase> {};

TEST_P(ServerEndTriggerTest, OnlyUnansweredOutgoingCallsEndedLocallyReachTheServer) {
  CallLogContext context = outgoing(5);
  if (GetParam().connected) context.connectedAt = queue.clock().now();
  bridge.serverEnd(context, GetParam().trigger);
  EXPECT_EQ(callsOf("__orvikEndOutgoingCallOnServer"), GetParam().expectScript ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Triggers, ServerEndTriggerTest,
                         ::testing::Values(ServerEndCase{"endCall", false, true}, ServerEndCase{"ringTimeout", false, true},
                                           ServerEndCase{"iceFailed", false, true}, ServerEndCase{"authFailed", false, true},
                                           ServerEndCase{"lateCallId", false, true}, ServerEndCase{"remoteEnd", false, false},
                                           ServerEndCase{"busyOrRemoteDecline", false, false},
                                           ServerEndCase{"endCall", true, false}),
                         [](const auto& info) {
                           return std::string(info.param.trigger) + (info.param.connected ? "Connected" : "Unanswered");
                         });

TEST_F(NativeCallLogBridgeTest, OtherUserIdKeepsOnlyAsciiDigits) {
  EXPECT_EQ(NativeCallLogBridge::numericUserId("+9 (8) 7"), "987");
  EXPECT_EQ(NativeCallLogBridge::numericUserId("٣١²"), "");  // other scripts' digits are not a user id
  EXPECT_EQ(NativeCallLogBridge::numericUserId(std::nullopt), "");
  CallLogContext context = outgoing(9);
  context.remoteUserNumber = "";
  bridge.serverEnd(context, "endCall");
  queue.runUntilIdle();
  ASSERT_EQ(page->scripts.size(), 1u);
  EXPECT_NE(page->scripts[0].find("callId: 9, skipApi: true"), std::string::npos);
}

TEST_F(NativeCallLogBridgeTest, ServerEndWithoutAPageIsTriedAgainLater) {
  CallLogContext context = outgoing();
  context.webView.reset();
  bridge.serverEnd(context, "endCall");
  EXPECT_TRUE(logged("[CallEnd] serverEnd ABORT — webView is nil, JS bridge unreachable"));
  bridge.serverEnd(outgoing(), "ringTimeout");
  queue.runUntilIdle();
  ASSERT_EQ(page->scripts.size(), 1u);
  EXPECT_NE(page->scripts[0].find("skipApi: false"), std::string::npos);
}

TEST_F(NativeCallLogBridgeTest, IncomingCallsReportTheRecordAndTheStatus) {
  bridge.finalize(incoming(31, true), "remoteEnd");
  queue.runUntilIdle();
  ASSERT_EQ(page->scripts.size(), 2u);
  EXPECT_NE(page->scripts[0].find("window.__orvikLogNativeIncomingCall({ fromUserNumber: \"+47 (9) 12\", isAudio: true, "
                                  "wasConnected: true, durationSeconds: 42, callId: 31 })"),
            std::string::npos);
  EXPECT_NE(page->scripts[1].find("window.__orvikUpdateCallStatus(\"complete\", 31)"), std::string::npos);

  bridge.clearLogged();
  bridge.finalize(incoming(std::nullopt, false), "remoteEnd");
  EXPECT_EQ(callsOf("__orvikUpdateCallStatus"), 1u);
  EXPECT_TRUE(logged("⚠️ sendStatus(missed) SKIP — incoming call but no callId known"));
}

TEST_F(NativeCallLogBridgeTest, DecliningSendsStatusThenRejectThenRecord) {
  const CallLogContext context = incoming(8, false);
  bridge.sendStatus("missed", context, "reject");
  bridge.postRejectApi(context);
  bridge.logRejected(context, "reject");
  queue.runUntilIdle();
  ASSERT_EQ(page->scripts.size(), 3u);
  EXPECT_NE(page->scripts[0].find("__orvikUpdateCallStatus(\"missed\", 8)"), std::string::npos);
  EXPECT_NE(page->scripts[1].find("__orvikPostRejectCallApi(\"incoming-session\")"), std::string::npos);
  EXPECT_NE(page->scripts[2].find("__orvikLogNativeIncomingRejectedCall({ fromUserNumber: \"+47 (9) 12\", isAudio: "
                                  "true, callId: 8 })"),
            std::string::npos);
}

TEST_F(NativeCallLogBridgeTest, RemembersTheNewest50Sessions) {
  for (int i = 0; i <= 50; ++i) {
    bridge.logOutgoing(outgoing(std::nullopt, "s" + std::to_string(i)), "endCall");
    bridge.clearLogged();
  }
  EXPECT_EQ(callsOf("__orvikLogNativeCall"), 51u);
  bridge.logOutgoing(outgoing(std::nullopt, "s50"), "late");
  bridge.clearLogged();
  bridge.logOutgoing(outgoing(std::nullopt, "s0"), "late");  // evicted: logged again
  EXPECT_EQ(callsOf("__orvikLogNativeCall"), 52u);
}

TEST_F(NativeCallLogBridgeTest, ServerEndSetsEvictTheOldestNotTheNewest) {
  for (int i = 0; i <= 50; ++i) bridge.serverEnd(outgoing(i, "s" + std::to_string(i)), "endCall");
  EXPECT_EQ(callsOf("__orvikEndOutgoingCallOnServer"), 51u);
  bridge.serverEnd(outgoing(50, "s50"), "endCall");  // just added: still remembered
  EXPECT_EQ(callsOf("__orvikEndOutgoingCallOnServer"), 51u);
  bridge.serverEnd(outgoing(0, "s0"), "endCall");  // the oldest made room
  EXPECT_EQ(callsOf("__orvikEndOutgoingCallOnServer"), 52u);
}

TEST_F(NativeCallLogBridgeTest, MissingPageFunctionIsLoggedNotAnError) {
  page->reply = [](const std::string&) { return PageScriptResult{std::nullopt, false}; };
  bridge.logOutgoing(outgoing(), "endCall");
  queue.runUntilIdle();
  EXPECT_TRUE(logged("[CallLog] logOutgoing — window.__orvikLogNativeCall NOT FOUND in JS, nothing was logged"));
  page->reply = [](const std::string&) { return PageScriptResult{"ReferenceError: boom", nullptr}; };
  bridge.sendStatus("accepted", incoming(3, false), "accept");
  queue.runUntilIdle();
  EXPECT_TRUE(logged("[CallLog] sendStatus — JS bridge call FAILED: ReferenceError: boom"));
}

TEST_F(NativeCallLogBridgeTest, WithoutAPageTheRecordIsNotMarkedAndAFutureConnectTimeCountsZero) {
  CallLogContext context = outgoing();
  context.webView.reset();
  bridge.logOutgoing(context, "endCall");
  EXPECT_FALSE(bridge.logged());
  context = outgoing();
  context.connectedAt = queue.clock().now() + std::chrono::seconds(30);
  bridge.logOutgoing(context, "endCall");
  queue.runUntilIdle();
  ASSERT_EQ(page->scripts.size(), 1u);
  EXPECT_NE(page->scripts[0].find("wasConnected: true, durationSeconds: 0"), std::string::npos);
}

// The scripts run in a real JavaScript engine: the page functions get exactly
// the objects above, even for numbers holding quotes and line breaks, and the
// end-call script answers with its path.
std::string withoutSemicolon(const std::string& script) {
  return script.ends_with(";") ? script.substr(0, script.size() - 1) : script;
}

class NativeCallLogBridgeIntegration : public NativeCallLogBridgeTest {};

TEST_F(NativeCallLogBridgeIntegration, ScriptsRunInARealEngine) {
  if (!orvik::testing::hasProgram("node")) GTEST_SKIP() << "node is not installed";
  CallLogContext context = outgoing(std::nullopt, "sess\"ion");
  context.remoteUserNumber = "+47 \"12\"\n\u2028'3";
  bridge.logOutgoing(context, "endCall");
  bridge.serverEnd(context, "endCall");
  queue.runUntilIdle();
  ASSERT_EQ(page->scripts.size(), 2u);
  const std::string program =
      "const window = globalThis; const seen = [];\n"
      "window.__orvikLogNativeCall = (o) => seen.push(o);\n"
      "seen.push(" + withoutSemicolon(page->scripts[0]) + ");\n"
      "seen.push(" + withoutSemicolon(page->scripts[1]) + ");\n"
      "window.__orvikDeleteCallRecord = (id) => seen.push(['deleted', id]);\n"
      "process.stdout.write(JSON.stringify(seen));\n";
  auto result = orvik::testing::runProcess({"node", "-e", program});
  ASSERT_EQ(result.exitCode, 0) << program;
  const auto seen = nlohmann::json::parse(result.output);
  EXPECT_EQ(seen[0], (nlohmann::json{{"toUserNumber", "+47 \"12\"\n\u2028'3"}, {"isAudio", true}, {"wasConnected", false},
                                     {"durationSeconds", 0}, {"callId", nullptr}, {"sessionKey", "sess\"ion"}}));
  EXPECT_EQ(seen[1], true);
  EXPECT_EQ(seen[2], "none");  // no end-call function and no id: nothing to do
}

}  // namespace
}  // namespace orvik
