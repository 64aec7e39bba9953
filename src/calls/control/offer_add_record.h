// The add-record an outgoing offer carries: what the call server needs to
// wake and ring the callee's devices with a push notification. A wire format
// of four levels; levels 3 and 4 travel as JSON text inside strings.
//
// THREAD-SAFETY: pure functions.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace orvik {

struct OfferAddRecordInputs {
  std::string deviceToken;  // the callee's push device token
  std::string myUserNumber;
  std::string myDeviceUdid;
  std::string remoteUserNumber;
  std::string myDisplayName;  // empty: the user number stands in
  std::string myAvatarURL;
  bool isAudio = false;
  std::string pushId;  // "rabbit_" + an upper-case UUID, see makeOfferPushId
  std::int64_t nowMs = 0;
};

// A fresh random (version 4) UUID in its 36-character upper-case text form.
std::string makeUpperCaseUUID();

// "rabbit_" followed by a fresh random UUID in upper case (43 characters).
std::string makeOfferPushId();

// The level-1 record (17 keys; the offer sender adds "callerOffer").
nlohmann::json buildOfferAddRecord(const OfferAddRecordInputs& inputs);

// The device token of a "getUserDevices" device record: a non-empty string
// under "deviceToken", else nothing.
std::optional<std::string> deviceTokenOf(const std::optional<nlohmann::json>& deviceRecord);

}  // namespace orvik
