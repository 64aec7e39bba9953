// Secrets kept outside the program's data folders: the keychain's generic
// passwords, looked up by service and account. The status codes mean what the
// keychain's do, and carry their numbers so that log lines read the same on
// every system: success 0, item not found -25300, duplicate item -25299;
// "interaction not allowed", -25308, when the store would need a person (a
// locked collection, a collection to create: the Secret Service asks for a
// password); any other failure (no Secret Service on the bus, an error of the
// service) is "not available", -25291.
//
// No call ever shows a prompt or waits for one: the Linux backend answers
// every prompt the Secret Service asks for as dismissed, so such a call fails
// at once with `interactionNotAllowed`.
//
// Linux backend: libsecret (Secret Service over D-Bus) with a schema whose
// attributes are "service" and "account". Test double: fake_secret_store.h.
// THREAD-SAFETY: implementations may be called from any thread; a call blocks
// until the store has answered, so keep calls off the main queue.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace orvik::platform {

enum class [[nodiscard]] SecretStatus : int {
  success = 0,
  itemNotFound = -25300,
  duplicateItem = -25299,
  interactionNotAllowed = -25308,
  notAvailable = -25291,
};

inline int statusCode(SecretStatus status) { return static_cast<int>(status); }

struct SecretReadResult {
  SecretStatus status = SecretStatus::notAvailable;
  // The stored bytes, present exactly when the status is success.
  std::optional<std::string> data;
};

class SecretStore {
 public:
  virtual ~SecretStore() = default;

  virtual SecretReadResult read(std::string_view service, std::string_view account) = 0;
  // Adds an item and never replaces one: `duplicateItem` when an item with
  // this service and account exists already.
  virtual SecretStatus add(std::string_view service, std::string_view account, std::string_view data) = 0;
};

// The Secret Service of the session bus. Its add is a lookup followed by a
// store, as the Secret Service has no add-only call: two processes adding in
// the same instant can both succeed, and the later one's value wins.
std::unique_ptr<SecretStore> makeLibsecretSecretStore();

}  // namespace orvik::platform
