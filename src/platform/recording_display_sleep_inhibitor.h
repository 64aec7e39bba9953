// Test double of DisplaySleepInhibitor: hands out cookies 1, 2, … and keeps
// every call as a line ("inhibit <reason>", "inhibitSuspend <reason>",
// "uninhibit <cookie>").
#pragma once

#include <string>
#include <vector>

#include "platform/display_sleep_inhibitor.h"

namespace orvik::platform {

class RecordingDisplaySleepInhibitor final : public DisplaySleepInhibitor {
 public:
  unsigned inhibit(const std::string& reason) override {
    calls.push_back("inhibit " + reason);
    return ++lastCookie;
  }
  unsigned inhibitSuspend(const std::string& reason) override {
    calls.push_back("inhibitSuspend " + reason);
    return ++lastCookie;
  }
  void uninhibit(unsigned cookie) override { calls.push_back("uninhibit " + std::to_string(cookie)); }

  std::vector<std::string> calls;
  unsigned lastCookie = 0;
};

}  // namespace orvik::platform
