#include "web/bridge_dispatcher.h"
#include "web/testing/trusted_bridge_message.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "core/native_logger.h"

namespace orvik {
namespace {

using nlohmann::json;
using ::testing::ElementsAre;

BridgeMessage trusted(std::string handler, json body) {
  return testing::trustedBridgeMessage(std::move(handler), std::move(body));
}

// Every name routed to a recorder; credentials and output recorded.
class BridgeDispatcherTest : public ::testing::Test {
 protected:
  BridgeDispatcherTest() : logger_([this](const std::string& line) { logged_.push_back(line); }) {
    BridgeDispatcher::Collaborators collaborators;
    collaborators.isTrustedHost = [](std::string_view host) { return host == "app.orvik.test"; };
    collaborators.hasCredentials = [this] { return hasCredentials_; };
    collaborators.fetchCredentials = [this](const std::string& reason) { fetches_.push_back(reason); };
    collaborators.print = [this](const std::string& line) { printed_.push_back(line); };
    collaborators.logger = &logger_;
    dispatcher_ = std::make_unique<BridgeDispatcher>(std::move(collaborators));
  }
  void routeAll() {
    for (const auto& entry : BridgeDispatcher::textNames()) routeRecording(entry.name);
    for (auto name : BridgeDispatcher::dictionaryNames()) routeRecording(name);
  }
  void routeRecording(std::string_view name) {
    ASSERT_TRUE(dispatcher_->route(name, [this, name = std::string(name)](const json& body) {
      received_.emplace_back(name, body);
    }));
  }

