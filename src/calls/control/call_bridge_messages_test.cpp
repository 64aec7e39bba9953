#include "calls/control/call_bridge_messages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "calls/control/call_limits.h"
#include "calls/control/native_call_manager_operations.h"
#include "calls/control/test_support/manager_harness.h"
#include "calls/control/test_support/recording_call_message_operations.h"
#include "platform/dispatch/virtual_queue.h"
#include "platform/message_routes.h"
#include "platform/recording_page_script_sink.h"
#include "platform/test_support/recording_message_routes.h"

namespace orvik {
namespace {

using nlohmann::json;

using Routes = testing::RecordingMessageRoutes;
using Operations = testing::RecordingCallMessageOperations;

constexpr const char* kAuthScript = "/*auth-data*/";
constexpr const char* kStartCamera = "window.__orvikStartLocalCamera?.();";
constexpr const char* kDeclined =
    "if (typeof window.__nativeCallDeclined === 'function') window.__nativeCallDeclined();";

class CallBridgeMessagesTest : public ::testing::Test, public testing::ManagerHarness {
 protected:
  CallBridgeMessagesTest() { messages.publishRoutes(routes); }
  std::vector<std::string> bridgeLines;
  NativeCallManagerOperations managerOperations{*manager};
  testing::RecordingCallMessageOperations windows;
  CallBridgeMessages messages{{managerOperations, windows, strings, queue, {}, kAuthScript,
                               [this](const std::string& line) { bridgeLines.push_back(line); }}};
  Routes routes;
};

TEST_F(CallBridgeMessagesTest, TheTextTableArrivesWholeAndABadOneChangesNothing) {
  routes.handlers.at("setCallStrings:")(json(R"(setCallStrings:{"calling":"Llamando..."})"));
  EXPECT_EQ(strings.string("calling", "-"), "Llamando...");
  routes.handlers.at("setCallStrings:")(json(R"(setCallStrings:{"calling":)"));
  routes.handlers.at("setCallStrings:")(json{{"eventType", "setCallStrings:"}});
  EXPECT_EQ(strings.string("calling", "-"), "Llamando...");
  EXPECT_EQ(bridgeLines, std::vector<std::string>{"[CallStrings] invalid payload — keeping current strings"});
}

TEST_F(CallBridgeMessagesTest, ThePagesHangUpEndsOnlyACallInProgress) {
  routes.handlers.at("endNativeCall")(json::object());
  queue.runUntilIdle();
  EXPECT_TRUE(ports.empty());
  signIn();
  placeCall();
  routes.handlers.at("endNativeCall")(json::object());
  EXPECT_EQ(manager->callState(), CallState(CallState::Kind::ended));
}

TEST_F(CallBridgeMessagesTest, TheManagersSideAnswersFromTheCallManager) {
  EXPECT_FALSE(managerOperations.isRingingIncoming("4712", ""));
  auto& state = manager->stateForTesting();
  state.call.callState = CallState(CallState::Kind::ringing);
  state.call.currentSession = std::shared_ptr<CallSession>(
      new CallSession{"s1", CallDirection::incoming, CallType::audio, bob(), CallState(CallState::Kind::ringing), {}});
  state.call.remoteUserNumber = "4712";
  EXPECT_TRUE(managerOperations.isRingingIncoming("4712", "p1"));
  EXPECT_TRUE(managerOperations.isRingingIncoming("", "s1")) << "the ringing call's own push id";
  EXPECT_FALSE(managerOperations.isRingingIncoming("4999", "p1"));
  EXPECT_FALSE(managerOperations.isRingingIncoming("", ""));
  state.call.callState = CallState(CallState::Kind::connected);
  EXPECT_FALSE(managerOperations.isRingingIncoming("4712", "p1")) << "an answered call is not announced again";

  managerOperations.setScreenshotAccessAllowed(true);
  EXPECT_TRUE(defaults.boolValue(NativeCallManager::kScreenshotAccessKey));
  // Today's seconds count; another day's read as none.
  defaults.setString("videoDailyDate", localDayOf(queue.clock().now()).key);
  defaults.setInteger("videoDailyUsedSeconds", 1234);
  EXPECT_EQ(managerOperations.dailyVideoUsedSeconds(), 1234);
  defaults.setString("videoDailyDate", "2001-01-01");
  EXPECT_EQ(managerOperations.dailyVideoUsedSeconds(), 0);
  EXPECT_EQ(defaults.string("videoDailyDate"), localDayOf(queue.clock().now()).key);
  managerOperations.setCallLimitExempt(true, {" 4712 "});
  managerOperations.setLocalIsSubscribed(true);
  EXPECT_TRUE(manager->state().kept.callLimitExempt);
  EXPECT_EQ(manager->state().kept.specialCallingNumbers, std::set<std::string>{"4712"});
  EXPECT_TRUE(manager->state().kept.localIsSubscribed);
}

TEST_F(CallBridgeMessagesTest, ThePagesAnnouncementRingsTheCallManagerAndThePanelsDeclineRejectsIt) {
  signIn();
  queue.runUntilIdle();
  const json announcement = {{"eventType", "showIncomingCallPanel"}, {"from", "Bob"}, {"userNumber", "4712"},
                             {"pushId", "p1"}, {"isAudio", true}};
  routes.handlers.at("showIncomingCallPanel")(announcement);
  EXPECT_EQ(manager->callState(), CallState(CallState::Kind::ringing));
  ASSERT_TRUE(manager->state().call.currentSession);
  EXPECT_EQ(manager->state().call.currentSession->sessionId, "p1");
  EXPECT_EQ(manager->state().call.currentSession->remoteUser.name, "Bob");
  // The same call announced again shows the panel again and is no busy line.
  windows.calls.clear();
  routes.handlers.at("showIncomingCallPanel")(announcement);
  EXPECT_EQ(manager->callState(), CallState(CallState::Kind::ringing));
  ASSERT_EQ(windows.calls.size(), 1u);
  EXPECT_EQ(windows.calls[0].rfind("showIncomingCallPanel(", 0), 0u) << windows.calls[0];
  windows.panelDecline();
  EXPECT_EQ(manager->callState(), CallState(CallState::Kind::rejected));
  EXPECT_TRUE(std::none_of(bridgeLines.begin(), bridgeLines.end(), [](const std::string& line) {
    return line.find("not available in this build yet") != std::string::npos;
  }));
}

// The messages against recording fakes of both sides and the main page.
class CallMessageRouting : public ::testing::Test {
 protected:
  CallMessageRouting() { messages.publishRoutes(routes); }

