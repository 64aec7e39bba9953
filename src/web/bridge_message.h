// One page message as the web host hands it on: the handler it was posted
// to, what the page posted, and where it came from. The origin facts come
// from the envelope our isolated-world script builds from its own location,
// never from fields the page can set.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace orvik {

struct BridgeMessage {
  std::string handler;  // "nativeApp" or "logger"
  nlohmann::json body;  // what the page posted (a string, an object or anything else)
  std::string origin;   // the sender's location.origin, "https://host:port"
  std::string href;     // the sender's location.href
  // The sender's origin split up; the port is 0 when the origin names none
  // (the scheme's default), as a security origin reports it.
  std::string protocol;
  std::string host;
  int port = 0;
  bool isMainFrame = false;
  // The top document passed the pin test (or its host is not pinned).
  bool documentVerified = false;
};

// Transfers post their chunks as messages; anything far larger is no message
// of the web application.
inline constexpr std::size_t kMaxBridgeMessageBytes = 256 * 1024 * 1024;

// The message in the envelope our isolated-world forwarder posts, given as
// JSON text ({"body", "top", "origin"}): nothing when the text is not an
// object, is longer than `kMaxBridgeMessageBytes` or nests deeper than any
// message does (platform::kMaxJsonDepth). `documentVerified` stays false:
// only the host knows it.
std::optional<BridgeMessage> bridgeMessageFromEnvelope(std::string handler, std::string_view envelope);

}  // namespace orvik
