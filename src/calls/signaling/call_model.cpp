#include "calls/signaling/call_model.h"

#include <charconv>
#include <cmath>
#include <regex>

namespace orvik {
namespace {

using TimePoint = std::chrono::system_clock::time_point;

std::optional<TimePoint> fromEpochNumber(double value) {
  if (!std::isfinite(value) || value <= 0) return std::nullopt;
  const double seconds = value > 1e11 ? value / 1000.0 : value;
  if (seconds > 1e13) return std::nullopt;  // beyond any date a server sends; keeps the cast defined
  return TimePoint(std::chrono::duration_cast<TimePoint::duration>(std::chrono::duration<double>(seconds)));
}

std::optional<double> decimalNumber(const std::string& text) {
  double value = 0;
  const auto* end = text.data() + text.size();
  const auto result = std::from_chars(text.data(), end, value);
  if (result.ec != std::errc() || result.ptr != end || !std::isfinite(value)) return std::nullopt;
  return value;
}

std::optional<TimePoint> fromInternetDateTime(const std::string& text) {
  static const std::regex pattern(
      R"(^(\d{4})-(\d{2})-(\d{2})T(\d{2}):(\d{2}):(\d{2})(\.\d+)?(Z|[+-]\d{2}:\d{2})$)");
  std::smatch match;
  if (!std::regex_match(text, match, pattern)) return std::nullopt;
  auto number = [&match](int index) { return std::stoi(match[index].str()); };
  const std::chrono::year_month_day date{std::chrono::year(number(1)), std::chrono::month(unsigned(number(2))),
                                         std::chrono::day(unsigned(number(3)))};
  const int hour = number(4), minute = number(5), second = number(6);
  if (!date.ok() || hour > 23 || minute > 59 || second > 60) return std::nullopt;
  auto time = std::chrono::sys_days(date) + std::chrono::hours(hour) + std::chrono::minutes(minute) +
              std::chrono::seconds(second);
  TimePoint result = std::chrono::time_point_cast<TimePoint::duration>(time);
  if (match[7].matched) {
    const double fraction = std::stod("0" + match[7].str());
    result += std::chrono::duration_cast<TimePoint::duration>(std::chrono::duration<double>(fraction));
  }
  const std::string zone = match[8].str();
  if (zone != "Z") {
    const int offsetHours = std::stoi(zone.substr(1, 2));
    const int offsetMinutes = std::stoi(zone.substr(4, 2));
    if (offsetHours > 23 || offsetMinutes > 59) return std::nullopt;
    const auto offset = std::chrono::hours(offsetHours) + std::chrono::minutes(offsetMinutes);
    result += zone[0] == '+' ? -offset : offset;
  }
  return result;
}

}  // namespace

bool CallState::isInCall() const {
  return kind_ == Kind::ringing || kind_ == Kind::calling || kind_ == Kind::connecting || kind_ == Kind::connected;
}

nlohmann::json OutgoingCallMessage::dictionary() const {
  nlohmann::json payload = {{"type", type}, {"to", to}, {"from", from}};
  if (sdpObject) {
    payload["sdp"] = *sdpObject;
  } else if (sdp) {
    payload["sdp"] = *sdp;
  }
  if (isAudio) payload["isAudio"] = *isAudio;
  if (isFreeUser) payload["isFreeUser"] = *isFreeUser;
  if (pushId) payload["pushId"] = *pushId;
  if (addRecord) payload["addRecord"] = *addRecord;
  if (candidate) payload["candidate"] = *candidate;
  if (deviceSource) payload["deviceSource"] = *deviceSource;
  if (advertisesIceRestart) payload["iceRestartV1"] = true;
  if (iceRestartAttempt) payload["iceRestartAttempt"] = *iceRestartAttempt;
  return payload;
}

std::optional<std::chrono::system_clock::time_point> parseServerDate(const nlohmann::json& value) {
  if (value.is_number()) return fromEpochNumber(value.get<double>());
  if (!value.is_string()) return std::nullopt;
  const auto& text = value.get_ref<const std::string&>();
  if (text.empty()) return std::nullopt;
  if (const auto number = decimalNumber(text)) return fromEpochNumber(*number);
  return fromInternetDateTime(text);
}

}  // namespace orvik
