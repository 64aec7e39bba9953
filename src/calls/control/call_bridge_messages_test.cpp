#include "calls/control/call_bridge_messages.h"

#include <gtest/gtest.h>

#include <map>

#include "calls/control/test_support/manager_harness.h"
#include "platform/message_routes.h"
#include "platform/test_support/recording_message_routes.h"

namespace orvik {
namespace {

using nlohmann::json;

using Routes = testing::RecordingMessageRoutes;

class CallBridgeMessagesTest : public ::testing::Test, public testing::ManagerHarness {
 protected:
  CallBridgeMessagesTest() { messages.publishRoutes(routes); }
  std::vector<std::string> bridgeLines;
  CallBridgeMessages messages{*manager, strings, [this](const std::string& line) { bridgeLines.push_back(line); }};
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
