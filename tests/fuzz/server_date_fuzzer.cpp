// Server timestamps in every form: any text or number gives an instant
// between 1970 and 2200 or none, never an exception or an overflow, and two
// of them always subtract.
#include <chrono>
#include <cstdint>
#include <cstring>

#include "calls/signaling/call_event_parsers.h"
#include "calls/signaling/call_model.h"
#include "fuzz_support.h"

using namespace orvik;
using nlohmann::json;

namespace {

std::optional<std::chrono::system_clock::time_point> checked(const json& value) {
  const auto date = parseServerDate(value);
  if (date) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(date->time_since_epoch()).count();
    fuzz::check(seconds >= 0 && seconds < 7258118400, "date inside 1970-2200");
  }
  return date;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input = fuzz::text(data, size);
  checked(json(std::string(input)));
  const json parsed = json::parse(input, nullptr, false);
  if (!parsed.is_discarded()) checked(parsed);
  if (size >= sizeof(double)) {
    double number = 0;
    std::memcpy(&number, data, sizeof number);
    checked(json(number));
  }
  // Two dates from the two halves, as "currentTime" and "dateAdded".
  const std::size_t half = size / 2;
  const json now(std::string(input.substr(0, half)));
  const json added(std::string(input.substr(half)));
  (void)isStalePendingRecord(pendingRecordAge(now, added));
  return 0;
}
