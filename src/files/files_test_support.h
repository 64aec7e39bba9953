// Shared helpers of this library's tests. Their temporary home (documents
// folder, download folder and everything below them) is testing::TestHome.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/test_support/scoped_environment.h"
#include "platform/test_support/temp_dir.h"

namespace orvik::testing {

// Bytes whose value at offset i is (i * 7 + i / 251) & 0xFF: any slice shows
// where in the file it came from (a page checks it with the same formula).
inline std::string patternBytes(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  return bytes;
}

}  // namespace orvik::testing
