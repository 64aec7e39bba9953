#include "platform/user_defaults.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/app_info.h"
#include "platform/json_limits.h"
#include "platform/platform_log.h"

namespace orvik::platform {
namespace fs = std::filesystem;
namespace {

std::string errnoText(int error) { return std::strerror(error); }

bool writeAll(int fd, const std::string& data) {
  std::size_t written = 0;
  while (written < data.size()) {
    ssize_t n = ::write(fd, data.data() + written, data.size() - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    written += static_cast<std::size_t>(n);
  }
  return true;
}

// Far beyond any settings file the program writes; a larger one was not
// written by it.
constexpr std::size_t kMaxSettingsBytes = 16 * 1024 * 1024;

fs::path freeCorruptPath(const fs::path& file) {
  fs::path candidate = file;
  candidate += ".corrupt";
  std::error_code ec;
  for (int n = 2; fs::exists(candidate, ec); ++n) {
    candidate = file;
    candidate += ".corrupt-" + std::to_string(n);
  }
  return candidate;
}

}  // namespace

UserDefaults::UserDefaults(fs::path file) : file_(std::move(file)) { load(); }

fs::path UserDefaults::standardPath() {
  const char* configHome = std::getenv("XDG_CONFIG_HOME");
  fs::path base;
  if (configHome && *configHome == '/') {
    base = configHome;
  } else {
    const char* home = std::getenv("HOME");
    base = fs::path(home && *home ? home : "/tmp") / ".config";
  }
  return base / AppInfo::current().bundleIdentifier / "defaults.json";
}

UserDefaults& UserDefaults::standard() {
  static UserDefaults defaults(standardPath());
  return defaults;
}

void UserDefaults::load() {
  std::error_code ec;
  if (!fs::exists(file_, ec)) return;
  std::ifstream in(file_, std::ios::binary);
  if (!in) {
    platformLog("[Defaults] cannot read " + file_.string() + " — starting with empty settings");
    return;
  }
  std::stringstream text;
  text << in.rdbuf();
  // Too large or too deeply nested counts as corrupt: every write prints the
  // whole store, and a deep value would overflow the stack there.
  auto parsed = parseOutsideJson(text.str(), kMaxSettingsBytes);
  if (parsed && parsed->is_object()) {
    stored_ = std::move(*parsed);
    return;
  }
  const fs::path aside = freeCorruptPath(file_);
  fs::rename(file_, aside, ec);
  if (ec) {
    platformLog("[Defaults] settings file is corrupt and could not be moved aside (" + ec.message() +
                "); starting with empty settings and leaving it in place");
  } else {
    platformLog("[Defaults] settings file is corrupt; kept as " + aside.string() +
                " and starting with empty settings");
  }
}

void UserDefaults::registerDefaults(const nlohmann::json& values) {
  if (!values.is_object()) return;
  std::lock_guard lock(mutex_);
  for (const auto& [key, value] : values.items()) registered_[key] = value;
}

bool UserDefaults::hasStoredValue(std::string_view key) const {
  std::lock_guard lock(mutex_);
  return stored_.contains(key);
}

std::optional<nlohmann::json> UserDefaults::lookupLocked(std::string_view key) const {
  if (auto it = stored_.find(key); it != stored_.end()) return *it;
  if (auto it = registered_.find(key); it != registered_.end()) return *it;
  return std::nullopt;
}

std::optional<nlohmann::json> UserDefaults::object(std::string_view key) const {
  std::lock_guard lock(mutex_);
  return lookupLocked(key);
}

std::optional<bool> UserDefaults::optionalBool(std::string_view key) const {
  auto value = object(key);
  if (!value) return std::nullopt;
  if (value->is_boolean()) return value->get<bool>();
  if (value->is_number()) return value->get<double>() != 0.0;
  return std::nullopt;
}

bool UserDefaults::boolValue(std::string_view key) const { return optionalBool(key).value_or(false); }

std::optional<std::int64_t> UserDefaults::optionalInteger(std::string_view key) const {
  auto value = object(key);
  if (!value) return std::nullopt;
  if (value->is_number()) return jsonIntegerPart(*value);
  if (value->is_boolean()) return value->get<bool>() ? 1 : 0;
  return std::nullopt;
}

std::int64_t UserDefaults::integer(std::string_view key) const { return optionalInteger(key).value_or(0); }

std::optional<double> UserDefaults::optionalDouble(std::string_view key) const {
  auto value = object(key);
  if (!value) return std::nullopt;
  if (value->is_number()) return value->get<double>();
  if (value->is_boolean()) return value->get<bool>() ? 1.0 : 0.0;
  return std::nullopt;
}

double UserDefaults::doubleValue(std::string_view key) const { return optionalDouble(key).value_or(0.0); }

std::optional<std::string> UserDefaults::string(std::string_view key) const {
  auto value = object(key);
  if (!value || !value->is_string()) return std::nullopt;
  return value->get<std::string>();
}

std::optional<std::vector<std::string>> UserDefaults::stringList(std::string_view key) const {
  auto value = object(key);
  if (!value || !value->is_array()) return std::nullopt;
  std::vector<std::string> list;
  for (const auto& item : *value) {
    if (!item.is_string()) return std::nullopt;
    list.push_back(item.get<std::string>());
  }
  return list;
}

std::optional<nlohmann::json> UserDefaults::dictionary(std::string_view key) const {
  auto value = object(key);
  if (!value || !value->is_object()) return std::nullopt;
  return value;
}

void UserDefaults::setBool(std::string_view key, bool value) { store(key, value); }
void UserDefaults::setInteger(std::string_view key, std::int64_t value) { store(key, value); }
void UserDefaults::setDouble(std::string_view key, double value) { store(key, value); }
void UserDefaults::setString(std::string_view key, std::string_view value) { store(key, std::string(value)); }
void UserDefaults::setStringList(std::string_view key, const std::vector<std::string>& value) { store(key, value); }

void UserDefaults::setDictionary(std::string_view key, const nlohmann::json& object) {
  store(key, object.is_object() ? object : nlohmann::json::object());
}

void UserDefaults::remove(std::string_view key) {
  std::string error;
  {
    std::lock_guard lock(mutex_);
    auto it = stored_.find(key);
    if (it == stored_.end()) return;
    stored_.erase(it);
    writeLocked(error);
  }
  if (!error.empty()) platformLog(error);
}

void UserDefaults::store(std::string_view key, nlohmann::json value) {
  std::string error;
  {
    std::lock_guard lock(mutex_);
    stored_[std::string(key)] = std::move(value);
    writeLocked(error);
  }
  if (!error.empty()) platformLog(error);
}

bool UserDefaults::lastWriteSucceeded() const {
  std::lock_guard lock(mutex_);
  return lastWriteSucceeded_;
}

bool UserDefaults::writeLocked(std::string& error) {
  const std::string text = stored_.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
  std::error_code ec;
  fs::create_directories(file_.parent_path(), ec);
  std::string pattern = (file_.parent_path() / (file_.filename().string() + ".XXXXXX")).string();
  int fd = ::mkstemp(pattern.data());
  auto fail = [&](const std::string& what) {
    error = "[Defaults] could not save settings to " + file_.string() + ": " + what;
    lastWriteSucceeded_ = false;
    return false;
  };
  if (fd < 0) return fail(errnoText(errno));
  const bool written = writeAll(fd, text) && ::fsync(fd) == 0;
  const int writeError = errno;
  ::close(fd);
  if (!written) {
    ::unlink(pattern.c_str());
    return fail(errnoText(writeError));
  }
  if (::rename(pattern.c_str(), file_.c_str()) != 0) {
    const int renameError = errno;
    ::unlink(pattern.c_str());
    return fail(errnoText(renameError));
  }
  lastWriteSucceeded_ = true;
  return true;
}

}  // namespace orvik::platform
