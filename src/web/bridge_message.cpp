#include "web/bridge_message.h"

#include <algorithm>

#include <glib.h>

#include "platform/json_limits.h"

namespace orvik {

std::optional<BridgeMessage> bridgeMessageFromEnvelope(std::string handler, std::string_view envelope) {
  auto parsed = platform::parseOutsideJson(envelope, kMaxBridgeMessageBytes);
  if (!parsed || !parsed->is_object()) return std::nullopt;
  BridgeMessage message;
  message.handler = std::move(handler);
  if (const auto body = parsed->find("body"); body != parsed->end()) message.body = std::move(*body);
  const auto top = parsed->find("top");
  message.isMainFrame = top != parsed->end() && top->is_boolean() && top->get<bool>();
  const auto origin = parsed->find("origin");
  if (origin != parsed->end() && origin->is_string()) message.origin = origin->get<std::string>();
  const auto href = parsed->find("href");
  if (href != parsed->end() && href->is_string()) message.href = href->get<std::string>();
  if (GUri* uri = g_uri_parse(message.origin.c_str(), G_URI_FLAGS_NONE, nullptr)) {
    message.protocol = g_uri_get_scheme(uri) ? g_uri_get_scheme(uri) : "";
    message.host = g_uri_get_host(uri) ? g_uri_get_host(uri) : "";
    message.port = std::max(g_uri_get_port(uri), 0);
    g_uri_unref(uri);
  }
  return message;
}

}  // namespace orvik
