#include "calls/signaling/ice_config.h"

#include <gtest/gtest.h>

namespace orvik {
namespace {

using nlohmann::json;

class ICEConfigTest : public ::testing::Test {
 protected:
  SignalingLog log_ = [this](std::string_view line) { lines_.emplace_back(line); };
  std::vector<std::string> lines_;
};

TEST_F(ICEConfigTest, AcceptsAnObjectItsJsonTextAndTheTokenWrapper) {
  const json config = {{"iceServers", {{{"urls", "stun:stun.example:3478"}}}}};
  const std::vector<ICEServer> expected = {ICEServer{{"stun:stun.example:3478"}, "", ""}};
  for (const json& payload : {config, json(config.dump()), json{{"token", config}}, json(json{{"token", config}}.dump())}) {
    SCOPED_TRACE(payload.dump());
    const auto parsed = parseICEConfig(payload, log_);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->servers, expected);
    EXPECT_EQ(parsed->transportPolicy, "all");
  }
}

TEST_F(ICEConfigTest, UnusablePayloadsGiveNothingAndLogNothing) {
  const json payloads[] = {
      nullptr, 42, "not json", "[1,2]", json::array(), json::object(),
      {{"iceServers", "stun:x"}},
      {{"iceServers", {"stun:x"}}},          // entries must be objects
      {{"token", "text"}},                   // a token that is not an object is not unwrapped
  };
  for (const auto& payload : payloads) {
    EXPECT_FALSE(parseICEConfig(payload, log_)) << payload.dump();
  }
  EXPECT_TRUE(lines_.empty());
}

TEST_F(ICEConfigTest, AnEmptyListIsAResultAndThePolicyIsTakenAsGiven) {
  const auto parsed = parseICEConfig(json{{"token", {{"iceServers", json::array()}, {"iceTransportPolicy", "relay"}}}}, log_);
  ASSERT_TRUE(parsed);
  EXPECT_TRUE(parsed->servers.empty());
  EXPECT_EQ(parsed->transportPolicy, "relay");
  EXPECT_EQ(parseICEConfig(json{{"iceServers", json::array()}, {"iceTransportPolicy", 3}}, log_)->transportPolicy, "all");
}

TEST_F(ICEConfigTest, ReadsEachEntryShapeAndDropsEntriesWithoutAddresses) {
  const json payload = {{"iceServers", {
      {{"urls", {"turn:a:3478", "turns:a:5349"}}, {"username", "u"}, {"credential", "c"}},
      {{"url", {"stun:b"}}},
      {{"url", "stun:c"}, {"username", 7}},
      {{"username", "x"}, {"credential", "y"}},
      {{"urls", json::array()}},
      {{"urls", 5}, {"url", "stun:d"}},
  }}};
  const auto parsed = parseICEConfig(payload, log_);
  ASSERT_TRUE(parsed);
  const std::vector<ICEServer> expected = {
      {{"turn:a:3478", "turns:a:5349"}, "u", "c"},
      {{"stun:b"}, "", ""},
      {{"stun:c"}, "", ""},
      {{}, "", ""},
      {{"stun:d"}, "", ""},
  };
  EXPECT_EQ(parsed->servers, expected);
  const std::vector<std::string> expectedLines = {
      R"([ICEConfig] entry 0: keys=["credential","urls","username"] urls=["turn:a:3478","turns:a:5349"])",
      R"([ICEConfig] entry 1: keys=["url"] urls=["stun:b"])",
      R"([ICEConfig] entry 2: keys=["url","username"] urls="stun:c")",
      R"([ICEConfig] entry 3: keys=["credential","username"] urls=-)",
      R"([ICEConfig] dropped ICE server entry with no urls/url — keys=["credential","username"])",
      R"([ICEConfig] entry 4: keys=["urls"] urls=[])",
      R"([ICEConfig] entry 5: keys=["url","urls"] urls=5)",
      "[ICEConfig] 6 received → 5 usable, policy=all | turn:a:3478(creds) turns:a:5349(creds) stun:b stun:c stun:d",
  };
  EXPECT_EQ(lines_, expectedLines);
}

TEST_F(ICEConfigTest, DescribesTurnCredentialsAndFindsTurnServers) {
  const std::vector<ICEServer> servers = {
      {{"stun:s"}, "", ""},
      {{"turn:t?transport=udp"}, "user", ""},
      {{"turns:u"}, "user", "pass"},
  };
  EXPECT_EQ(describeICEServers(servers), "stun:s turn:t?transport=udp(NO creds) turns:u(creds)");
  EXPECT_EQ(describeICEServers({}), "");
  EXPECT_TRUE(hasTurnServer(servers));
  EXPECT_TRUE(hasTurnServer({{{"turns:only"}, "", ""}}));
  EXPECT_FALSE(hasTurnServer({{{"stun:a", "stun:b"}, "u", "c"}}));
  EXPECT_FALSE(hasTurnServer({{{"TURN:upper", "stun:turn:x"}, "", ""}}));
  EXPECT_FALSE(hasTurnServer({}));
}

}  // namespace
}  // namespace orvik
