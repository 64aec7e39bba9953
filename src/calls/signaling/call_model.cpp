#include "calls/signaling/call_model.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <string_view>

namespace orvik {
namespace {

using TimePoint = std::chrono::system_clock::time_point;

// Server dates are read only between 1970 and 2200: a clock of nanoseconds
// holds about 292 years either side of 1970, so every date inside converts
// without overflow and any two of them can be subtracted. Anything outside
// is an unreadable date, never arithmetic that wraps.
constexpr std::int64_t kLatestSecond = 7258118400;  // 2200-01-01T00:00:00Z

std::optional<TimePoint> fromSecondsAndNanoseconds(std::int64_t seconds, std::int64_t nanoseconds) {
  if (seconds < 0 || seconds >= kLatestSecond || (seconds == 0 && nanoseconds <= 0)) return std::nullopt;
  return TimePoint(std::chrono::duration_cast<TimePoint::duration>(std::chrono::seconds(seconds) +
                                                                   std::chrono::nanoseconds(nanoseconds)));
}

std::optional<TimePoint> fromEpochNumber(double value) {
  if (!std::isfinite(value) || value <= 0) return std::nullopt;
  const double seconds = value > 1e11 ? value / 1000.0 : value;
  if (seconds >= static_cast<double>(kLatestSecond)) return std::nullopt;
  const double whole = std::floor(seconds);
  return fromSecondsAndNanoseconds(static_cast<std::int64_t>(whole),
                                   static_cast<std::int64_t>(std::llround((seconds - whole) * 1e9)));
}

std::optional<double> decimalNumber(const std::string& text) {
  double value = 0;
  const auto* end = text.data() + text.size();
  const auto result = std::from_chars(text.data(), end, value);
  if (result.ec != std::errc() || result.ptr != end || !std::isfinite(value)) return std::nullopt;
  return value;
}

// Reads fixed-width fields of an ISO 8601 text from left to right.
class DateReader {
 public:
  explicit DateReader(std::string_view text) : text_(text) {}

  std::optional<int> digits(std::size_t count) {
    if (text_.size() - position_ < count) return std::nullopt;
    int value = 0;
    for (std::size_t i = 0; i < count; ++i) {
      const char c = text_[position_ + i];
      if (c < '0' || c > '9') return std::nullopt;
      value = value * 10 + (c - '0');
    }
    position_ += count;
    return value;
  }
  bool literal(char expected) {
    if (position_ >= text_.size() || text_[position_] != expected) return false;
    ++position_;
    return true;
  }
  // The digits of a fraction as nanoseconds; digits past the ninth only
  // have to be digits. Nothing when no digit follows.
  std::optional<std::int64_t> fractionNanoseconds() {
    std::int64_t nanoseconds = 0;
    std::size_t count = 0;
    while (position_ < text_.size() && text_[position_] >= '0' && text_[position_] <= '9') {
      if (count < 9) nanoseconds = nanoseconds * 10 + (text_[position_] - '0');
      ++count;
      ++position_;
    }
    if (count == 0) return std::nullopt;
    for (std::size_t i = count; i < 9; ++i) nanoseconds *= 10;
    return nanoseconds;
  }
  bool atEnd() const { return position_ == text_.size(); }

 private:
  std::string_view text_;
  std::size_t position_ = 0;
};

// "YYYY-MM-DDTHH:MM:SS", an optional fraction of any length, then "Z" or
// "+HH:MM" / "-HH:MM".
std::optional<TimePoint> fromInternetDateTime(std::string_view text) {
  DateReader reader(text);
  const auto year = reader.digits(4);
  if (!year || !reader.literal('-')) return std::nullopt;
  const auto month = reader.digits(2);
  if (!month || !reader.literal('-')) return std::nullopt;
  const auto day = reader.digits(2);
  if (!day || !reader.literal('T')) return std::nullopt;
  const auto hour = reader.digits(2);
  if (!hour || !reader.literal(':')) return std::nullopt;
  const auto minute = reader.digits(2);
  if (!minute || !reader.literal(':')) return std::nullopt;
  const auto second = reader.digits(2);
  if (!second) return std::nullopt;
  std::int64_t nanoseconds = 0;
  if (reader.literal('.')) {
    const auto fraction = reader.fractionNanoseconds();
    if (!fraction) return std::nullopt;
    nanoseconds = *fraction;
  }
  int offsetSeconds = 0;
  if (!reader.literal('Z')) {
    int sign = 0;
    if (reader.literal('+')) {
      sign = 1;
    } else if (reader.literal('-')) {
      sign = -1;
    } else {
      return std::nullopt;
    }
    const auto offsetHours = reader.digits(2);
    if (!offsetHours || !reader.literal(':')) return std::nullopt;
    const auto offsetMinutes = reader.digits(2);
    if (!offsetMinutes || *offsetHours > 23 || *offsetMinutes > 59) return std::nullopt;
    offsetSeconds = sign * (*offsetHours * 3600 + *offsetMinutes * 60);
  }
  if (!reader.atEnd()) return std::nullopt;
  const std::chrono::year_month_day date{std::chrono::year(*year), std::chrono::month(static_cast<unsigned>(*month)),
                                         std::chrono::day(static_cast<unsigned>(*day))};
  if (!date.ok() || *hour > 23 || *minute > 59 || *second > 60) return std::nullopt;
  // Years 0000-9999 span under 400,000 days: whole seconds fit easily.
  const std::int64_t days = std::chrono::sys_days(date).time_since_epoch().count();
  const std::int64_t seconds = days * 86400 + *hour * 3600 + *minute * 60 + *second - offsetSeconds;
  return fromSecondsAndNanoseconds(seconds, nanoseconds);
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