  void send(const std::string& name, const json& body) {
    ASSERT_TRUE(routes.handlers.count(name)) << name;
    routes.handlers.at(name)(body);
  }
  static json event(const std::string& name, json fields = json::object()) {
    fields["eventType"] = name;
    return fields;
  }

  platform::VirtualQueue queue;
  platform::ScopedMainQueue main{queue};
  Operations ops;
  std::shared_ptr<platform::RecordingPageScriptSink> page = std::make_shared<platform::RecordingPageScriptSink>();
  std::vector<std::string> lines;
  CallStrings strings;
  CallBridgeMessages messages{
      {ops, ops, strings, queue, page, kAuthScript, [this](const std::string& line) { lines.push_back(line); }}};
  Routes routes;
};

TEST_F(CallMessageRouting, EveryNameIsRoutedAndNoOther) {
  std::set<std::string> routed;
  for (const auto& [name, handler] : routes.handlers) routed.insert(name);
  const auto names = CallBridgeMessages::messageNames();
  EXPECT_EQ(routed, std::set<std::string>(names.begin(), names.end()));
  EXPECT_EQ(names.size(), 20u);
}

TEST_F(CallMessageRouting, EachMessageReachesTheOperationItNames) {
  struct Row {
    const char* name;
    json body;
    std::vector<std::string> calls;
    std::vector<std::string> scripts;
  };
  const std::vector<Row> rows = {
      {"setCallLimitExempt", event("setCallLimitExempt", {{"exempt", true}, {"numbers", {4712, "4713", 1.5}}}),
       {"setCallLimitExempt(true,[4712,4713,1.5])"}, {}},
      {"setCallLimitExempt", event("setCallLimitExempt", {{"numbers", "4712"}}), {"setCallLimitExempt(false,[])"}, {}},
      {"serverCallFinished", event("serverCallFinished"), {"handleServerCallFinished()"}, {}},
      {"setCallScreenshotAccessAllowed", event("setCallScreenshotAccessAllowed", {{"allowed", true}}),
       {"setScreenshotAccessAllowed(true)"}, {}},
      {"setCallScreenshotAccessAllowed", event("setCallScreenshotAccessAllowed", {{"allowed", "yes"}}),
       {"setScreenshotAccessAllowed(false)"}, {}},
      {"dismissIncomingCallPanel", event("dismissIncomingCallPanel"), {"dismissIncomingCallPanel()"}, {}},
      {"callerIdentityResolved",
       event("callerIdentityResolved", {{"userNumber", "4712"}, {"name", "Bob"}, {"isSubscribed", true}}),
       {"callerIdentityResolved(4712,Bob,<none>,true)"}, {}},
      {"callerIdentityResolved", event("callerIdentityResolved", {{"userNumber", "4712"}, {"imageUrl", "https://i/b"}}),
       {"callerIdentityResolved(4712,,https://i/b,false)"}, {}},
      {"callHandledByOtherDevice", event("callHandledByOtherDevice", {{"actionType", "acceptCall"}}),
       {"handleSendToMyDevices(acceptCall)"}, {}},
      {"callHandledByOtherDevice", event("callHandledByOtherDevice"), {"handleSendToMyDevices(rejectCall)"}, {}},
      {"reliableCallCancelReceived", event("reliableCallCancelReceived", {{"from", "4712"}, {"pushId", "p1"}}),
       {"handleMissedCallMessage(4712,p1)"}, {}},
      {"otherDeviceBusyChanged", event("otherDeviceBusyChanged", {{"busy", true}}), {}, {}},
      {"showPreCallUI", event("showPreCallUI", {{"userNumber", "4712"}}), {"showPreCallWindow(Unknown,4712,,true)"}, {}},
      {"showPreCallUI",
       event("showPreCallUI", {{"calleeName", "Bob"}, {"userNumber", "4712"}, {"imageUrl", "u"}, {"isAudio", false}}),
       {"showPreCallWindow(Bob,4712,u,false)"}, {}},
      {"preCallStatusUpdate", event("preCallStatusUpdate", {{"status", "Ringing…"}}),
       {"updatePreCallStatus(Ringing…)"}, {}},
      {"preCallStatusUpdate", event("preCallStatusUpdate"), {}, {}},
      {"callConnected", event("callConnected"), {"closePreCallWindow()", "bringCallWindowToFront()"},
       {kStartCamera}},
      {"callWindowClose", event("callWindowClose"), {"markPreCallEnded()", "closeCallWindow()"}, {}},
      {"bringCallWindowToFront", event("bringCallWindowToFront"), {"bringCallWindowToFront()"}, {}},
      {"callWindowSetVar", event("callWindowSetVar", {{"js", "window.x = 1;"}}),
       {"evaluateInCallWindow(window.x = 1;)"}, {}},
      {"callWindowSetVar", event("callWindowSetVar", {{"js", 1}}), {}, {}},
      {"endNativeCall", event("endNativeCall"), {}, {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name + (" " + row.body.dump()));
    ops.calls.clear();
    page->scripts.clear();
    send(row.name, row.body);
    queue.runUntilIdle();
    EXPECT_EQ(ops.calls, row.calls);
    EXPECT_EQ(page->scripts, row.scripts);
  }
  EXPECT_TRUE(lines.empty());
}

TEST_F(CallMessageRouting, CallWindowRequestsGoToThePreCallWindowWhileItIsActive) {
  ops.preCallActive = true;
  send("bringCallWindowToFront", event("bringCallWindowToFront"));
  ops.inCall = true;
  send("endNativeCall", event("endNativeCall"));
  EXPECT_EQ(ops.calls, (std::vector<std::string>{"bringPreCallWindowToFront()", "endCall()"}));
}

TEST_F(CallMessageRouting, TheIncomingPanelOpensRefreshesOrAnswersBusy) {
  const json announced = event("showIncomingCallPanel", {{"from", "Bob"},
                                                         {"userNumber", "4712"},
                                                         {"imageUrl", "https://i/b"},
                                                         {"isAudio", false},
                                                         {"pushId", "p1"},
                                                         {"myIsSubscribed", true},
                                                         {"callerIsSubscribed", true}});
  const std::string bob = "Bob,4712,https://i/b,false,p1,true,false,true";
  struct Row {
    const char* name;
    bool masked, inCall;
    std::string ringingFrom, ringingPushId;
    json body;
    std::vector<std::string> calls;
  };
  const std::vector<Row> rows = {
      {"idle: signalling prepared, panel shown", false, false, "", "", announced,
       {"setLocalIsSubscribed(true)", "prepareSignalingForIncoming(" + bob + ")", "showIncomingCallPanel(" + bob + ")"}},
      {"defaults", false, false, "", "", event("showIncomingCallPanel"),
       {"setLocalIsSubscribed(false)", "prepareSignalingForIncoming(Unknown,,,true,,true,false,false)",
        "showIncomingCallPanel(Unknown,,,true,,true,false,false)"}},
      {"decoy or wipe-out: nothing", true, false, "", "", announced, {}},
      {"in another call: busy, no panel", false, true, "4999", "p9", announced,
       {"setLocalIsSubscribed(true)", "sendBusyToNewCaller(4712)"}},
      {"the same call again by caller: panel refreshed, no busy", false, true, "4712", "", announced,
       {"setLocalIsSubscribed(true)", "showIncomingCallPanel(" + bob + ")"}},
      {"the same call again by push id: panel refreshed, no busy", false, true, "", "p1", announced,
       {"setLocalIsSubscribed(true)", "showIncomingCallPanel(" + bob + ")"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ops.calls.clear();
    ops.maskedOrWiped = row.masked;
    ops.inCall = row.inCall;
    ops.ringingFrom = row.ringingFrom;
    ops.ringingPushId = row.ringingPushId;
    send("showIncomingCallPanel", row.body);
    EXPECT_EQ(ops.calls, row.calls);
  }
}

TEST_F(CallMessageRouting, ThePanelsActionsAcceptWithDarkModeOrDeclineAndTellThePage) {
  send("showIncomingCallPanel", event("showIncomingCallPanel", {{"from", "Bob"},
                                                                {"userNumber", "4712"},
                                                                {"pushId", "p1"},
                                                                {"isAudio", false},
                                                                {"isDarkMode", false}}));
  ops.calls.clear();
  ops.panelAccept();
  EXPECT_EQ(ops.calls, std::vector<std::string>{"acceptIncomingFromPanel(4712,Bob,false,p1,true)"});
  ops.calls.clear();
  ops.panelDecline();
  EXPECT_EQ(ops.calls, std::vector<std::string>{"rejectCall()"});
  EXPECT_TRUE(page->scripts.empty()) << "the decline notice is queued";
  queue.runUntilIdle();
  EXPECT_EQ(page->scripts, std::vector<std::string>{kDeclined});
}

TEST_F(CallMessageRouting, AnIncomingCallOfThePageIsDeliveredNowOrAfterACredentialRefresh) {
  send("openCallWindow", event("openCallWindow", {{"from", "4712_deskB"}, {"isAudio", true}, {"pushId", "p1"}}));
  EXPECT_EQ(ops.calls, std::vector<std::string>{"handleIncomingCall(4712,true,p1,true)"});
  EXPECT_EQ(lines, std::vector<std::string>{
                       "[WebView] openCallWindow — from:4712 isAudio:true isOutgoing:false hasCredentials:true"});

  ops.calls.clear();
  lines.clear();
  ops.credentials = false;
  send("openCallWindow", event("openCallWindow", {{"from", "4712"}, {"pushId", "p2"}}));
  EXPECT_EQ(page->scripts, std::vector<std::string>{kAuthScript});
  EXPECT_TRUE(ops.calls.empty());
  queue.advance(0.9);
  EXPECT_TRUE(ops.calls.empty());
  queue.advance(0.1);
  EXPECT_EQ(ops.calls, std::vector<std::string>{"handleIncomingCall(4712,false,p2,true)"});

  ops.calls.clear();
  lines.clear();
  send("openCallWindow", event("openCallWindow", {{"from", "4712"}, {"isOutgoing", true}}));
  send("openCallWindow", event("openCallWindow", {{"from", "_deskB"}}));
  ops.maskedOrWiped = true;
  send("openCallWindow", event("openCallWindow", {{"from", "4712"}}));
  queue.advance(2.0);
  EXPECT_TRUE(ops.calls.empty());
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "[WebView] openCallWindow — from:4712 isAudio:false isOutgoing:true hasCredentials:false",
                       "[WebView] openCallWindow — from: isAudio:false isOutgoing:false hasCredentials:false",
                       "[WebView] openCallWindow suppressed — decoy/wipeout active"}));
}

TEST_F(CallMessageRouting, OutgoingCallsOpenTheirScreenOneSecondLaterUnlessRefused) {
  const json bob = {{"toName", "Bob"}, {"toOrvikID", "4712"}, {"toImage", "https://i/b"}, {"isDarkMode", false},
                    {"myName", "Ann"},  {"myImage", "https://i/a"}};
  const auto with = [](json body, json extra) {
    body.update(extra);
    return body;
  };
  struct Row {
    const char* name;
    const char* message;
    json body;
    bool credentials, inCall, masked;
    int dailyVideo;
    std::vector<std::string> lines;
    int authScripts;
    std::vector<std::string> calls;  // after 1.0 s, setLocalIsSubscribed left out
  };
  const std::vector<Row> rows = {
      {"audio", "openNativeAudioUI", bob, true, false, false, 0,
       {"[WebView] openNativeAudioUI — name:Bob calleeSub:false hasCredentials:true"}, 1,
       {"openOutgoingAudioCall(Bob,4712,https://i/b,false,false,Ann,https://i/a,false)"}},
      {"audio without credentials refreshes twice", "openNativeAudioUI", bob, false, false, false, 0,
       {"[WebView] openNativeAudioUI — name:Bob calleeSub:false hasCredentials:false"}, 2,
       {"openOutgoingAudioCall(Bob,4712,https://i/b,false,false,Ann,https://i/a,false)"}},
      {"blank callee", "openNativeAudioUI", with(bob, {{"toOrvikID", " \t "}}), true, false, false, 0,
       {"[WebView] openNativeAudioUI ABORTED — no callee OrvikID (name=Bob)"}, 0, {}},
      {"already in a call", "openNativeAudioUI", bob, true, true, false, 0,
       {"[WebView] openNativeAudioUI — name:Bob calleeSub:false hasCredentials:true",
        "[WebView] openNativeAudioUI ignored — already in a call"},
       0, {}},
      {"decoy", "openNativeVideoUI", bob, true, false, true, 0,
       {"[WebView] openNativeVideoUI blocked — decoy/wipeout active"}, 0, {}},
      {"video", "openNativeVideoUI", bob, true, false, false, 1799,
       {"[WebView] openNativeVideoUI — name:Bob mySub:false calleeSub:false hasCredentials:true"}, 1,
       {"openOutgoingVideoCall(Bob,4712,https://i/b,false,false,Ann,https://i/a,false)"}},
      {"video between free accounts past the daily allowance", "openNativeVideoUI", bob, true, false, false, 1800,
       {"[WebView] openNativeVideoUI — name:Bob mySub:false calleeSub:false hasCredentials:true",
        "[WebView] openNativeVideoUI blocked — daily video limit reached"},
       1, {"showDailyVideoLimitAlert()"}},
      {"video to a subscriber past the allowance", "openNativeVideoUI", with(bob, {{"calleeIsSubscribed", true}}),
       false, false, false, 5000,
       {"[WebView] openNativeVideoUI — name:Bob mySub:false calleeSub:true hasCredentials:false"}, 2,
       {"openOutgoingVideoCall(Bob,4712,https://i/b,true,false,Ann,https://i/a,false)"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ops.calls.clear();
    page->scripts.clear();
    lines.clear();
    ops.credentials = row.credentials;
    ops.inCall = row.inCall;
    ops.maskedOrWiped = row.masked;
    ops.dailyVideoSeconds = row.dailyVideo;
    send(row.message, event(row.message, row.body));
    std::erase_if(ops.calls, [](const std::string& call) { return call.rfind("setLocalIsSubscribed", 0) == 0; });
    const bool blocked = row.dailyVideo >= 1800 && !row.body.contains("calleeIsSubscribed");
    if (!blocked) {
      EXPECT_TRUE(ops.calls.empty()) << "nothing opens before 1.0 s";
    }
    queue.advance(0.99);
    if (!blocked) {
      EXPECT_TRUE(ops.calls.empty()) << "nothing opens before 1.0 s";
    }
    queue.advance(0.01);
    EXPECT_EQ(ops.calls, row.calls);
    EXPECT_EQ(lines, row.lines);
    EXPECT_EQ(page->scripts, std::vector<std::string>(row.authScripts, kAuthScript));
  }
}

TEST_F(CallMessageRouting, WithoutAMainPageThePageScriptsAreSkippedAndTheCallStillOpens) {
  page.reset();
  send("openNativeAudioUI", event("openNativeAudioUI", {{"toName", "Bob"}, {"toOrvikID", "4712"}}));
  send("callConnected", event("callConnected"));
  queue.advance(1.0);
  EXPECT_EQ(ops.calls, (std::vector<std::string>{"setLocalIsSubscribed(false)", "closePreCallWindow()",
                                                 "bringCallWindowToFront()",
                                                 "openOutgoingAudioCall(Bob,4712,<none>,false,true,,,false)"}));
}

TEST(OutgoingCallRequest, ThePagesRequestIsReadOrRefusedWithALogLine) {
  struct Row {
    const char* name;
    const char* eventType;
    json body;
    std::optional<CallType> type;
    std::string line;
  };
  const json good = {{"toName", "Bob"}, {"toOrvikID", "4712"}, {"toImage", "https://b/bob.png"},
                     {"calleeIsSubscribed", true}, {"isDarkMode", false}};
  const std::vector<Row> rows = {
      {"audio", "openNativeAudioUI", good, CallType::audio, ""},
      {"video", "openNativeVideoUI", good, CallType::video, ""},
      {"unknown type", "openNativeHologramUI", good, std::nullopt,
       "[WebView] outgoing call refused — unknown call type 'openNativeHologramUI'"},
      {"blank callee", "openNativeAudioUI", json{{"toName", "Bob"}, {"toOrvikID", " \t"}}, std::nullopt,
       "[WebView] openNativeAudioUI ABORTED — no callee OrvikID (name=Bob)"},
      {"mistyped callee", "openNativeVideoUI", json{{"toName", "Bob"}, {"toOrvikID", 4712}}, std::nullopt,
       "[WebView] openNativeVideoUI ABORTED — no callee OrvikID (name=Bob)"},
      {"not an object", "openNativeAudioUI", json("4712"), std::nullopt,
       "[WebView] openNativeAudioUI ABORTED — no callee OrvikID (name=)"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<std::string> lines;
    const auto request = CallBridgeMessages::readOutgoingCallRequest(
        row.eventType, row.body, [&lines](const std::string& line) { lines.push_back(line); });
    EXPECT_EQ(request.has_value(), row.type.has_value());
    if (!request) {
      EXPECT_EQ(lines, std::vector<std::string>{row.line});
      continue;
    }
    EXPECT_TRUE(lines.empty());
    EXPECT_EQ(request->type, *row.type);
    EXPECT_EQ(request->callee.userNumber, "4712");
    EXPECT_EQ(request->callee.name, "Bob");
    EXPECT_EQ(request->callee.avatarURL, "https://b/bob.png");
    EXPECT_TRUE(request->callee.isSubscribed);
    EXPECT_FALSE(request->isDarkMode);
  }
}

}  // namespace
}  // namespace orvik
