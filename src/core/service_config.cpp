#include "core/service_config.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

namespace orvik {
namespace {

// The deployment's call server (a placeholder under a reserved domain until
// the production host is configured here).
constexpr const char* kCallServerURL = "https://calls.orvikdesk.example";

bool readString(const nlohmann::json& object, const char* key, std::string& out, std::string& error,
                const std::filesystem::path& file) {
  const auto found = object.find(key);
  if (found == object.end()) return true;
  if (!found->is_string() || found->get_ref<const std::string&>().empty()) {
    error = file.string() + ": \"" + key + "\" must be a non-empty string";
    return false;
  }
  out = found->get<std::string>();
  return true;
}

}  // namespace

ServiceConfig ServiceConfig::defaults() { return ServiceConfig{kCallServerURL}; }

std::optional<ServiceConfig> ServiceConfig::load(const std::filesystem::path& file, std::string& error) {
  std::ifstream in(file);
  if (!in) {
    error = file.string() + ": cannot be read";
    return std::nullopt;
  }
  std::stringstream text;
  text << in.rdbuf();
  const auto json = nlohmann::json::parse(text.str(), nullptr, false);
  if (!json.is_object()) {
    error = file.string() + ": not a JSON object";
    return std::nullopt;
  }
  ServiceConfig config = defaults();
  if (!readString(json, "callServerURL", config.callServerURL, error, file)) return std::nullopt;
  return config;
}

const ServiceConfig& ServiceConfig::current() {
  static const ServiceConfig config = [] {
#ifdef ORVIK_SERVICE_OVERRIDE
    if (const char* file = std::getenv("ORVIK_SERVICE_CONFIG"); file && *file) {
      std::string error;
      if (auto loaded = load(file, error)) return *loaded;
      std::fprintf(stderr, "ORVIK_SERVICE_CONFIG: %s\n", error.c_str());
      std::exit(1);
    }
#endif
    return defaults();
  }();
  return config;
}

}  // namespace orvik
