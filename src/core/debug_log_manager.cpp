#include "core/debug_log_manager.h"

#include <sys/stat.h>

#include <array>
#include <cstdio>
#include <ctime>

#include "core/native_logger.h"
#include "platform/app_folders.h"
#include "platform/dispatch/task_queue.h"
#include "platform/file_io.h"

namespace orvik {
namespace fs = std::filesystem;
namespace {

using WallTime = platform::Clock::WallTime;

constexpr std::string_view kFilePrefix = "debug_log(";
constexpr std::string_view kFileSuffix = ").txt";
// Beyond the year 9999 a "time" is no date a formatter can write.
constexpr double kLatestMilliseconds = 253402300799999.0;

std::tm localTime(WallTime time) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(
      std::chrono::floor<std::chrono::seconds>(time));
  std::tm parts{};
  localtime_r(&seconds, &parts);
  return parts;
}

std::string format(const char* pattern, const std::tm& parts) {
  std::array<char, 64> buffer{};
  const std::size_t length = std::strftime(buffer.data(), buffer.size(), pattern, &parts);
  return std::string(buffer.data(), length);
}

std::string dayText(WallTime time) { return format("%Y%m%d", localTime(time)); }

std::string timestampText(WallTime time) {
  const auto milliseconds = std::chrono::floor<std::chrono::milliseconds>(time).time_since_epoch().count() % 1000;
  std::array<char, 8> fraction{};
  std::snprintf(fraction.data(), fraction.size(), ".%03d", static_cast<int>((milliseconds + 1000) % 1000));
  return format("%Y-%m-%d %H:%M:%S", localTime(time)) + fraction.data();
}

std::string stringField(const nlohmann::json& entry, const char* key) {
  auto found = entry.find(key);
  return found != entry.end() && found->is_string() ? found->get<std::string>() : "-";
}

WallTime entryTime(const nlohmann::json& entry, WallTime now) {
  auto found = entry.find("time");
  if (found == entry.end() || !found->is_number()) return now;
  const double milliseconds = found->get<double>();
  if (!(milliseconds > 0) || milliseconds > kLatestMilliseconds) return now;
  return WallTime(std::chrono::duration_cast<WallTime::duration>(
      std::chrono::duration<double, std::milli>(milliseconds)));
}

// The calendar day of a "yyyyMMdd" text, as a comparable number, or nothing
// when it is no such day.
std::optional<int> parseDay(std::string_view text) {
  if (text.size() != 8) return std::nullopt;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  const int year = std::stoi(std::string(text.substr(0, 4)));
  const int month = std::stoi(std::string(text.substr(4, 2)));
  const int day = std::stoi(std::string(text.substr(6, 2)));
  const std::chrono::year_month_day date{std::chrono::year(year), std::chrono::month(static_cast<unsigned>(month)),
                                         std::chrono::day(static_cast<unsigned>(day))};
  if (!date.ok()) return std::nullopt;
  return year * 10000 + month * 100 + day;
}

}  // namespace

DebugLogManager::DebugLogManager(fs::path folder, platform::Clock* clock)
    : folder_(std::move(folder)), clock_(clock) {}

platform::Clock& DebugLogManager::clock() const { return clock_ ? *clock_ : platform::systemClock(); }

fs::path DebugLogManager::dayFile(WallTime day) const {
  return folder_ / (std::string(kFilePrefix) + dayText(day) + std::string(kFileSuffix));
}

fs::path DebugLogManager::todayFile() const {
  platform::ensureFolder(folder_);
  return dayFile(clock().now());
}

std::string DebugLogManager::maskedSecretKey(std::string_view key) {
  // Counted in characters, not bytes, so that the mask keeps the key's length
  // and never cuts a character in half.
  const std::size_t length = characterCount(key);
  if (length <= 10) return std::string(key);
  const std::string head = firstCharacters(key, 5);
  const std::string allButTail = firstCharacters(key, length - 5);
  return head + std::string(length - 10, '*') + std::string(key.substr(allButTail.size()));
}

