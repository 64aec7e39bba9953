// A plain-text record of how the main web view loads: load starts and
// finishes with their durations, and every failure with its stage, error and
// network state. Each record goes to the system log (category "WebLoad") and
// to "web_load_diagnostics.log" in the application-support folder, which the
// user can reveal from the Help menu. The file is kept under 512 KiB: when a
// record would pass that, the oldest lines are cut to leave about 256 KiB.
// Addresses are written without query, fragment or credentials.
//
// THREAD-SAFETY: records may be made from any thread; the system log is
// written on the caller's thread and the file on the serial queue
// "com.orvik.webLoadDiagnostics", in record order. loadStarted, loadFinished,
// loadFailed, elapsedSinceLoadStart and revealInFinder run on the main queue.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "core/load_diagnostics.h"
#include "core/load_error.h"
#include "platform/app_info.h"
#include "platform/dispatch/clock.h"
#include "platform/dispatch/serial_queue.h"
#include "platform/system_log.h"
#include "platform/system_opener.h"

namespace orvik {

class WebLoadDiagnostics {
 public:
  static constexpr const char* queueName = "com.orvik.webLoadDiagnostics";
  static constexpr const char* fileName = "web_load_diagnostics.log";
  static constexpr const char* trimmedMarker = "--- older entries trimmed ---";
  static constexpr std::size_t maxFileBytes = 524288;
  static constexpr std::size_t keptBytesAfterTrim = 262144;
  static constexpr std::size_t maxDetailCharacters = 2000;

  using LoadError = orvik::LoadError;

  struct Dependencies {
    std::filesystem::path folder;  // created on use
    platform::SystemLog& systemLog;
    platform::SystemOpener& opener;
    std::function<bool()> isNetworkConnected;
    platform::Clock* clock = nullptr;  // null: the process-wide clock
    std::string sessionHeader;         // empty: this system's
  };

  explicit WebLoadDiagnostics(Dependencies dependencies);

  void loadStarted(std::optional<std::string_view> url);
  void loadFinished(std::optional<std::string_view> url);
  void loadFailed(std::string_view stage, const std::optional<LoadError>& error, std::string_view details);
  void record(std::string message, bool isError = false);
  std::string elapsedSinceLoadStart() const;
  // Shows the file in the file manager, creating it first when needed.
  void revealInFinder();

  // Blocks until the file work queued so far is done.
  void flush() { queue_.flush(); }
  std::filesystem::path file() const { return folder_ / fileName; }

  // "nil" for no address; scheme, host, port and path only; "?" when the
  // text is no address.
  static std::string redactedURLString(std::optional<std::string_view> url);
  // "app=1.4.2 (142) os=Debian GNU/Linux 12 arch=x86_64 bundle=com.orvik.desk",
  // with "?" for what is unknown.
  static std::string sessionHeaderFor(const platform::AppInfo& app, std::string_view osName,
                                      std::string_view osVersion, std::string_view machine);
  // This system's header, from os-release and uname.
  static std::string systemSessionHeader();
  // NAME and VERSION_ID of an os-release file; empty when missing.
  static std::pair<std::string, std::string> readOsRelease(const std::filesystem::path& file);

 private:
  platform::Clock& clock() const;
  void writeToFile(platform::Clock::WallTime time, const std::string& message);
  void append(const std::string& data);

  const std::filesystem::path folder_;
  platform::SystemLog& systemLog_;
  platform::SystemOpener& opener_;
  std::function<bool()> isNetworkConnected_;
  platform::Clock* clock_;
  const std::string sessionHeader_;
  std::optional<platform::Clock::MonotonicTime> loadStartedAt_;  // main queue
  bool didWriteSessionHeader_ = false;                           // file queue
  platform::SerialQueue queue_{queueName};
};

// The program's diagnostics as the web host records into them.
class WebLoadDiagnosticsRecorder final : public LoadDiagnostics {
 public:
  explicit WebLoadDiagnosticsRecorder(WebLoadDiagnostics& diagnostics) : diagnostics_(diagnostics) {}

  void loadStarted(const std::optional<std::string>& url) override;
  void loadFinished(const std::optional<std::string>& url) override;
  void loadFailed(const std::string& stage, const std::optional<LoadError>& error,
                  const std::string& details) override;
  void record(const std::string& line, bool isError) override;
  std::string elapsedSinceLoadStart() const override;
  std::string redactedURLString(const std::optional<std::string>& url) const override;

 private:
  WebLoadDiagnostics& diagnostics_;
};

}  // namespace orvik
