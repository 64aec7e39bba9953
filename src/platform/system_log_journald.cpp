#include <syslog.h>
#include <systemd/sd-journal.h>

#include "platform/system_log.h"

namespace orvik::platform {
namespace {

class JournaldSystemLog final : public SystemLog {
 public:
  JournaldSystemLog(std::string subsystem, std::string category)
      : subsystemField_("ORVIK_SUBSYSTEM=" + subsystem), categoryField_("ORVIK_CATEGORY=" + category) {}

  void write(SystemLogLevel level, std::string_view message) override {
    const int priority = level == SystemLogLevel::error ? LOG_ERR : LOG_NOTICE;
    // The message goes through "%.*s" so that a "%" in it is never read as a
    // conversion, and a NUL in it cannot cut the call short.
    (void)sd_journal_send("MESSAGE=%.*s", static_cast<int>(message.size()), message.data(), "PRIORITY=%d", priority,
                          "%s", subsystemField_.c_str(), "%s", categoryField_.c_str(), nullptr);
  }

 private:
  const std::string subsystemField_;
  const std::string categoryField_;
};

}  // namespace

std::unique_ptr<SystemLog> makeJournaldSystemLog(std::string subsystem, std::string category) {
  return std::make_unique<JournaldSystemLog>(std::move(subsystem), std::move(category));
}

}  // namespace orvik::platform
