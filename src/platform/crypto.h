// Random bytes and digests, from OpenSSL 3: what the program's identifiers,
// download checks and key pins are made of.
// THREAD-SAFETY: every function may be called from any thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace orvik::platform::crypto {

// `count` bytes from the system's cryptographically secure generator, or
// nothing when the generator fails (never weaker bytes instead).
std::optional<std::vector<std::uint8_t>> randomBytes(std::size_t count);

using Sha256Digest = std::array<std::uint8_t, 32>;
Sha256Digest sha256(std::span<const std::uint8_t> data);
Sha256Digest sha256(std::string_view data);

// Two lower-case hexadecimal digits per byte, no separators.
std::string hexString(std::span<const std::uint8_t> bytes);

}  // namespace orvik::platform::crypto
