#include "core/device_identity_manager.h"

#include <cctype>
#include <random>

#include "core/native_logger.h"
#include "platform/crypto.h"
#include "platform/file_io.h"

namespace orvik {
namespace {

using platform::SecretStatus;

constexpr std::size_t kUdidBytes = 32;
constexpr std::size_t kUdidLength = 64;

// The last 12 characters, the only part of an identifier that is logged.
std::string tail(const std::string& udid) { return udid.size() > 12 ? udid.substr(udid.size() - 12) : udid; }

std::string statusText(SecretStatus status) { return std::to_string(platform::statusCode(status)); }

// A version-4 UUID in its usual text form, upper-case as the system's is.
std::string randomUuidString() {
  std::random_device device;
  std::uint8_t bytes[16];
  for (auto& byte : bytes) byte = static_cast<std::uint8_t>(device());
  bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40);
  bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0x0F];
  }
  return text;
}

}  // namespace

DeviceIdentityManager::DeviceIdentityManager(platform::SecretStore& store, LogFunction log, RandomSource random)
    : store_(store), log_(std::move(log)), random_(std::move(random)) {
  if (!random_) random_ = [](std::size_t count) { return platform::crypto::randomBytes(count); };
}

void DeviceIdentityManager::log(const std::string& message) const {
  if (log_) {
    log_(message);
  } else {
    nativeLog(message);
  }
}

DeviceIdentityManager::Read DeviceIdentityManager::readUdid() {
  platform::SecretReadResult result = store_.read(service, account);
  Read read{std::nullopt, result.status};
  if (result.status == SecretStatus::success && result.data && platform::isValidUtf8(*result.data)) {
    read.udid = std::move(result.data);
  }
  return read;
}

SecretStatus DeviceIdentityManager::storeUdid(const std::string& udid) {
  const SecretStatus status = store_.add(service, account, udid);
  if (status != SecretStatus::success && status != SecretStatus::duplicateItem) {
    log("[udid] Keychain data-protection store failed (OSStatus=" + statusText(status) + ")");
  }
  return status;
}

std::string DeviceIdentityManager::generateUdid() const {
  if (auto bytes = random_(kUdidBytes); bytes && bytes->size() == kUdidBytes) {
    return platform::crypto::hexString(*bytes);
  }
  std::string text;
  for (char c : randomUuidString() + randomUuidString()) {
    if (c != '-') text += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return text.substr(0, kUdidLength);
}

std::string DeviceIdentityManager::getOrCreateDeviceUdid() {
  std::lock_guard lock(mutex_);

  const Read existing = readUdid();
  if (existing.udid && !existing.udid->empty()) {
    log("[udid] Keychain HIT — reusing existing udid (…" + tail(*existing.udid) + ")");
    return *existing.udid;
  }
  if (existing.status != SecretStatus::itemNotFound) {
    log("[udid] Keychain read error (OSStatus=" + statusText(existing.status) +
        ") — NOT creating/overwriting; returning empty so callers keep their current udid");
    return {};
  }

  log("[udid] Keychain MISS (not found) — generating new secure udid");
  const std::string udid = generateUdid();
  const SecretStatus addStatus = storeUdid(udid);

  if (addStatus == SecretStatus::duplicateItem) {
    const Read theirs = readUdid();
    if (theirs.udid && !theirs.udid->empty()) {
      log("[udid] Keychain add race — adopting concurrently-stored udid (…" + tail(*theirs.udid) + ")");
      return *theirs.udid;
    }
  }

  const Read check = readUdid();
  if (check.udid == udid) {
    log("[udid] Keychain STORE verified — persisted (…" + tail(udid) + ")");
  } else {
    log("[udid] Keychain STORE FAILED verification (addStatus=" + statusText(addStatus) +
        ") — value did not read back");
  }
  return udid;
}

}  // namespace orvik
