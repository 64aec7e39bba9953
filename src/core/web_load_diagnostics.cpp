#include "core/web_load_diagnostics.h"

#include <fcntl.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <ctime>

#include <glib.h>

#include "core/native_logger.h"
#include "core/network_monitor.h"
#include "platform/app_folders.h"
#include "platform/file_io.h"
#include "platform/queue_checker.h"

namespace orvik {
namespace fs = std::filesystem;
namespace {

using WallTime = platform::Clock::WallTime;

std::string orUnknown(std::string_view text) { return text.empty() ? "?" : std::string(text); }

// "yyyy-MM-dd HH:mm:ss.SSS Z" in the local time zone: 2026-01-01 09:30:00.250 +0100.
std::string timestampText(WallTime time) {
  const auto whole = std::chrono::floor<std::chrono::seconds>(time);
  const std::time_t seconds = std::chrono::system_clock::to_time_t(whole);
  std::tm parts{};
  localtime_r(&seconds, &parts);
  const auto milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(time - whole).count();
  std::array<char, 32> date{}, zone{};
  std::strftime(date.data(), date.size(), "%Y-%m-%d %H:%M:%S", &parts);
  std::strftime(zone.data(), zone.size(), "%z", &parts);
  std::array<char, 80> text{};
  std::snprintf(text.data(), text.size(), "%s.%03d %s", date.data(), static_cast<int>(milliseconds), zone.data());
  return text.data();
}

}  // namespace

WebLoadDiagnostics::WebLoadDiagnostics(Dependencies dependencies)
    : folder_(std::move(dependencies.folder)),
      systemLog_(dependencies.systemLog),
      opener_(dependencies.opener),
      isNetworkConnected_(std::move(dependencies.isNetworkConnected)),
      clock_(dependencies.clock),
      sessionHeader_(dependencies.sessionHeader.empty() ? systemSessionHeader()
                                                        : std::move(dependencies.sessionHeader)) {}

platform::Clock& WebLoadDiagnostics::clock() const { return clock_ ? *clock_ : platform::systemClock(); }

void WebLoadDiagnostics::loadStarted(std::optional<std::string_view> url) {
  loadStartedAt_ = clock().monotonicNow();
  record("load started url=" + redactedURLString(url));
}

void WebLoadDiagnostics::loadFinished(std::optional<std::string_view> url) {
  record("load finished url=" + redactedURLString(url) + " after=" + elapsedSinceLoadStart());
}

void WebLoadDiagnostics::loadFailed(std::string_view stage, const std::optional<LoadError>& error,
                                    std::string_view details) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  std::string message = "FAIL stage=" + std::string(stage);
  message += " after=" + elapsedSinceLoadStart();
  message += std::string(" network=") + (isNetworkConnected_() ? "up" : "down");
  if (error) {
    message += " error=" + error->domain + "#" + std::to_string(error->code);
    message += " desc=\"" + error->message + "\"";
    if (error->failingURI) message += " failingURL=" + redactedURLString(*error->failingURI);
  }
  if (!details.empty()) message += " details=" + firstCharacters(details, maxDetailCharacters);
  record(std::move(message), true);
}

void WebLoadDiagnostics::record(std::string message, bool isError) {
  systemLog_.write(isError ? platform::SystemLogLevel::error : platform::SystemLogLevel::standard, message);
  const WallTime time = clock().now();
  queue_.post([this, time, message = std::move(message)] { writeToFile(time, message); });
}

std::string WebLoadDiagnostics::elapsedSinceLoadStart() const {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  if (!loadStartedAt_) return "-";
  std::array<char, 32> text{};
  std::snprintf(text.data(), text.size(), "%.1fs", clock().secondsSince(*loadStartedAt_));
  return text.data();
}

void WebLoadDiagnostics::revealInFinder() {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  std::error_code ec;
  if (!fs::exists(file(), ec)) {
    record("diagnostics file created from Help menu (no load events yet)");
    queue_.flush();
  }
  opener_.revealFile(file());
}

void WebLoadDiagnostics::writeToFile(WallTime time, const std::string& message) {
  std::string text;
  if (!didWriteSessionHeader_) {
    didWriteSessionHeader_ = true;
    text = "\n=== session " + timestampText(time) + " " + sessionHeader_ + " ===\n";
  }
  text += "[" + timestampText(time) + "] " + message + "\n";
  append(text);
}

