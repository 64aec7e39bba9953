#include "platform/json_limits.h"

#include <cmath>
#include <limits>

namespace orvik::platform {

std::size_t jsonNestingDepth(std::string_view text, std::size_t limit) {
  std::size_t depth = 0;
  std::size_t deepest = 0;
  bool inString = false;
  bool escaped = false;
  for (const char c : text) {
    if (inString) {
      if (escaped) {
        escaped = false;
      } else if (c == '\\') {
        escaped = true;
      } else if (c == '"') {
        inString = false;
      }
      continue;
    }
    switch (c) {
      case '"':
        inString = true;
        break;
      case '[':
      case '{':
        if (++depth > deepest) {
          deepest = depth;
          if (deepest > limit) return limit + 1;
        }
        break;
      case ']':
      case '}':
        if (depth > 0) --depth;
        break;
      default:
        break;
    }
  }
  return deepest;
}

std::optional<nlohmann::json> parseOutsideJson(std::string_view text, std::size_t maxBytes) {
  if (text.size() > maxBytes || jsonNestingDepth(text) > kMaxJsonDepth) return std::nullopt;
  nlohmann::json parsed = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (parsed.is_discarded()) return std::nullopt;
  return parsed;
}

bool isNestedDeeperThan(const nlohmann::json& value, std::size_t limit) {
  if (!value.is_structured()) return false;
  if (limit == 0) return true;
  for (const auto& item : value) {
    if (isNestedDeeperThan(item, limit - 1)) return true;
  }
  return false;
}

std::string describeJson(const nlohmann::json& value) {
  if (isNestedDeeperThan(value)) return "<nested too deeply>";
  return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::optional<std::int64_t> jsonInteger(const nlohmann::json& value) {
  if (value.is_number_unsigned()) {
    const auto number = value.get<std::uint64_t>();
    if (number > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return std::nullopt;
    return static_cast<std::int64_t>(number);
  }
  if (value.is_number_integer()) return value.get<std::int64_t>();
  return std::nullopt;
}

std::optional<std::int64_t> jsonIntegerPart(const nlohmann::json& value) {
  if (!value.is_number_float()) return jsonInteger(value);
  const double number = std::trunc(value.get<double>());
  // -2^63 is exact in a double; 2^63 is the first value past the range.
  constexpr double kLimit = 9223372036854775808.0;
  if (!std::isfinite(number) || number < -kLimit || number >= kLimit) return std::nullopt;
  return static_cast<std::int64_t>(number);
}

}  // namespace orvik::platform