  NativeLogger logger_;
  std::vector<std::string> logged_, printed_, fetches_;
  std::vector<std::pair<std::string, json>> received_;
  bool hasCredentials_ = true;
  std::unique_ptr<BridgeDispatcher> dispatcher_;
};

TEST_F(BridgeDispatcherTest, EveryNameReachesItsHandlerInItsOwnFormOnly) {
  routeAll();
  EXPECT_EQ(BridgeDispatcher::textNames().size() + BridgeDispatcher::dictionaryNames().size(), 78u);
  for (const auto& entry : BridgeDispatcher::textNames()) {
    const std::string name(entry.name);
    received_.clear();
    dispatcher_->didReceive(trusted("nativeApp", name));
    ASSERT_EQ(received_.size(), 1u) << name;
    EXPECT_EQ(received_[0].first, name);
    EXPECT_EQ(received_[0].second, name);
    // The other form is another name space.
    received_.clear();
    dispatcher_->didReceive(trusted("nativeApp", {{"eventType", name}}));
    EXPECT_TRUE(received_.empty()) << name;
  }
  for (auto entry : BridgeDispatcher::dictionaryNames()) {
    const std::string name(entry);
    const json body = {{"eventType", name}, {"extra", 1}};
    received_.clear();
    dispatcher_->didReceive(trusted("nativeApp", body));
    ASSERT_EQ(received_.size(), 1u) << name;
    EXPECT_EQ(received_[0].first, name);
    EXPECT_EQ(received_[0].second, body);
    received_.clear();
    dispatcher_->didReceive(trusted("nativeApp", name));
    EXPECT_TRUE(received_.empty()) << name;
  }
  EXPECT_TRUE(logged_.empty());
}

TEST_F(BridgeDispatcherTest, TextFormTestsExactAndPrefixNamesInTableOrder) {
  routeAll();
  struct Case {
    const char* body;
    const char* handler;  // nullptr: dropped
  };
  for (const Case& c : std::initializer_list<Case>{
           {"accept:image/*,video/mp4", "accept:"},
           {"getDeviceInfo:", nullptr},
           {"getDeviceInfox", nullptr},
           {"checkForUpdates", "checkForUpdates"},
           {"checkForUpdates:120", "checkForUpdates"},
           {"checkForUpdatesNow", "checkForUpdates"},
           {"setUnreadTotal:3", "setUnreadTotal:"},
           {"setUnreadTotal", nullptr},
           {"updateAnchor:10", "updateAnchor:"},
           {"themeChanged", nullptr},
           {"", nullptr},
       }) {
    received_.clear();
    dispatcher_->didReceive(trusted("nativeApp", c.body));
    if (c.handler) {
      ASSERT_EQ(received_.size(), 1u) << c.body;
      EXPECT_EQ(received_[0].first, c.handler) << c.body;
      EXPECT_EQ(received_[0].second, c.body);
    } else {
      EXPECT_TRUE(received_.empty()) << c.body;
    }
  }
  EXPECT_TRUE(logged_.empty());
}

TEST_F(BridgeDispatcherTest, MalformedAndUnknownMessagesAreDroppedSilently) {
  routeAll();
  for (const json& body : {json{{"eventType", "getDeviceInfo"}}, json{{"eventType", "noSuchName"}},
                           json{{"eventType", 3}}, json{{"type", "themeChanged"}}, json(42), json(nullptr),
                           json::array({"themeChanged"})}) {
    dispatcher_->didReceive(trusted("nativeApp", body));
  }
  dispatcher_->didReceive(trusted("callWindowLogger", {{"eventType", "themeChanged"}}));
  EXPECT_TRUE(received_.empty());
  EXPECT_TRUE(logged_.empty());
  EXPECT_TRUE(printed_.empty());
  EXPECT_FALSE(dispatcher_->route("noSuchName", [](const json&) {}));
}

TEST_F(BridgeDispatcherTest, UntrustedSendersAreRefusedWithOneLineAndNothingElse) {
  routeAll();
  hasCredentials_ = false;
  struct Case {
    const char* what;
    std::function<void(BridgeMessage&)> change;
    const char* line;
  };
  for (const Case& c : std::initializer_list<Case>{
           {"subframe", [](BridgeMessage& m) { m.isMainFrame = false; },
            "[NATIVE] [WebView] Ignored bridge 'nativeApp' from untrusted origin https://app.orvik.test:8443 "
            "mainFrame=false"},
           {"other host", [](BridgeMessage& m) { m.host = "evil.test"; m.port = 0; },
            "[NATIVE] [WebView] Ignored bridge 'nativeApp' from untrusted origin https://evil.test:0 mainFrame=true"},
           {"letter case", [](BridgeMessage& m) { m.host = "App.orvik.test"; },
            "[NATIVE] [WebView] Ignored bridge 'nativeApp' from untrusted origin https://App.orvik.test:8443 "
            "mainFrame=true"},
           {"plain http", [](BridgeMessage& m) { m.protocol = "http"; },
            "[NATIVE] [WebView] Ignored bridge 'nativeApp' from untrusted origin http://app.orvik.test:8443 "
            "mainFrame=true"},
           {"unverified document", [](BridgeMessage& m) { m.documentVerified = false; },
            "[NATIVE] [WebView] Ignored bridge 'nativeApp' from untrusted origin https://app.orvik.test:8443 "
            "mainFrame=true"},
       }) {
    logged_.clear();
    auto message = trusted("nativeApp", "getDeviceInfo");
    c.change(message);
    EXPECT_FALSE(dispatcher_->isTrustedBridgeOrigin(message)) << c.what;
    dispatcher_->didReceive(message);
    EXPECT_THAT(logged_, ElementsAre(c.line)) << c.what;
  }
  auto console = trusted("logger", {{"type", "warn"}, {"args", {"x"}}});
  console.isMainFrame = false;
  logged_.clear();
  dispatcher_->didReceive(console);
  EXPECT_THAT(logged_, ElementsAre("[NATIVE] [WebView] Ignored bridge 'logger' from untrusted origin "
                                   "https://app.orvik.test:8443 mainFrame=false"));
  EXPECT_TRUE(received_.empty());
  EXPECT_TRUE(printed_.empty());
  EXPECT_TRUE(fetches_.empty());  // no credential fetch for a refused message
  EXPECT_EQ(logger_.pendingLines().size(), 6u);  // each refusal is meant for the page's console too
}

TEST_F(BridgeDispatcherTest, ConsoleLinesArePrintedAndOnlyWarningsAndErrorsLoggedNeverForwarded) {
  // Before the page is ready a line meant for its console waits in the buffer.
  dispatcher_->didReceive(trusted("logger", {{"type", "info"}, {"args", {"a", 2, json{{"k", true}}}}}));
  dispatcher_->didReceive(trusted("logger", {{"type", "warn"}, {"args", {"careful"}}}));
  dispatcher_->didReceive(trusted("logger", {{"type", "error"}, {"args", {"bad", "thing"}}}));
  for (const json& malformed : {json("text"), json{{"type", "log"}}, json{{"type", 1}, {"args", json::array()}},
                                json{{"type", "log"}, {"args", "x"}}}) {
    dispatcher_->didReceive(trusted("logger", malformed));
  }
  EXPECT_THAT(printed_, ElementsAre("🌐 [Web] a 2 {\"k\":true}", "⚠️  [Web] careful", "❌  [Web] bad thing"));
  EXPECT_THAT(logged_, ElementsAre("[NATIVE] [Web] careful", "[NATIVE] [Web] bad thing"));
  EXPECT_TRUE(logger_.pendingLines().empty());
}

TEST_F(BridgeDispatcherTest, AConsoleLineNestedTooDeeplyIsPrintedWithoutWalkingIt) {
  // Built as a value: whatever skipped the envelope's depth check, printing it
  // must not recurse through every level.
  json deep = json::array();
  for (int i = 0; i < 200000; ++i) deep = json::array({std::move(deep)});
  dispatcher_->didReceive(trusted("logger", {{"type", "warn"}, {"args", {"x", std::move(deep)}}}));
  EXPECT_THAT(printed_, ElementsAre("⚠️  [Web] x <nested too deeply>"));
}

TEST(BridgeEnvelope, ReadsTheForwardersEnvelopeAndRefusesDeepOrMalformedText) {
  const auto message = bridgeMessageFromEnvelope(
      "nativeApp", R"({"body":{"eventType":"getAppVersion"},"top":true,"origin":"https://app.orvik.test:8443"})");
  ASSERT_TRUE(message);
  EXPECT_EQ(message->handler, "nativeApp");
  EXPECT_EQ(message->body, (json{{"eventType", "getAppVersion"}}));
  EXPECT_TRUE(message->isMainFrame);
  EXPECT_EQ(message->protocol, "https");
  EXPECT_EQ(message->host, "app.orvik.test");
  EXPECT_EQ(message->port, 8443);
  EXPECT_FALSE(message->documentVerified);

  const auto plain = bridgeMessageFromEnvelope("logger", R"({"body":"text","origin":"https://h"})");
  ASSERT_TRUE(plain);
  EXPECT_FALSE(plain->isMainFrame);
  EXPECT_EQ(plain->port, 0);

  const std::string deep = std::string(100000, '[') + std::string(100000, ']');
  for (const std::string& text : {"{\"body\":" + deep + ",\"top\":true}", std::string("[1]"), std::string("{"),
                                  std::string("")}) {
    EXPECT_FALSE(bridgeMessageFromEnvelope("nativeApp", text)) << text.substr(0, 20);
  }
}

TEST_F(BridgeDispatcherTest, WithoutCredentialsEveryAcceptedMessageFirstAsksForAFetch) {
  std::vector<std::string> order;
  ASSERT_TRUE(dispatcher_->route("getAppVersion", [&](const json&) { order.push_back("handler"); }));
  hasCredentials_ = false;
  dispatcher_->didReceive(trusted("nativeApp", {{"eventType", "getAppVersion"}}));
  dispatcher_->didReceive(trusted("nativeApp", {{"eventType", "noSuchName"}}));
  dispatcher_->didReceive(trusted("nativeApp", 12));
  dispatcher_->didReceive(trusted("logger", {{"type", "log"}, {"args", {"x"}}}));
  EXPECT_THAT(fetches_, ElementsAre("bridge-message", "bridge-message", "bridge-message"));
  hasCredentials_ = true;
  dispatcher_->didReceive(trusted("nativeApp", {{"eventType", "getAppVersion"}}));
  EXPECT_EQ(fetches_.size(), 3u);
  EXPECT_THAT(order, ElementsAre("handler", "handler"));
}

TEST_F(BridgeDispatcherTest, AKnownNameWithoutItsSubsystemIsLoggedAsNotHandledYet) {
  dispatcher_->didReceive(trusted("nativeApp", {{"eventType", "openNativeAudioUI"}}));
  dispatcher_->didReceive(trusted("nativeApp", "setCallStrings:{}"));
  EXPECT_THAT(logged_, ElementsAre("[NATIVE] [WebView] bridge message 'openNativeAudioUI' not handled yet",
                                   "[NATIVE] [WebView] bridge message 'setCallStrings:' not handled yet"));
}

}  // namespace
}  // namespace orvik
