#include "files/base64.h"

#include <array>
#include <cstdint>

namespace orvik {
namespace {

constexpr std::array<std::int8_t, 256> makeTable() {
  std::array<std::int8_t, 256> table{};
  table.fill(-1);
  const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  for (int i = 0; i < 64; ++i) table[static_cast<unsigned char>(alphabet[i])] = static_cast<std::int8_t>(i);
  return table;
}

constexpr std::array<std::int8_t, 256> kTable = makeTable();

}  // namespace

std::optional<std::string> decodeBase64Strict(std::string_view text) {
  if (text.size() % 4 != 0) return std::nullopt;
  std::size_t padding = 0;
  if (!text.empty() && text.back() == '=') padding = text.size() >= 2 && text[text.size() - 2] == '=' ? 2 : 1;
  std::string bytes;
  bytes.reserve(text.size() / 4 * 3);
  for (std::size_t at = 0; at < text.size(); at += 4) {
    const bool lastGroup = at + 4 == text.size();
    std::uint32_t group = 0;
    for (std::size_t i = 0; i < 4; ++i) {
      const unsigned char c = static_cast<unsigned char>(text[at + i]);
      const bool isPadding = lastGroup && i >= 4 - padding;
      if (isPadding) {
        group <<= 6;
        continue;
      }
      const std::int8_t value = kTable[c];
      if (value < 0) return std::nullopt;
      group = (group << 6) | static_cast<std::uint32_t>(value);
    }
    const std::size_t count = lastGroup ? 3 - padding : 3;
    for (std::size_t i = 0; i < count; ++i) bytes.push_back(static_cast<char>((group >> (16 - 8 * i)) & 0xFF));
  }
  return bytes;
}

}  // namespace orvik
