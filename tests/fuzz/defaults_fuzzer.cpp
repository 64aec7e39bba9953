// The files a user or another program can edit: the settings store and the
// service override file. Any content is read or set aside, every typed read
// answers, and the next write (which prints the whole store) succeeds.
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "core/service_config.h"
#include "fuzz_support.h"
#include "platform/json_limits.h"
#include "platform/platform_log.h"
#include "platform/user_defaults.h"

using namespace orvik;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const std::filesystem::path folder = fuzz::privateHome() / "defaults";
  static const bool quiet = [] {
    platform::setPlatformLogSink([](const std::string&) {});
    return true;
  }();
  (void)quiet;
  std::error_code ec;
  std::filesystem::remove_all(folder, ec);
  std::filesystem::create_directories(folder, ec);
  const auto file = folder / "defaults.json";
  {
    std::ofstream out(file, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }

  std::string error;
  (void)ServiceConfig::load(file, error);

  platform::UserDefaults defaults(file);
  std::vector<std::string> keys = {"a", "count", "flag", ""};
  if (const auto parsed = platform::parseOutsideJson(fuzz::text(data, size), size); parsed && parsed->is_object()) {
    for (const auto& item : parsed->items()) keys.push_back(item.key());
  }
  for (const auto& key : keys) {
    (void)defaults.optionalBool(key);
    (void)defaults.optionalInteger(key);
    (void)defaults.boolValue(key);
    (void)defaults.integer(key);
    (void)defaults.doubleValue(key);
    (void)defaults.string(key);
    (void)defaults.stringList(key);
    (void)defaults.dictionary(key);
  }
  defaults.setBool("written", true);
  fuzz::check(defaults.lastWriteSucceeded(), "the store writes");
  fuzz::check(platform::UserDefaults(file).optionalBool("written") == true, "the write reads back");
  return 0;
}
