// The system's log, for the records that must outlive the program's own
// output: one subsystem (the bundle identifier) and one category per logger,
// two levels. Linux backend: the systemd journal (sd_journal_send), with the
// fields ORVIK_SUBSYSTEM and ORVIK_CATEGORY and priority notice or error.
// Without a running journal the records are dropped silently.
// Test double: CapturingSystemLog (capturing_system_log.h).
// THREAD-SAFETY: write may be called from any thread.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace orvik::platform {

enum class SystemLogLevel { standard, error };

class SystemLog {
 public:
  virtual ~SystemLog() = default;
  virtual void write(SystemLogLevel level, std::string_view message) = 0;
};

std::unique_ptr<SystemLog> makeJournaldSystemLog(std::string subsystem, std::string category);

}  // namespace orvik::platform
