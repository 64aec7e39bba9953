// The installation's device identifier ("udid"): 64 lower-case hexadecimal
// characters, made once and kept in the secret store (service
// "com.orvik.reveraraz.deviceIdentity", account "device-udid-v2"), outside
// the program's data folders. The page, the call server and the call windows
// know the installation by it.
//
// It is never replaced: when the store holds an item it cannot read (a locked
// keyring) the answer is the empty string and callers keep the identifier they
// already hold. Every call asks the store; nothing is cached. Only the last 12
// characters are ever logged.
//
// Where there is no Secret Service, or it cannot take the item without a
// person (a keyring that is locked or not made yet), the identifier is kept
// in a private file (mode 0600) instead, so the installation keeps one
// identity: the file is read after the store finds nothing and written only
// when the store could not take the item.
//
// THREAD-SAFETY: getOrCreateDeviceUdid may be called from any thread, but it
// waits for the Secret Service: call it off the main queue (see
// device_udid_provider.h). Calls run one at a time under one lock, so two
// first uses cannot both generate.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/secret_store.h"

namespace orvik {

class DeviceIdentityManager {
 public:
  static constexpr const char* service = "com.orvik.reveraraz.deviceIdentity";
  static constexpr const char* account = "device-udid-v2";

  using LogFunction = std::function<void(const std::string& message)>;
  // Secure random bytes, or nothing when the source fails.
  using RandomSource = std::function<std::optional<std::vector<std::uint8_t>>(std::size_t count)>;

  // `log` empty means nativeLog; `random` empty means the system's secure
  // generator; `fallbackFile` empty means no file (a store that cannot keep
  // the item gives a new identifier on every run).
  explicit DeviceIdentityManager(platform::SecretStore& store, LogFunction log = {}, RandomSource random = {},
                                 std::filesystem::path fallbackFile = {});

  // "device-udid" in the program's configuration folder.
  static std::filesystem::path defaultFallbackFile();

  // The stored identifier; a new one stored on first use; the empty string
  // when the store cannot be read.
  std::string getOrCreateDeviceUdid();

  // 32 random bytes in hexadecimal; when the random source fails, two random
  // UUIDs without their dashes.
  std::string generateUdid() const;

 private:
  struct Read {
    std::optional<std::string> udid;  // only for a readable UTF-8 value
    platform::SecretStatus status;
  };
  Read readUdid();
  platform::SecretStatus storeUdid(const std::string& udid);
  std::optional<std::string> readFallback() const;
  // Keeps `udid` in the file unless another process kept one first, whose
  // identifier is then the answer.
  std::string keepInFallback(const std::string& udid);
  void log(const std::string& message) const;

  platform::SecretStore& store_;
  LogFunction log_;
  RandomSource random_;
  std::filesystem::path fallbackFile_;
  std::mutex mutex_;
};

}  // namespace orvik
