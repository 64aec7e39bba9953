#include "calls/signaling/ice_config.h"

#include "core/native_logger.h"
#include "platform/json_limits.h"

namespace orvik {
namespace {

bool isTurnAddress(const std::string& url) { return url.rfind("turn:", 0) == 0 || url.rfind("turns:", 0) == 0; }

std::string sortedKeys(const nlohmann::json& object) {
  nlohmann::json keys = nlohmann::json::array();
  for (const auto& item : object.items()) keys.push_back(item.key());  // objects iterate in key order
  return keys.dump();
}

std::optional<std::vector<std::string>> stringList(const nlohmann::json& value) {
  if (!value.is_array()) return std::nullopt;
  std::vector<std::string> out;
  for (const auto& item : value) {
    if (!item.is_string()) return std::nullopt;
    out.push_back(item.get<std::string>());
  }
  return out;
}

std::optional<std::vector<std::string>> addresses(const nlohmann::json& entry, const char* key) {
  const auto found = entry.find(key);
  if (found == entry.end()) return std::nullopt;
  if (auto list = stringList(*found)) return list;
  if (found->is_string()) return std::vector<std::string>{found->get<std::string>()};
  return std::nullopt;
}

std::string stringOrEmpty(const nlohmann::json& entry, const char* key) {
  const auto found = entry.find(key);
  return found != entry.end() && found->is_string() ? found->get<std::string>() : std::string();
}

}  // namespace

SignalingLog defaultSignalingLog() {
  return [](std::string_view line) { nativeLog(line); };
}

std::optional<ICEServer> parseICEServerEntry(const nlohmann::json& entry, const SignalingLog& log) {
  if (!entry.is_object()) return std::nullopt;
  auto urls = addresses(entry, "urls");
  if (!urls) urls = addresses(entry, "url");
  if (!urls) {
    log("[ICEConfig] dropped ICE server entry with no urls/url — keys=" + sortedKeys(entry));
    return std::nullopt;
  }
  return ICEServer{std::move(*urls), stringOrEmpty(entry, "username"), stringOrEmpty(entry, "credential")};
}

std::optional<ICEConfig> parseICEConfig(const nlohmann::json& payload, const SignalingLog& log) {
  nlohmann::json object;
  if (payload.is_object()) {
    object = payload;
  } else if (payload.is_string()) {
    const auto& text = payload.get_ref<const std::string&>();
    auto parsed = platform::parseOutsideJson(text, text.size());
    if (!parsed || !parsed->is_object()) return std::nullopt;
    object = std::move(*parsed);
  } else {
    return std::nullopt;
  }
  if (const auto token = object.find("token"); token != object.end() && token->is_object()) {
    nlohmann::json inner = *token;
    object = std::move(inner);
  }
  const auto list = object.find("iceServers");
  if (list == object.end() || !list->is_array()) return std::nullopt;
  for (const auto& entry : *list) {
    if (!entry.is_object()) return std::nullopt;  // a list of dictionaries or nothing
  }
  ICEConfig config;
  const auto policy = object.find("iceTransportPolicy");
  config.transportPolicy = policy != object.end() && policy->is_string() ? policy->get<std::string>() : "all";

  std::size_t index = 0;
  for (const auto& entry : *list) {
    auto urls = entry.find("urls");
    if (urls == entry.end()) urls = entry.find("url");
    log("[ICEConfig] entry " + std::to_string(index++) + ": keys=" + sortedKeys(entry) +
        " urls=" + (urls == entry.end() ? std::string("-") : platform::describeJson(*urls)));
    if (auto server = parseICEServerEntry(entry, log)) config.servers.push_back(std::move(*server));
  }
  log("[ICEConfig] " + std::to_string(list->size()) + " received → " + std::to_string(config.servers.size()) +
      " usable, policy=" + config.transportPolicy + " | " + describeICEServers(config.servers));
  return config;
}

std::string describeICEServers(const std::vector<ICEServer>& servers) {
  std::string out;
  for (const auto& server : servers) {
    for (const auto& url : server.urls) {
      if (!out.empty()) out += ' ';
      out += url;
      if (isTurnAddress(url)) {
        out += !server.username.empty() && !server.credential.empty() ? "(creds)" : "(NO creds)";
      }
    }
  }
  return out;
}

bool hasTurnServer(const std::vector<ICEServer>& servers) {
  for (const auto& server : servers) {
    for (const auto& url : server.urls) {
      if (isTurnAddress(url)) return true;
    }
  }
  return false;
}

}  // namespace orvik
