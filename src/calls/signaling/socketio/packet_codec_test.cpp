#include "calls/signaling/socketio/packet_codec.h"

#include <gtest/gtest.h>

namespace orvik::socketio {
namespace {

using nlohmann::json;

TEST(PacketCodec, ReadsEnginePacketTypes) {
  struct Case {
    const char* text;
    std::optional<EnginePacketType> type;
    const char* payload;
  };
  const Case cases[] = {
      {"0{\"sid\":\"x\"}", EnginePacketType::open, "{\"sid\":\"x\"}"},
      {"1", EnginePacketType::close, ""},
      {"2", EnginePacketType::ping, ""},
      {"3probe", EnginePacketType::pong, "probe"},
      {"42[\"a\"]", EnginePacketType::message, "2[\"a\"]"},
      {"6", EnginePacketType::noop, ""},
      {"", std::nullopt, ""},
      {"7", std::nullopt, ""},
      {"x", std::nullopt, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const auto packet = decodeEnginePacket(c.text);
    ASSERT_EQ(packet.has_value(), c.type.has_value());
    if (!packet) continue;
    EXPECT_EQ(packet->type, *c.type);
    EXPECT_EQ(packet->payload, c.payload);
  }
}

TEST(PacketCodec, OpenHandshakeGivesSecondsAndRejectsMissingSid) {
  const auto open = parseOpenHandshake(R"({"sid":"abc","upgrades":[],"pingInterval":25000,"pingTimeout":5000})");
  ASSERT_TRUE(open);
  EXPECT_EQ(open->sid, "abc");
  EXPECT_DOUBLE_EQ(open->pingInterval, 25.0);
  EXPECT_DOUBLE_EQ(open->pingTimeout, 5.0);
  EXPECT_FALSE(parseOpenHandshake(R"({"pingInterval":25000})"));
  EXPECT_FALSE(parseOpenHandshake("not json"));
  // Missing or nonsensical timings keep the protocol's defaults.
  const auto defaults = parseOpenHandshake(R"({"sid":"a","pingInterval":-1})");
  ASSERT_TRUE(defaults);
  EXPECT_DOUBLE_EQ(defaults->pingInterval, 25.0);
  EXPECT_DOUBLE_EQ(defaults->pingTimeout, 20.0);
}

TEST(PacketCodec, ReadsSocketPackets) {
  struct Case {
    const char* payload;
    bool ok;
    SocketPacketType type;
    const char* nsp;
    std::optional<std::uint64_t> id;
    json data;
  };
  const Case cases[] = {
      {"0", true, SocketPacketType::connect, "/", std::nullopt, nullptr},
      {"1", true, SocketPacketType::disconnect, "/", std::nullopt, nullptr},
      {"2[\"call\",{\"type\":\"offer\"}]", true, SocketPacketType::event, "/", std::nullopt,
       json::array({"call", {{"type", "offer"}}})},
      {"212[\"ask\",1,2]", true, SocketPacketType::event, "/", 12, json::array({"ask", 1, 2})},
      {"37[{\"id\":5}]", true, SocketPacketType::ack, "/", 7, json::array({{{"id", 5}}})},
      {"30", true, SocketPacketType::ack, "/", 0, json::array()},
      {"2/admin,3[\"x\"]", true, SocketPacketType::event, "/admin", 3, json::array({"x"})},
      {"0/admin", true, SocketPacketType::connect, "/admin", std::nullopt, nullptr},
      {"4{\"message\":\"no\"}", true, SocketPacketType::error, "/", std::nullopt, json{{"message", "no"}}},
      // Malformed or unsupported.
      {"", false, {}, "", std::nullopt, nullptr},
      {"9", false, {}, "", std::nullopt, nullptr},
      {"2", false, {}, "", std::nullopt, nullptr},            // an event needs a name
      {"2[1,2]", false, {}, "", std::nullopt, nullptr},       // ... that is a string
      {"2{\"a\":1}", false, {}, "", std::nullopt, nullptr},   // ... in an array
      {"2[\"a\",", false, {}, "", std::nullopt, nullptr},     // broken JSON
      {"3[1]", false, {}, "", std::nullopt, nullptr},         // an ack needs an id
      {"51-[\"a\",{\"_placeholder\":true,\"num\":0}]", false, {}, "", std::nullopt, nullptr},
      {"299999999999999999999999[\"a\"]", false, {}, "", std::nullopt, nullptr},  // id overflows
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.payload);
    const auto packet = decodeSocketPacket(c.payload);
    ASSERT_EQ(packet.has_value(), c.ok);
    if (!packet) continue;
    EXPECT_EQ(packet->type, c.type);
    EXPECT_EQ(packet->nsp, c.nsp);
    EXPECT_EQ(packet->id, c.id);
    EXPECT_EQ(packet->data, c.data);
  }
}

TEST(PacketCodec, EncodesEventsAndAcks) {
  EXPECT_EQ(encodeEvent("call", json::array({{{"type", "offer"}}}), std::nullopt),
            R"(42["call",{"type":"offer"}])");
  EXPECT_EQ(encodeEvent("getUserDevices", json::array({{{"userNumber", "4711"}}}), 0),
            R"(420["getUserDevices",{"userNumber":"4711"}])");
  EXPECT_EQ(encodeEvent("ping", json::array(), 15), R"(4215["ping"])");
  EXPECT_EQ(encodeAck(3, json::array({"ok", 2})), R"(433["ok",2])");
  EXPECT_EQ(encodeAck(4, json::array()), R"(434[])");
  EXPECT_EQ(encodeSocketPacket(SocketPacket{SocketPacketType::disconnect, "/", std::nullopt, nullptr}), "41");
}

TEST(PacketCodec, UnicodeAndControlCharactersSurviveARoundTrip) {
  const json args = json::array({"Grüße 👋🏽 日本語", "line\nbreak \"quoted\" \u2028", json{{"ключ", "значение"}}});
  const std::string text = encodeEvent("echo", args, 9);
  const auto engine = decodeEnginePacket(text);
  ASSERT_TRUE(engine);
  const auto packet = decodeSocketPacket(engine->payload);
  ASSERT_TRUE(packet);
  EXPECT_EQ(packet->id, 9u);
  json expected = json::array({"echo"});
  for (const auto& arg : args) expected.push_back(arg);
  EXPECT_EQ(packet->data, expected);
}

TEST(PacketCodec, InvalidUtf8FromACallerIsReplacedNotThrown) {
  const std::string bad = "caf\xC3";  // cut in the middle of "é"
  std::string text;
  EXPECT_NO_THROW(text = encodeEvent("call", json::array({bad}), std::nullopt));
  EXPECT_TRUE(decodeSocketPacket(decodeEnginePacket(text)->payload));
}

}  // namespace
}  // namespace orvik::socketio
