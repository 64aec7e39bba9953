// A page message as the web host hands on one from the trusted, verified top
// document of the web application; for the tests of whoever routes messages.
#pragma once

#include <string>
#include <utility>

#include <nlohmann/json.hpp>

#include "web/bridge_message.h"

namespace orvik::testing {

inline BridgeMessage trustedBridgeMessage(std::string handler, nlohmann::json body) {
  BridgeMessage message;
  message.handler = std::move(handler);
  message.body = std::move(body);
  message.origin = "https://app.orvik.test:8443";
  message.protocol = "https";
  message.host = "app.orvik.test";
  message.port = 8443;
  message.isMainFrame = true;
  message.documentVerified = true;
  return message;
}

}  // namespace orvik::testing