void WebLoadDiagnostics::append(const std::string& data) {
  platform::ensureFolder(folder_);
  const fs::path path = file();
  int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  if (fd < 0) {
    (void)platform::writeFileAtomically(path, data);
    return;
  }
  const off_t end = ::lseek(fd, 0, SEEK_END);
  if (end >= 0 && static_cast<std::size_t>(end) + data.size() > maxFileBytes) {
    ::close(fd);
    platform::FileContents old = platform::readWholeFile(path);
    if (old.status == platform::ReadStatus::ok) {
      std::string_view kept(old.bytes);
      if (kept.size() > keptBytesAfterTrim) kept.remove_prefix(kept.size() - keptBytesAfterTrim);
      // Start at a whole line.
      if (const std::size_t newline = kept.find('\n'); newline != std::string_view::npos) {
        kept.remove_prefix(newline + 1);
      }
      (void)platform::writeFileAtomically(path, std::string(trimmedMarker) + "\n" + std::string(kept));
    }
    fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0) {
      (void)platform::writeFileAtomically(path, data);
      return;
    }
  }
  (void)platform::writeAll(fd, data);
  ::close(fd);
}

std::string WebLoadDiagnostics::redactedURLString(std::optional<std::string_view> url) {
  if (!url) return "nil";
  const std::string text(*url);
  // ENCODED keeps every component as written, percent-escapes included.
  GUri* parsed = g_uri_parse(text.c_str(), G_URI_FLAGS_ENCODED, nullptr);
  if (!parsed) return "?";
  gchar* joined = g_uri_join(G_URI_FLAGS_ENCODED, g_uri_get_scheme(parsed), nullptr, g_uri_get_host(parsed),
                             g_uri_get_port(parsed), g_uri_get_path(parsed), nullptr, nullptr);
  g_uri_unref(parsed);
  if (!joined) return "?";
  std::string result(joined);
  g_free(joined);
  return result;
}

std::string WebLoadDiagnostics::sessionHeaderFor(const platform::AppInfo& app, std::string_view osName,
                                                 std::string_view osVersion, std::string_view machine) {
  std::string os = std::string(osName);
  if (!osVersion.empty()) os += (os.empty() ? "" : " ") + std::string(osVersion);
  return "app=" + orUnknown(app.shortVersion) + " (" + orUnknown(app.build) + ") os=" + orUnknown(os) +
         " arch=" + orUnknown(machine) + " bundle=" + orUnknown(app.bundleIdentifier);
}

std::pair<std::string, std::string> WebLoadDiagnostics::readOsRelease(const fs::path& file) {
  platform::FileContents contents = platform::readWholeFile(file);
  std::pair<std::string, std::string> nameAndVersion;
  if (contents.status != platform::ReadStatus::ok) return nameAndVersion;
  std::string_view rest(contents.bytes);
  while (!rest.empty()) {
    const std::size_t newline = rest.find('\n');
    const std::string_view line = rest.substr(0, newline);
    rest.remove_prefix(newline == std::string_view::npos ? rest.size() : newline + 1);
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    const std::string_view key = line.substr(0, equals);
    std::string* target = key == "NAME" ? &nameAndVersion.first : key == "VERSION_ID" ? &nameAndVersion.second : nullptr;
    if (!target) continue;
    // Values follow shell quoting rules.
    const std::string raw(line.substr(equals + 1));
    if (gchar* value = g_shell_unquote(raw.c_str(), nullptr)) {
      *target = value;
      g_free(value);
    }
  }
  return nameAndVersion;
}

std::string WebLoadDiagnostics::systemSessionHeader() {
  auto [name, version] = readOsRelease("/etc/os-release");
  if (name.empty()) std::tie(name, version) = readOsRelease("/usr/lib/os-release");
  struct utsname system {};
  const std::string machine = ::uname(&system) == 0 ? system.machine : "";
  return sessionHeaderFor(platform::AppInfo::current(), name, version, machine);
}

namespace {

std::optional<std::string_view> viewOf(const std::optional<std::string>& url) {
  if (!url) return std::nullopt;
  return std::string_view(*url);
}

}  // namespace

void WebLoadDiagnosticsRecorder::loadStarted(const std::optional<std::string>& url) {
  diagnostics_.loadStarted(viewOf(url));
}
void WebLoadDiagnosticsRecorder::loadFinished(const std::optional<std::string>& url) {
  diagnostics_.loadFinished(viewOf(url));
}
void WebLoadDiagnosticsRecorder::loadFailed(const std::string& stage, const std::optional<LoadError>& error,
                                            const std::string& details) {
  diagnostics_.loadFailed(stage, error, details);
}
void WebLoadDiagnosticsRecorder::record(const std::string& line, bool isError) { diagnostics_.record(line, isError); }
std::string WebLoadDiagnosticsRecorder::elapsedSinceLoadStart() const { return diagnostics_.elapsedSinceLoadStart(); }
std::string WebLoadDiagnosticsRecorder::redactedURLString(const std::optional<std::string>& url) const {
  return WebLoadDiagnostics::redactedURLString(viewOf(url));
}

}  // namespace orvik
