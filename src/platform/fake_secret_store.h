// In-memory SecretStore for tests: items by (service, account), failures to
// inject, and the race where another process stores its item between our
// read and our add.
// THREAD-SAFETY: any thread.
#pragma once

#include <map>
#include <mutex>
#include <utility>

#include "platform/secret_store.h"

namespace orvik::platform {

class FakeSecretStore final : public SecretStore {
 public:
  SecretReadResult read(std::string_view service, std::string_view account) override {
    std::lock_guard lock(mutex_);
    ++reads_;
    if (readFailure_) return {*readFailure_, std::nullopt};
    auto found = items_.find({std::string(service), std::string(account)});
    if (found == items_.end()) return {SecretStatus::itemNotFound, std::nullopt};
    return {SecretStatus::success, found->second};
  }

  SecretStatus add(std::string_view service, std::string_view account, std::string_view data) override {
    std::lock_guard lock(mutex_);
    ++adds_;
    const Key key{std::string(service), std::string(account)};
    if (storedByOtherProcess_) {
      items_[key] = std::move(*storedByOtherProcess_);
      storedByOtherProcess_.reset();
    }
    if (addFailure_) return *addFailure_;
    if (items_.contains(key)) return SecretStatus::duplicateItem;
    if (!dropAdds_) items_[key] = std::string(data);
    return SecretStatus::success;
  }

  void set(std::string_view service, std::string_view account, std::string data) {
    std::lock_guard lock(mutex_);
    items_[{std::string(service), std::string(account)}] = std::move(data);
  }
  std::optional<std::string> item(std::string_view service, std::string_view account) const {
    std::lock_guard lock(mutex_);
    auto found = items_.find({std::string(service), std::string(account)});
    return found == items_.end() ? std::nullopt : std::optional(found->second);
  }

  // Every read answers `status` (nothing to clear it with: make a new store).
  void failReads(SecretStatus status) { std::lock_guard lock(mutex_); readFailure_ = status; }
  void failAdds(SecretStatus status) { std::lock_guard lock(mutex_); addFailure_ = status; }
  // Adds report success but keep nothing, as a store that loses writes.
  void dropAdds() { std::lock_guard lock(mutex_); dropAdds_ = true; }
  // The next add finds `data` stored by another process just before it.
  void storeFromOtherProcessBeforeNextAdd(std::string data) {
    std::lock_guard lock(mutex_);
    storedByOtherProcess_ = std::move(data);
  }

  int reads() const { std::lock_guard lock(mutex_); return reads_; }
  int adds() const { std::lock_guard lock(mutex_); return adds_; }

 private:
  using Key = std::pair<std::string, std::string>;
  mutable std::mutex mutex_;
  std::map<Key, std::string> items_;
  std::optional<SecretStatus> readFailure_;
  std::optional<SecretStatus> addFailure_;
  std::optional<std::string> storedByOtherProcess_;
  bool dropAdds_ = false;
  int reads_ = 0;
  int adds_ = 0;
};

}  // namespace orvik::platform
