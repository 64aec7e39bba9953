#include "calls/screens/format_user_number.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

namespace orvik {

std::string formatUserNumber(std::string_view number) {
  std::string result;
  int kept = 0;
  const auto* text = reinterpret_cast<const std::uint8_t*>(number.data());
  const auto length = static_cast<std::int32_t>(number.size());
  std::int32_t at = 0;
  while (at < length) {
    const std::int32_t start = at;
    UChar32 c = 0;
    U8_NEXT(text, at, length, c);
    if (c < 0) continue;  // a broken sequence is no number
    if (u_getIntPropertyValue(c, UCHAR_NUMERIC_TYPE) == U_NT_NONE) continue;
    if (kept > 0 && kept % 3 == 0) result += ' ';
    result.append(number.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(at - start)));
    ++kept;
  }
  return kept == 0 ? std::string(number) : result;
}

}  // namespace orvik
