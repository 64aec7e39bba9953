// The payloads of "call", "getPendingCall" and "getToken" events: the parsers
// take any JSON value (and any text, which several read as JSON) and answer
// something sane.
#include <cstdint>

#include "calls/signaling/call_event_parsers.h"
#include "calls/signaling/call_model.h"
#include "calls/signaling/ice_config.h"
#include "fuzz_support.h"
#include "platform/json_limits.h"

using namespace orvik;
using nlohmann::json;

namespace {

void parseAll(const json& value) {
  (void)parseJSONObject(value);
  (void)parseSDPPayload(value, std::string("desktop"));
  (void)parseCandidate(value);
  (void)parseServerDate(value);
  std::size_t lines = 0;
  const SignalingLog log = [&lines](std::string_view) { ++lines; };
  if (const auto config = parseICEConfig(value, log)) {
    (void)describeICEServers(config->servers);
    (void)hasTurnServer(config->servers);
  }
  if (value.is_object()) {
    (void)readFlag(value, "isAudio");
    (void)parseICEServerEntry(value, log);
    const auto age = pendingRecordAge(value.value("currentTime", json()), value.value("dateAdded", json()));
    (void)isStalePendingRecord(age);
    if (const auto from = value.find("from"); from != value.end() && from->is_string()) {
      (void)deviceUdidFromAddress(from->get<std::string>());
    }
    (void)platform::describeJson(value);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input = fuzz::text(data, size);
  // The text itself, as a string field of a frame carries it.
  parseAll(json(std::string(input)));
  if (const auto value = platform::parseOutsideJson(input, input.size())) {
    parseAll(*value);
    if (value->is_array()) {
      for (const auto& item : *value) parseAll(item);
    }
  }
  return 0;
}
