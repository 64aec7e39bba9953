// Typed reads of a page message's payload: the object a page posted, read by
// key with a type check. A missing key, a value of another type, or a payload
// that is not an object all read as absent (none); callers then use their
// stated default or do nothing.
//
// Numbers as flags: a flag is a JSON boolean, or exactly the number 0 or 1.
// Pages written against a bridge whose numbers and booleans share one type
// send 1 and 0 for true and false; any other number is not a flag and reads
// as absent. The reverse never holds: a boolean is not a number.
//
// THREAD-SAFETY: pure functions.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace orvik::platform {

std::optional<std::string> payloadString(const nlohmann::json& payload, std::string_view key);
std::optional<bool> payloadFlag(const nlohmann::json& payload, std::string_view key);
// Any JSON number, integer or not.
std::optional<double> payloadNumber(const nlohmann::json& payload, std::string_view key);
// A JSON integer that fits 64 bits signed (a number with a fraction is not one).
std::optional<std::int64_t> payloadInteger(const nlohmann::json& payload, std::string_view key);
// A JSON object (a dictionary with string keys).
std::optional<nlohmann::json> payloadObject(const nlohmann::json& payload, std::string_view key);
std::optional<nlohmann::json> payloadArray(const nlohmann::json& payload, std::string_view key);

}  // namespace orvik::platform
