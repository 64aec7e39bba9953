// Message routes that keep every handler by name, for tests that call a
// subsystem's handlers as the dispatcher would.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <utility>

#include "platform/message_routes.h"

namespace orvik::testing {

class RecordingMessageRoutes final : public platform::MessageRoutes {
 public:
  bool route(std::string_view name, Handler handler) override {
    handlers[std::string(name)] = std::move(handler);
    return true;
  }
  std::map<std::string, Handler> handlers;
};

}  // namespace orvik::testing
