#include "platform/crypto.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <climits>

namespace orvik::platform::crypto {

std::optional<std::vector<std::uint8_t>> randomBytes(std::size_t count) {
  if (count > static_cast<std::size_t>(INT_MAX)) return std::nullopt;
  std::vector<std::uint8_t> bytes(count);
  if (RAND_bytes(bytes.data(), static_cast<int>(count)) != 1) return std::nullopt;
  return bytes;
}

Sha256Digest sha256(std::span<const std::uint8_t> data) {
  Sha256Digest digest{};
  unsigned int length = 0;
  // EVP_Digest only fails on allocation failure; the zero digest is then
  // returned, which no caller will mistake for a match.
  EVP_Digest(data.data(), data.size(), digest.data(), &length, EVP_sha256(), nullptr);
  return digest;
}

Sha256Digest sha256(std::string_view data) {
  return sha256(std::span(reinterpret_cast<const std::uint8_t*>(data.data()), data.size()));
}

std::string hexString(std::span<const std::uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (std::uint8_t byte : bytes) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0F];
  }
  return text;
}

}  // namespace orvik::platform::crypto
