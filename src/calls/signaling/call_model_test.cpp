#include "calls/signaling/call_model.h"

#include <gtest/gtest.h>

#include <string>

namespace orvik {
namespace {

using nlohmann::json;
using Kind = CallState::Kind;

TEST(CallModel, FailedStatesAreEqualOnlyWithTheSameReason) {
  EXPECT_EQ(CallState::failed("Auth failed"), CallState::failed("Auth failed"));
  EXPECT_NE(CallState::failed("Auth failed"), CallState::failed("auth failed"));
  EXPECT_NE(CallState::failed(""), CallState(Kind::ended));
  EXPECT_EQ(CallState(Kind::busy), CallState(Kind::busy));
  EXPECT_NE(CallState(Kind::ringing), CallState(Kind::calling));
}

TEST(CallModel, InACallMeansRingingCallingConnectingOrConnected) {
  for (auto kind : {Kind::ringing, Kind::calling, Kind::connecting, Kind::connected}) {
    EXPECT_TRUE(CallState(kind).isInCall());
  }
  for (auto kind : {Kind::idle, Kind::ended, Kind::rejected, Kind::missed, Kind::busy}) {
    EXPECT_FALSE(CallState(kind).isInCall());
  }
  EXPECT_FALSE(CallState::failed("x").isInCall());
}

TEST(CallModel, AMessageWithOnlyTheAddressesEncodesToThreeKeys) {
  const OutgoingCallMessage message{.type = "endCall", .to = "4711_dev", .from = "42_me"};
  EXPECT_EQ(message.dictionary(), json({{"type", "endCall"}, {"to", "4711_dev"}, {"from", "42_me"}}));
}

TEST(CallModel, EveryOptionalFieldKeepsItsNativeType) {
  OutgoingCallMessage message{.type = "offer", .to = "4711", .from = "42_me"};
  message.sdp = "v=0 text";
  message.sdpObject = json{{"type", "offer"}, {"sdp", "v=0"}};
  message.isAudio = false;
  message.isFreeUser = "true";
  message.pushId = "push-1";
  message.addRecord = json{{"callType", "audio"}, {"n", 2}};
  message.candidate = json{{"candidate", "candidate:1"}, {"sdpMLineIndex", 0}};
  message.deviceSource = "desktop";
  message.advertisesIceRestart = true;
  message.iceRestartAttempt = 2;
  const json expected = {
      {"type", "offer"}, {"to", "4711"}, {"from", "42_me"},
      {"sdp", {{"type", "offer"}, {"sdp", "v=0"}}},  // the object wins over the text
      {"isAudio", false}, {"isFreeUser", "true"}, {"pushId", "push-1"},
      {"addRecord", {{"callType", "audio"}, {"n", 2}}},
      {"candidate", {{"candidate", "candidate:1"}, {"sdpMLineIndex", 0}}},
      {"deviceSource", "desktop"}, {"iceRestartV1", true}, {"iceRestartAttempt", 2}};
  EXPECT_EQ(message.dictionary(), expected);
}

TEST(CallModel, SdpTextIsSentWhenNoObjectIsSetAndAFalseRestartFlagAddsNoKey) {
  OutgoingCallMessage message{.type = "answer", .to = "1", .from = "2"};
  message.sdp = "raw";
  message.advertisesIceRestart = false;
  const json payload = message.dictionary();
  EXPECT_EQ(payload["sdp"], "raw");
  EXPECT_FALSE(payload.contains("iceRestartV1"));
}

TEST(CallModel, ParsesServerDatesInEveryForm) {
  using std::chrono::system_clock;
  const auto instant = system_clock::time_point(std::chrono::seconds(1765363200));  // 2025-12-10T10:40:00Z
  const auto withMillis = instant + std::chrono::milliseconds(250);
  struct Case {
    json value;
    std::optional<system_clock::time_point> expected;
  };
  const Case cases[] = {
      {1765363200, instant},
      {1765363200000LL, instant},
      {1765363200.25, withMillis},
      {1765363200250.0, withMillis},
      {"1765363200", instant},
      {"1765363200000", instant},
      {"2025-12-10T10:40:00Z", instant},
      {"2025-12-10T10:40:00.250Z", withMillis},
      {"2025-12-10T12:40:00+02:00", instant},
      {0, std::nullopt},
      {-5, std::nullopt},
      {"0", std::nullopt},
      {"", std::nullopt},
      {"yesterday", std::nullopt},
      {"2025-12-10 10:40:00", std::nullopt},
      {"2025-02-30T10:40:00Z", std::nullopt},
      {true, std::nullopt},
      {nullptr, std::nullopt},
      {json::object(), std::nullopt},
      {1e300, std::nullopt},
      // Fractions of any length, read to the nanosecond.
      {"2025-12-10T10:40:00.2500000000000000000000000Z", withMillis},
      {"2025-12-10T10:40:00." + std::string(400, '0') + "1Z", instant},
      {"2025-12-10T10:40:00.25" + std::string(100000, '0') + "Z", withMillis},
      {"2025-12-10T10:40:00.Z", std::nullopt},
      {"2025-12-10T10:40:00.2x5Z", std::nullopt},
      {"2025-12-10T10:40:00+02:00trailing", std::nullopt},
      {"2025-12-10T10:40:00+2:00", std::nullopt},
      // Instants the clock cannot hold for every difference are unreadable.
      {"1970-01-01T00:00:01Z", system_clock::time_point(std::chrono::seconds(1))},
      {"2199-12-31T23:59:59Z", system_clock::time_point(std::chrono::seconds(7258118399))},
      {"2200-01-01T00:00:00Z", std::nullopt},
      {"9999-12-31T23:59:59Z", std::nullopt},
      {"0001-01-01T00:00:00Z", std::nullopt},
      {"1969-12-31T23:59:59Z", std::nullopt},
      {"1970-01-01T00:30:00+01:00", std::nullopt},
      {9.0e10, std::nullopt},
      {5.0e15, std::nullopt},
      {"90000000000", std::nullopt},
      {7258118399, system_clock::time_point(std::chrono::seconds(7258118399))},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value.dump());
    const auto parsed = parseServerDate(c.value);
    ASSERT_EQ(parsed.has_value(), c.expected.has_value());
    if (parsed) {
      EXPECT_NEAR(std::chrono::duration<double>(*parsed - *c.expected).count(), 0.0, 1e-6);
    }
  }
}

}  // namespace
}  // namespace orvik
