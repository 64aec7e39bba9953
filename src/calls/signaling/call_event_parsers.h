// Readers of what the call server delivers: session descriptions, ICE
// candidates, device identifiers in addresses, dictionaries that may arrive
// as JSON text, and the age of a pending-call record. Pure functions.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "calls/signaling/call_model.h"

namespace orvik {

// A session description given as an object or as the JSON text of one, with
// "type" and "sdp" texts and an optional "deviceSource" (else `fallbackDeviceSource`).
std::optional<SDPPayload> parseSDPPayload(const nlohmann::json& value,
                                          const std::optional<std::string>& fallbackDeviceSource = std::nullopt);

// The device identifier of "user_device" ("4711_ab_cd" → "ab_cd", "4711_" → "");
// nothing without an underscore.
std::optional<std::string> deviceUdidFromAddress(const std::optional<std::string>& address);

struct ParsedCandidate {
  std::string candidate;
  std::optional<std::string> sdpMid;
  std::int32_t sdpMLineIndex = 0;
};

// Nothing when "candidate" is missing or not a text, or when the index does
// not fit a signed 32-bit value.
std::optional<ParsedCandidate> parseCandidate(const nlohmann::json& dictionary);

// An object as it is, or the object a JSON text holds; nothing otherwise.
std::optional<nlohmann::json> parseJSONObject(const nlohmann::json& value);

// Seconds between the record's `dateAdded` and the server's `currentTime`
// (negative when the record is dated after it); nothing when either cannot
// be read.
std::optional<double> pendingRecordAge(const nlohmann::json& serverTime, const nlohmann::json& dateAdded);

// A pending-call record is stale when its age is known and further than the
// freshness window of 75 s from the server's time, either way: older, or
// dated that far into the future. A server clock a little ahead of the one
// that dated the record keeps the record usable. An unknown age counts as
// fresh.
bool isStalePendingRecord(const std::optional<double>& age);
inline constexpr double kPendingCallMaxAge = 75.0;

// Booleans the call server writes as true/false or 1/0: true only for true
// and the integer 1.
bool readFlag(const nlohmann::json& dictionary, const char* key);

// A video-upgrade answer is applied only while our own upgrade offer waits
// for it and when it comes from the device we are in the call with; a stray
// or late answer would fail to apply and end a healthy call.
bool shouldApplyVideoUpgradeAnswer(bool upgradeOfferOutstanding, const std::optional<std::string>& currentPeerDeviceUdid,
                                   const std::optional<std::string>& answerDeviceUdid);

}  // namespace orvik
