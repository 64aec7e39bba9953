// The ICE configuration of the "getToken" event: its STUN/TURN servers with
// short-lived credentials and the transport policy, in the shapes the call
// server sends (an object or its JSON text, possibly wrapped in "token").
// Pure functions apart from log lines; safe from any thread.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "calls/signaling/call_model.h"

namespace orvik {

// Where the signalling code writes its log lines; `nativeLog` in the program.
using SignalingLog = std::function<void(std::string_view line)>;
// The program's common log path.
SignalingLog defaultSignalingLog();

struct ICEConfig {
  std::vector<ICEServer> servers;
  std::string transportPolicy;  // "all" unless the server names one
};

// Nothing when the payload is unusable (not an object, bad JSON, no
// "iceServers" list); entries without addresses are dropped and logged.
std::optional<ICEConfig> parseICEConfig(const nlohmann::json& payload, const SignalingLog& log = defaultSignalingLog());

std::optional<ICEServer> parseICEServerEntry(const nlohmann::json& entry, const SignalingLog& log = defaultSignalingLog());

// "stun:a turn:b(creds) turns:c(NO creds)": TURN addresses tell whether their
// server has both a user name and a credential.
std::string describeICEServers(const std::vector<ICEServer>& servers);

// Whether any address starts with "turn:" or "turns:".
bool hasTurnServer(const std::vector<ICEServer>& servers);

}  // namespace orvik
