// Limits on what JSON from outside (the call server, the page, files a user
// or another program can edit) can make us do. nlohmann's parser is iterative,
// but copying, comparing and printing a value recurse once per level, so a
// value nested a few tens of thousands deep overflows the stack wherever it is
// walked. Outside text is therefore refused before parsing when it nests
// deeper than `kMaxJsonDepth` or is longer than the caller allows, and log
// lines print values through `describeJson`, which stops at that depth too.
//
// Numbers: a JSON integer may not fit 64 bits (nlohmann then holds it as a
// double) and an unsigned one may not fit a signed 64-bit integer; casting
// either is undefined or wrong. The integer reads here answer nothing then.
//
// THREAD-SAFETY: pure functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace orvik::platform {

// Deeper than any message of the service or the page; shallow enough that
// walking it takes a few kilobytes of stack on any thread.
inline constexpr std::size_t kMaxJsonDepth = 64;

// The deepest nesting of arrays and objects in `text`, counted outside
// strings; the scan stops once it passes `limit` and answers limit + 1.
std::size_t jsonNestingDepth(std::string_view text, std::size_t limit = kMaxJsonDepth);

// `text` parsed, or nothing when it is not JSON, is longer than `maxBytes` or
// nests deeper than `kMaxJsonDepth`. Never throws.
std::optional<nlohmann::json> parseOutsideJson(std::string_view text, std::size_t maxBytes);

// Whether a parsed value nests deeper than `limit` (the walk itself goes no
// deeper than that).
bool isNestedDeeperThan(const nlohmann::json& value, std::size_t limit = kMaxJsonDepth);

// Compact JSON for a log line: invalid UTF-8 replaced, and a value nested
// deeper than `kMaxJsonDepth` shown as "<nested too deeply>" instead.
std::string describeJson(const nlohmann::json& value);

// A JSON integer that fits a signed 64-bit integer; nothing for any other
// value (floating-point numbers included).
std::optional<std::int64_t> jsonInteger(const nlohmann::json& value);
// The same, and also a finite floating-point number's integer part when that
// fits; nothing for anything else.
std::optional<std::int64_t> jsonIntegerPart(const nlohmann::json& value);

}  // namespace orvik::platform
