#include "calls/signaling/socketio/packet_codec.h"

#include <charconv>

#include "platform/json_limits.h"

namespace orvik::socketio {
namespace {

std::string dumpJson(const nlohmann::json& value) {
  // Invalid UTF-8 from a caller must not throw on the way out.
  return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::optional<EnginePacket> decodeEnginePacket(std::string_view text) {
  if (text.empty() || text.size() > kMaxFrameBytes || !isDigit(text[0])) return std::nullopt;
  const int type = text[0] - '0';
  if (type > static_cast<int>(EnginePacketType::noop)) return std::nullopt;
  return EnginePacket{static_cast<EnginePacketType>(type), std::string(text.substr(1))};
}

std::string encodeEnginePacket(EnginePacketType type, std::string_view payload) {
  std::string out(1, static_cast<char>('0' + static_cast<int>(type)));
  out.append(payload);
  return out;
}

std::optional<OpenHandshake> parseOpenHandshake(std::string_view payload) {
  const auto parsed = platform::parseOutsideJson(payload, kMaxFrameBytes);
  if (!parsed || !parsed->is_object()) return std::nullopt;
  const auto& json = *parsed;
  const auto sid = json.find("sid");
  if (sid == json.end() || !sid->is_string()) return std::nullopt;
  OpenHandshake open;
  open.sid = sid->get<std::string>();
  const auto interval = json.find("pingInterval");
  if (interval != json.end() && interval->is_number() && interval->get<double>() > 0) {
    open.pingInterval = interval->get<double>() / 1000.0;
  }
  const auto timeout = json.find("pingTimeout");
  if (timeout != json.end() && timeout->is_number() && timeout->get<double>() > 0) {
    open.pingTimeout = timeout->get<double>() / 1000.0;
  }
  return open;
}

std::optional<SocketPacket> decodeSocketPacket(std::string_view payload) {
  if (payload.empty() || payload.size() > kMaxFrameBytes || !isDigit(payload[0])) return std::nullopt;
  const int type = payload[0] - '0';
  if (type > static_cast<int>(SocketPacketType::binaryAck)) return std::nullopt;
  SocketPacket packet;
  packet.type = static_cast<SocketPacketType>(type);
  if (packet.type == SocketPacketType::binaryEvent || packet.type == SocketPacketType::binaryAck) {
    return std::nullopt;
  }
  std::size_t pos = 1;
  if (pos < payload.size() && payload[pos] == '/') {
    const auto comma = payload.find(',', pos);
    const auto end = comma == std::string_view::npos ? payload.size() : comma;
    packet.nsp = std::string(payload.substr(pos, end - pos));
    pos = comma == std::string_view::npos ? payload.size() : comma + 1;
  }
  std::size_t idEnd = pos;
  while (idEnd < payload.size() && isDigit(payload[idEnd])) ++idEnd;
  if (idEnd > pos) {
    std::uint64_t id = 0;
    const auto result = std::from_chars(payload.data() + pos, payload.data() + idEnd, id);
    if (result.ec != std::errc()) return std::nullopt;
    packet.id = id;
    pos = idEnd;
  }
  if (pos < payload.size()) {
    auto data = platform::parseOutsideJson(payload.substr(pos), kMaxFrameBytes);
    if (!data) return std::nullopt;
    packet.data = std::move(*data);
  }
  switch (packet.type) {
    case SocketPacketType::event:
      if (!packet.data.is_array() || packet.data.empty() || !packet.data[0].is_string()) return std::nullopt;
      break;
    case SocketPacketType::ack:
      if (!packet.id) return std::nullopt;
      if (packet.data.is_null()) packet.data = nlohmann::json::array();
      if (!packet.data.is_array()) return std::nullopt;
      break;
    default:
      break;
  }
  return packet;
}

std::string encodeSocketPacket(const SocketPacket& packet) {
  std::string out = encodeEnginePacket(EnginePacketType::message);
  out.push_back(static_cast<char>('0' + static_cast<int>(packet.type)));
  if (!packet.nsp.empty() && packet.nsp != "/") {
    out.append(packet.nsp);
    out.push_back(',');
  }
  if (packet.id) out.append(std::to_string(*packet.id));
  if (!packet.data.is_null()) out.append(dumpJson(packet.data));
  return out;
}

std::string encodeEvent(const std::string& name, const nlohmann::json& args, std::optional<std::uint64_t> ackId) {
  SocketPacket packet;
  packet.type = SocketPacketType::event;
  packet.id = ackId;
  packet.data = nlohmann::json::array({name});
  if (args.is_array()) {
    for (const auto& arg : args) packet.data.push_back(arg);
  } else if (!args.is_null()) {
    packet.data.push_back(args);
  }
  return encodeSocketPacket(packet);
}

std::string encodeAck(std::uint64_t ackId, const nlohmann::json& args) {
  SocketPacket packet;
  packet.type = SocketPacketType::ack;
  packet.id = ackId;
  packet.data = args.is_array() ? args : nlohmann::json::array({args});
  return encodeSocketPacket(packet);
}

}  // namespace orvik::socketio
