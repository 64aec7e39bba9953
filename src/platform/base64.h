// Base64 with the standard alphabet. Decoding is strict (standard alphabet, "=" padding to a multiple of four, no
// blanks or line breaks): what the page's transfer chunks are written in.
// Text with any other character, a stray "=", or a length that is not a
// multiple of four is refused rather than decoded in part.
// THREAD-SAFETY: pure.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace orvik::platform {

std::optional<std::string> decodeBase64Strict(std::string_view text);
// Standard Base64 with "=" padding and no line breaks.
std::string encodeBase64(std::string_view bytes);

}  // namespace orvik::platform
