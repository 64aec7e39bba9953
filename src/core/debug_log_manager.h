// The web application's diagnostic journal of its messaging activity: one
// text file a calendar day, "debug_log(yyyyMMdd).txt" in the
// application-support folder, newest entry first, secret keys masked, files
// older than a week removed. The bridge messages writeDebugLog,
// getDebugLogSize, getDebugLogContent and clearDebugLog are its only users.
//
// THREAD-SAFETY: every method may be called from any thread. File work runs
// one task at a time, in call order, on the serial queue
// "com.orvik.debugLogManager"; completions run on the main queue. Days follow
// the local time zone.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "platform/dispatch/clock.h"
#include "platform/dispatch/serial_queue.h"

namespace orvik {

class DebugLogManager {
 public:
  static constexpr const char* queueName = "com.orvik.debugLogManager";
  static constexpr int keptDays = 7;

  // `folder` is created on use; `clock` null means the process-wide clock.
  explicit DebugLogManager(std::filesystem::path folder, platform::Clock* clock = nullptr);

  // Keeps its files in the application-support folder.

  // `entry` is the page's object (without "eventType"). Returns at once.
  void writeEntry(nlohmann::json entry);
  // Today's file size in bytes, 0 when there is none.
  void getLogSize(std::function<void(std::int64_t size)> completion);
  // Today's file as text; nothing when it is missing or not UTF-8.
  void getLogContent(std::function<void(std::optional<std::string> content)> completion);
  // Deletes today's file; older days stay until pruned.
  void clearLogs(std::function<void()> completion);

  // Blocks until the file work queued so far is done (tests, shutdown).
  void flush() { queue_.flush(); }

  const std::filesystem::path& folder() const { return folder_; }
  std::filesystem::path dayFile(platform::Clock::WallTime day) const;

  // The entry's text: header line, message JSON, hyphen rule.
  static std::string formatEntry(const nlohmann::json& entry, platform::Clock::WallTime now);
  // First 5 and last 5 characters with one "*" for each one between; keys
  // of 10 characters or fewer unchanged.
  static std::string maskedSecretKey(std::string_view key);

 private:
  platform::Clock& clock() const;
  std::filesystem::path todayFile() const;
  void write(const nlohmann::json& entry);
  void prune() const;

  const std::filesystem::path folder_;
  platform::Clock* clock_;
  platform::SerialQueue queue_{queueName};
};

}  // namespace orvik
