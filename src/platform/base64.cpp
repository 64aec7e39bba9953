#include "platform/base64.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace orvik::platform {
namespace {

constexpr const char* kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<std::int8_t, 256> makeTable() {
  std::array<std::int8_t, 256> table{};
  table.fill(-1);
  for (int i = 0; i < 64; ++i) table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<std::int8_t>(i);
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

std::string encodeBase64(std::string_view bytes) {
  std::string text;
  text.reserve((bytes.size() + 2) / 3 * 4);
  for (std::size_t at = 0; at < bytes.size(); at += 3) {
    const std::size_t count = std::min<std::size_t>(3, bytes.size() - at);
    std::uint32_t group = 0;
    for (std::size_t i = 0; i < 3; ++i) {
      group = (group << 8) | (i < count ? static_cast<unsigned char>(bytes[at + i]) : 0u);
    }
    for (std::size_t i = 0; i < 4; ++i) {
      text.push_back(i <= count ? kAlphabet[(group >> (18 - 6 * i)) & 0x3F] : '=');
    }
  }
  return text;
}

}  // namespace orvik::platform
