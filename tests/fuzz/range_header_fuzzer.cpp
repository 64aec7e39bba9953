// Range headers and orvikfile: URLs from the page: the range, when there is
// one, lies inside the file, whatever the file's length (up to 2^64 - 1).
#include <cstdint>
#include <cstring>

#include "files/orvik_file_scheme_handler.h"
#include "fuzz_support.h"

using namespace orvik;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < sizeof(std::uint64_t)) return 0;
  std::uint64_t total = 0;
  std::memcpy(&total, data, sizeof total);
  const std::string_view header = fuzz::text(data + sizeof total, size - sizeof total);
  for (const std::uint64_t length : {total, total >> 32, total & 0xFFFF, std::uint64_t{1000}}) {
    if (const auto range = OrvikFileSchemeHandler::parseRange(header, length)) {
      fuzz::check(length > 0 && range->first <= range->last && range->last < length, "range inside the file");
    }
  }
  if (const auto path = OrvikFileSchemeHandler::filePath(header)) {
    fuzz::check(path->starts_with('/') && path->find('\0') == std::string::npos, "an absolute path without NUL");
  }
  (void)OrvikFileSchemeHandler::mimeType(header);
  return 0;
}
