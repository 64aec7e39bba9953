// Opus tuning of a session description WebRTC produced from a remote one:
// any text, however malformed its lines, is handled.
#include <cstdint>

#include "calls/media/sdp_tuning.h"
#include "fuzz_support.h"

using namespace orvik;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(fuzz::text(data, size));
  const std::string tuned = tuneOpus(input);
  std::size_t start = 0;
  while (start < input.size()) {
    const std::size_t end = input.find('\n', start);
    (void)opusPayloadType(input.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  (void)tuned;
  return 0;
}
