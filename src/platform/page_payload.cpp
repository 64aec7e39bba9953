#include "platform/page_payload.h"

#include "platform/json_limits.h"

namespace orvik::platform {
namespace {

const nlohmann::json* valueAt(const nlohmann::json& payload, std::string_view key) {
  if (!payload.is_object()) return nullptr;
  const auto found = payload.find(key);
  return found == payload.end() ? nullptr : &*found;
}

}  // namespace

std::optional<std::string> payloadString(const nlohmann::json& payload, std::string_view key) {
  const auto* value = valueAt(payload, key);
  if (!value || !value->is_string()) return std::nullopt;
  return value->get<std::string>();
}

std::optional<bool> payloadFlag(const nlohmann::json& payload, std::string_view key) {
  const auto* value = valueAt(payload, key);
  if (!value) return std::nullopt;
  if (value->is_boolean()) return value->get<bool>();
  if (value->is_number()) {
    const double number = value->get<double>();
    if (number == 0.0) return false;
    if (number == 1.0) return true;
  }
  return std::nullopt;
}

std::optional<double> payloadNumber(const nlohmann::json& payload, std::string_view key) {
  const auto* value = valueAt(payload, key);
  if (!value || !value->is_number()) return std::nullopt;
  return value->get<double>();
}

std::optional<std::int64_t> payloadInteger(const nlohmann::json& payload, std::string_view key) {
  const auto* value = valueAt(payload, key);
  if (!value) return std::nullopt;
  return jsonInteger(*value);
}

std::optional<nlohmann::json> payloadObject(const nlohmann::json& payload, std::string_view key) {
  const auto* value = valueAt(payload, key);
  if (!value || !value->is_object()) return std::nullopt;
  return *value;
}

std::optional<nlohmann::json> payloadArray(const nlohmann::json& payload, std::string_view key) {
  const auto* value = valueAt(payload, key);
  if (!value || !value->is_array()) return std::nullopt;
  return *value;
}

}  // namespace orvik::platform
