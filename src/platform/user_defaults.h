// The program's settings store: a JSON object in
// $XDG_CONFIG_HOME/com.orvik.desk/defaults.json, written atomically (temporary
// file + rename) on every change. Registered defaults answer for keys that
// hold no stored value; `hasStoredValue` tells the two apart.
//
// A file that cannot be parsed is logged, moved aside as defaults.json.corrupt
// (or .corrupt-2, -3 ... when an earlier one is kept) and the store starts
// empty: the program never crashes on it and never overwrites the evidence.
// So is a file over 16 MiB or one nested deeper than any settings are.
//
// THREAD-SAFETY: every method may be called from any thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace orvik::platform {

class UserDefaults {
 public:
  explicit UserDefaults(std::filesystem::path file);

  // The program's store at the XDG location, loaded on first use.
  static UserDefaults& standard();
  static std::filesystem::path standardPath();

  // Merges `values` (a JSON object) into the registered defaults. Registered
  // defaults are never written to the file.
  void registerDefaults(const nlohmann::json& values);

  bool hasStoredValue(std::string_view key) const;
  // The stored value, else the registered default, else nothing.
  std::optional<nlohmann::json> object(std::string_view key) const;

  // Typed reads. The plain forms answer false / 0 / 0.0 when the key is absent
  // or holds another type; the optional forms answer nothing then. Numbers
  // convert between integer and floating point, and booleans read as numbers
  // 0/1, as settings written by older versions may differ in type. A number
  // whose integer part does not fit 64 bits is no integer.
  bool boolValue(std::string_view key) const;
  std::optional<bool> optionalBool(std::string_view key) const;
  std::int64_t integer(std::string_view key) const;
  std::optional<std::int64_t> optionalInteger(std::string_view key) const;
  double doubleValue(std::string_view key) const;
  std::optional<double> optionalDouble(std::string_view key) const;
  std::optional<std::string> string(std::string_view key) const;
  std::optional<std::vector<std::string>> stringList(std::string_view key) const;
  std::optional<nlohmann::json> dictionary(std::string_view key) const;

  void setBool(std::string_view key, bool value);
  void setInteger(std::string_view key, std::int64_t value);
  void setDouble(std::string_view key, double value);
  void setString(std::string_view key, std::string_view value);
  void setStringList(std::string_view key, const std::vector<std::string>& value);
  void setDictionary(std::string_view key, const nlohmann::json& object);
  void remove(std::string_view key);

  // Whether the last write reached the disk. A failed write is logged and the
  // value stays in memory; the next change tries again.
  bool lastWriteSucceeded() const;

  const std::filesystem::path& path() const { return file_; }

 private:
  void load();
  void store(std::string_view key, nlohmann::json value);
  // On failure fills `error` with the line to log once the lock is released.
  bool writeLocked(std::string& error);
  std::optional<nlohmann::json> lookupLocked(std::string_view key) const;

  const std::filesystem::path file_;
  mutable std::mutex mutex_;
  nlohmann::json stored_ = nlohmann::json::object();
  nlohmann::json registered_ = nlohmann::json::object();
  bool lastWriteSucceeded_ = true;
};

}  // namespace orvik::platform
