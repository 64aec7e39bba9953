// Strict Base64 (standard alphabet, "=" padding to a multiple of four, no
// blanks or line breaks): what the page's transfer chunks are written in.
// Text with any other character, a stray "=", or a length that is not a
// multiple of four is refused rather than decoded in part.
// THREAD-SAFETY: pure.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace orvik {

std::optional<std::string> decodeBase64Strict(std::string_view text);

}  // namespace orvik
