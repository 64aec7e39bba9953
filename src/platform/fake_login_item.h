// LoginItem for tests: a status the test sets, calls it counts, failures on
// demand. A successful register makes the status enabled; a successful
// unregister makes it not registered.
// THREAD-SAFETY: the test's thread.
#pragma once

#include <optional>

#include "platform/login_item.h"

namespace orvik::platform {

class FakeLoginItem final : public LoginItem {
 public:
  LoginItemStatus status() override { return currentStatus; }
  LoginItemResult registerItem() override {
    ++registers;
    if (registerError) return {false, *registerError};
    currentStatus = LoginItemStatus::enabled;
    return {true, {}};
  }
  LoginItemResult unregisterItem() override {
    ++unregisters;
    if (unregisterError) return {false, *unregisterError};
    currentStatus = LoginItemStatus::notRegistered;
    return {true, {}};
  }

  LoginItemStatus currentStatus = LoginItemStatus::notRegistered;
  std::optional<std::string> registerError;
  std::optional<std::string> unregisterError;
  int registers = 0;
  int unregisters = 0;
};

}  // namespace orvik::platform