std::string DebugLogManager::formatEntry(const nlohmann::json& entry, WallTime now) {
  std::string message = "-";
  if (auto found = entry.find("message"); found != entry.end() && (found->is_object() || found->is_array())) {
    // nlohmann's objects keep their keys sorted; bad UTF-8 in a text value is
    // replaced rather than failing the entry.
    message = found->dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
  }
  return "[" + timestampText(entryTime(entry, now)) + "] userNumber=" + stringField(entry, "userNumber") +
         " from=" + stringField(entry, "from") + " to=" + stringField(entry, "to") +
         " conversationId=" + stringField(entry, "conversationId") +
         " secretKey=" + maskedSecretKey(stringField(entry, "secretKey")) + "\n" + message + "\n" +
         std::string(80, '-') + "\n";
}

void DebugLogManager::writeEntry(nlohmann::json entry) {
  queue_.post([this, entry = std::move(entry)] { write(entry); });
}

void DebugLogManager::write(const nlohmann::json& entry) {
  prune();
  const fs::path file = todayFile();
  platform::FileContents old = platform::readWholeFile(file);
  // An existing file that cannot be read is left alone rather than replaced
  // by this one entry; its bytes are kept as they are, valid UTF-8 or not.
  if (old.status == platform::ReadStatus::failed) return;
  (void)platform::writeFileAtomically(file, formatEntry(entry, clock().now()) + old.bytes);
}

void DebugLogManager::prune() const {
  const std::tm today = localTime(clock().now());
  std::tm cutoffParts = today;
  cutoffParts.tm_mday -= keptDays;
  cutoffParts.tm_hour = 12;  // clear of any daylight-saving shift
  cutoffParts.tm_isdst = -1;
  std::mktime(&cutoffParts);
  const int cutoff = (cutoffParts.tm_year + 1900) * 10000 + (cutoffParts.tm_mon + 1) * 100 + cutoffParts.tm_mday;

  std::error_code ec;
  fs::directory_iterator entries(folder_, ec);
  if (ec) return;
  for (const auto& item : entries) {
    const std::string name = item.path().filename().string();
    if (name.size() < kFilePrefix.size() + kFileSuffix.size() || !name.starts_with(kFilePrefix) ||
        !name.ends_with(kFileSuffix)) {
      continue;
    }
    const std::string_view date =
        std::string_view(name).substr(kFilePrefix.size(), name.size() - kFilePrefix.size() - kFileSuffix.size());
    if (auto day = parseDay(date); day && *day < cutoff) {
      std::error_code ignored;
      fs::remove(item.path(), ignored);
    }
  }
}

void DebugLogManager::getLogSize(std::function<void(std::int64_t)> completion) {
  queue_.post([this, completion = std::move(completion)] {
    struct stat info {};
    const std::int64_t size = ::stat(todayFile().c_str(), &info) == 0 ? static_cast<std::int64_t>(info.st_size) : 0;
    platform::mainQueue().post([completion, size] { completion(size); });
  });
}

void DebugLogManager::getLogContent(std::function<void(std::optional<std::string>)> completion) {
  queue_.post([this, completion = std::move(completion)] {
    platform::FileContents contents = platform::readWholeFile(todayFile());
    std::optional<std::string> text;
    if (contents.status == platform::ReadStatus::ok && platform::isValidUtf8(contents.bytes)) {
      text = std::move(contents.bytes);
    }
    platform::mainQueue().post([completion, text = std::move(text)] { completion(text); });
  });
}

void DebugLogManager::clearLogs(std::function<void()> completion) {
  queue_.post([this, completion = std::move(completion)] {
    std::error_code ignored;
    fs::remove(todayFile(), ignored);
    platform::mainQueue().post(completion);
  });
}

}  // namespace orvik
