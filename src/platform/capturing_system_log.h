// SystemLog for tests: keeps every record in order.
// THREAD-SAFETY: any thread.
#pragma once

#include <mutex>
#include <utility>
#include <vector>

#include "platform/system_log.h"

namespace orvik::platform {

class CapturingSystemLog final : public SystemLog {
 public:
  struct Record {
    SystemLogLevel level;
    std::string message;
    bool operator==(const Record&) const = default;
  };

  void write(SystemLogLevel level, std::string_view message) override {
    std::lock_guard lock(mutex_);
    records_.push_back({level, std::string(message)});
  }

  std::vector<Record> records() const {
    std::lock_guard lock(mutex_);
    return records_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<Record> records_;
};

}  // namespace orvik::platform
