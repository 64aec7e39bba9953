// Engine.IO and Socket.IO packets as the call server's WebSocket delivers
// them: decoding never fails hard, and an event or ack packet that decodes
// encodes back to one that decodes the same.
#include <cstdint>

#include "calls/signaling/socketio/packet_codec.h"
#include "fuzz_support.h"

using namespace orvik::socketio;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input = orvik::fuzz::text(data, size);
  (void)parseOpenHandshake(input);
  (void)decodeSocketPacket(input);
  const auto engine = decodeEnginePacket(input);
  if (!engine) return 0;
  orvik::fuzz::check(encodeEnginePacket(engine->type, engine->payload) == input, "engine packet round trip");
  if (engine->type == EnginePacketType::open) (void)parseOpenHandshake(engine->payload);
  if (engine->type != EnginePacketType::message) return 0;
  const auto packet = decodeSocketPacket(engine->payload);
  // Only events and acks always carry an array, so only they encode without
  // ambiguity between an ack id and data that is a number.
  if (!packet || (packet->type != SocketPacketType::event && packet->type != SocketPacketType::ack)) return 0;
  const auto again = decodeEnginePacket(encodeSocketPacket(*packet));
  orvik::fuzz::check(again && again->type == EnginePacketType::message, "encoded packet is a message");
  const auto decoded = decodeSocketPacket(again->payload);
  orvik::fuzz::check(decoded && decoded->type == packet->type && decoded->id == packet->id &&
                         decoded->nsp == packet->nsp && decoded->data == packet->data,
                     "socket packet round trip");
  return 0;
}
