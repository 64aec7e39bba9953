#include "calls/signaling/call_event_parsers.h"

#include <limits>

#include "platform/json_limits.h"

namespace orvik {

using nlohmann::json;

std::optional<json> parseJSONObject(const json& value) {
  if (value.is_object()) return value;
  if (!value.is_string()) return std::nullopt;
  // Text inside a frame may hold JSON nested deeper than the frame itself.
  const auto& text = value.get_ref<const std::string&>();
  auto parsed = platform::parseOutsideJson(text, text.size());
  if (!parsed || !parsed->is_object()) return std::nullopt;
  return parsed;
}

std::optional<SDPPayload> parseSDPPayload(const json& value, const std::optional<std::string>& fallbackDeviceSource) {
  const auto dictionary = parseJSONObject(value);
  if (!dictionary || dictionary->empty()) return std::nullopt;
  const auto type = dictionary->find("type");
  const auto sdp = dictionary->find("sdp");
  if (type == dictionary->end() || !type->is_string() || sdp == dictionary->end() || !sdp->is_string()) {
    return std::nullopt;
  }
  SDPPayload payload{type->get<std::string>(), sdp->get<std::string>(), fallbackDeviceSource};
  if (auto source = dictionary->find("deviceSource"); source != dictionary->end() && source->is_string()) {
    payload.deviceSource = source->get<std::string>();
  }
  return payload;
}

std::optional<std::string> deviceUdidFromAddress(const std::optional<std::string>& address) {
  if (!address) return std::nullopt;
  const auto underscore = address->find('_');
  if (underscore == std::string::npos) return std::nullopt;
  return address->substr(underscore + 1);
}

std::optional<ParsedCandidate> parseCandidate(const json& dictionary) {
  if (!dictionary.is_object()) return std::nullopt;
  const auto line = dictionary.find("candidate");
  if (line == dictionary.end() || !line->is_string()) return std::nullopt;
  ParsedCandidate parsed{line->get<std::string>(), std::nullopt, 0};
  if (auto mid = dictionary.find("sdpMid"); mid != dictionary.end() && mid->is_string()) {
    parsed.sdpMid = mid->get<std::string>();
  }
  if (auto index = dictionary.find("sdpMLineIndex"); index != dictionary.end() && index->is_number_integer()) {
    const auto value = index->get<std::int64_t>();
    if (value < std::numeric_limits<std::int32_t>::min() || value > std::numeric_limits<std::int32_t>::max()) {
      return std::nullopt;
    }
    parsed.sdpMLineIndex = static_cast<std::int32_t>(value);
  }
  return parsed;
}

std::optional<double> pendingRecordAge(const json& serverTime, const json& dateAdded) {
  const auto now = parseServerDate(serverTime);
  const auto added = parseServerDate(dateAdded);
  if (!now || !added) return std::nullopt;
  return std::chrono::duration<double>(*now - *added).count();
}

bool isStalePendingRecord(const std::optional<double>& age) {
  return age && (*age > kPendingCallMaxAge || *age < -kPendingCallMaxAge);
}

bool readFlag(const json& dictionary, const char* key) {
  const auto value = dictionary.find(key);
  if (value == dictionary.end()) return false;
  if (value->is_boolean()) return value->get<bool>();
  return value->is_number_integer() && value->get<std::int64_t>() == 1;
}

bool shouldApplyVideoUpgradeAnswer(bool upgradeOfferOutstanding, const std::optional<std::string>& currentPeerDeviceUdid,
                                   const std::optional<std::string>& answerDeviceUdid) {
  if (!upgradeOfferOutstanding) return false;
  // Without a known peer device there is nothing to hold the answer against.
  if (!currentPeerDeviceUdid || currentPeerDeviceUdid->empty()) return true;
  return answerDeviceUdid == currentPeerDeviceUdid;
}

}  // namespace orvik
