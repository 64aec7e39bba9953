// The Socket.IO 2.x wire format (Engine.IO 3 over WebSocket), as pure
// functions: one WebSocket text message is one Engine.IO packet, and an
// Engine.IO "message" packet carries one Socket.IO packet.
//
//   "0{...}"      open (session id, ping interval and time-out)
//   "2" / "3"     ping / pong
//   "40"          default namespace connected
//   "41"          default namespace disconnected by the other side
//   "42[...]"     event: name and arguments, optionally "42<id>[...]" asking for an ack
//   "43<id>[...]" acknowledgement of our event <id>
//   "44{...}"     error
//
// Binary attachments are not used by the call server and are rejected, and so
// is a frame longer than `kMaxFrameBytes` or whose JSON nests deeper than
// platform::kMaxJsonDepth: one such frame must not be able to exhaust the
// stack or the memory of whatever walks it later.
// No state, no I/O: safe from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace orvik::socketio {

// Call frames of a few hundred KiB are normal (descriptions with many
// candidates); far larger ones are no frame of the call server.
inline constexpr std::size_t kMaxFrameBytes = 64 * 1024 * 1024;

enum class EnginePacketType { open = 0, close = 1, ping = 2, pong = 3, message = 4, upgrade = 5, noop = 6 };

enum class SocketPacketType { connect = 0, disconnect = 1, event = 2, ack = 3, error = 4, binaryEvent = 5, binaryAck = 6 };

struct EnginePacket {
  EnginePacketType type = EnginePacketType::noop;
  std::string payload;  // everything after the type digit
};

struct OpenHandshake {
  std::string sid;
  double pingInterval = 25.0;  // seconds
  double pingTimeout = 20.0;   // seconds
};

struct SocketPacket {
  SocketPacketType type = SocketPacketType::event;
  std::string nsp = "/";
  std::optional<std::uint64_t> id;       // ack id, when one is given
  nlohmann::json data;                   // array for event and ack; object or absent otherwise
};

std::optional<EnginePacket> decodeEnginePacket(std::string_view text);
std::string encodeEnginePacket(EnginePacketType type, std::string_view payload = {});

// The open packet's JSON; nothing when it is not an object with a "sid".
std::optional<OpenHandshake> parseOpenHandshake(std::string_view payload);

// A Socket.IO packet from the payload of an Engine.IO message packet. Nothing
// for malformed text, for binary packets and for event packets whose data is
// not an array starting with an event name.
std::optional<SocketPacket> decodeSocketPacket(std::string_view payload);

// The full WebSocket text (Engine.IO message prefix included) of a packet.
std::string encodeSocketPacket(const SocketPacket& packet);

// Shorthands for the packets the client sends.
std::string encodeEvent(const std::string& name, const nlohmann::json& args, std::optional<std::uint64_t> ackId);
std::string encodeAck(std::uint64_t ackId, const nlohmann::json& args);

}  // namespace orvik::socketio
