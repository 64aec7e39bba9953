#include "core/device_identity_manager.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <random>

#include "core/native_logger.h"
#include "platform/app_folders.h"
#include "platform/app_info.h"
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

bool isUdid(std::string_view text) {
  if (text.size() != kUdidLength) return false;
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

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

DeviceIdentityManager::DeviceIdentityManager(platform::SecretStore& store, LogFunction log, RandomSource random,
                                             std::filesystem::path fallbackFile)
    : store_(store), log_(std::move(log)), random_(std::move(random)), fallbackFile_(std::move(fallbackFile)) {
  if (!random_) random_ = [](std::size_t count) { return platform::crypto::randomBytes(count); };
}

std::filesystem::path DeviceIdentityManager::defaultFallbackFile() {
  return platform::configHome() / platform::AppInfo::current().bundleIdentifier / "device-udid";
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

std::optional<std::string> DeviceIdentityManager::readFallback() const {
  if (fallbackFile_.empty()) return std::nullopt;
  platform::FileContents contents = platform::readWholeFile(fallbackFile_);
  if (contents.status != platform::ReadStatus::ok) return std::nullopt;
  std::string text = std::move(contents.bytes);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  if (!isUdid(text)) return std::nullopt;
  return text;
}

std::string DeviceIdentityManager::keepInFallback(const std::string& udid) {
  if (fallbackFile_.empty()) return udid;
  auto failed = [&](const std::string& why) {
    log("[udid] private udid file not written (" + why + ") — udid holds for this run only (…" + tail(udid) + ")");
    return udid;
  };
  if (!platform::ensureFolder(fallbackFile_.parent_path())) return failed("no configuration folder");

  // mkostemp makes the file 0600: the identifier is the user's alone.
  std::string temporary = fallbackFile_.string() + ".XXXXXX";
  const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) return failed(std::strerror(errno));
  const bool written = platform::writeAll(fd, udid) && ::fsync(fd) == 0;
  if (::close(fd) != 0 || !written) {
    ::unlink(temporary.c_str());
    return failed("write failed");
  }
  // A hard link never replaces: a file another process kept meanwhile wins.
  if (::link(temporary.c_str(), fallbackFile_.c_str()) == 0) {
    ::unlink(temporary.c_str());
    log("[udid] keyring cannot keep the udid — kept in the private udid file (…" + tail(udid) + ")");
    return udid;
  }
  if (errno == EEXIST) {
    if (auto theirs = readFallback()) {
      ::unlink(temporary.c_str());
      log("[udid] private udid file race — adopting the udid kept by another process (…" + tail(*theirs) + ")");
      return *theirs;
    }
  }
  // No identifier there (a damaged file), or a file system without hard links.
  if (::rename(temporary.c_str(), fallbackFile_.c_str()) != 0) {
    const std::string why = std::strerror(errno);
    ::unlink(temporary.c_str());
    return failed(why);
  }
  log("[udid] keyring cannot keep the udid — kept in the private udid file (…" + tail(udid) + ")");
  return udid;
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
  // Without a Secret Service at all the private file stands in for it; an
  // item the store holds but cannot hand out (locked, unreadable) is never
  // replaced by another identifier.
  const bool noStore = existing.status == SecretStatus::notAvailable && !fallbackFile_.empty();
  if (existing.status != SecretStatus::itemNotFound && !noStore) {
    log("[udid] Keychain read error (OSStatus=" + statusText(existing.status) +
        ") — NOT creating/overwriting; returning empty so callers keep their current udid");
    return {};
  }

  if (auto kept = readFallback()) {
    log("[udid] Keychain " + std::string(noStore ? "unavailable" : "MISS") +
        " — reusing the udid kept in the private udid file (…" + tail(*kept) + ")");
    return *kept;
  }
  if (noStore) {
    log("[udid] Keychain unavailable (OSStatus=" + statusText(existing.status) +
        ") — generating new secure udid for the private udid file");
    return keepInFallback(generateUdid());
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
    return udid;
  }
  log("[udid] Keychain STORE FAILED verification (addStatus=" + statusText(addStatus) +
      ") — value did not read back");
  // The keyring could not take it (it would need a person, or lost it): the
  // private file keeps the identity for the next run.
  return keepInFallback(udid);
}

}  // namespace orvik
