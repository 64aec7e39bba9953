#include "core/service_config.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "platform/json_limits.h"

namespace orvik {
namespace {

// Deployment values: placeholders under a reserved domain until the
// production hosts and their key pins are configured here.
constexpr const char* kWebAppURL = "https://app.orvikdesk.example/";
constexpr std::array kWebHosts = {"app.orvikdesk.example", "web.orvikdesk.example", "beta.orvikdesk.example"};
constexpr const char* kPinnedWebHost = "app.orvikdesk.example";
constexpr std::array kWebPins = {
    "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=", "BBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBA=",
    "CCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCCA=", "DDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDDA="};
constexpr const char* kCallServerURL = "https://calls.orvikdesk.example";
constexpr const char* kContentHostURL = "https://cdn.orvikdesk.example";
constexpr const char* kUpdateFeedURL = "https://updates.orvikdesk.example/linux/feed.json";
constexpr std::array kUpdateHosts = {"updates.orvikdesk.example"};
constexpr std::array kUpdatePins = {"EEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEEA=",
                                    "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFA="};

constexpr std::array kLoopbackHosts = {"127.0.0.1", "localhost"};

template <std::size_t N>
std::vector<std::string> list(const std::array<const char*, N>& values) {
  return {values.begin(), values.end()};
}

bool isPin(const std::string& text) {
  if (text.size() != 44 || text[43] != '=') return false;
  return std::all_of(text.begin(), text.end() - 1, [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
  });
}

class Reader {
 public:
  Reader(const nlohmann::json& object, const std::filesystem::path& file, std::string& error)
      : object_(object), file_(file), error_(error) {}

  bool string(const char* key, std::string& out) {
    const auto found = object_.find(key);
    if (found == object_.end()) return true;
    if (!found->is_string() || found->get_ref<const std::string&>().empty()) {
      return fail(key, "must be a non-empty string");
    }
    out = found->get<std::string>();
    return true;
  }

  bool strings(const char* key, std::vector<std::string>& out) {
    const auto found = object_.find(key);
    if (found == object_.end()) return true;
    if (!found->is_array()) return fail(key, "must be a list of non-empty strings");
    std::vector<std::string> values;
    for (const auto& value : *found) {
      if (!value.is_string() || value.get_ref<const std::string&>().empty()) {
        return fail(key, "must be a list of non-empty strings");
      }
      values.push_back(value.get<std::string>());
    }
    out = std::move(values);
    return true;
  }

  bool pins(const char* key, std::vector<std::string>& out) {
    if (!strings(key, out)) return false;
    if (!std::all_of(out.begin(), out.end(), isPin)) {
      return fail(key, "must hold base64 SHA-256 pins of 44 characters");
    }
    return true;
  }

  bool absolutePath(const char* key, std::string& out) {
    if (!string(key, out)) return false;
    if (!out.empty() && !std::filesystem::path(out).is_absolute()) return fail(key, "must be an absolute path");
    return true;
  }

 private:
  bool fail(const char* key, const char* what) {
    error_ = file_.string() + ": \"" + key + "\" " + what;
    return false;
  }

  const nlohmann::json& object_;
  const std::filesystem::path& file_;
  std::string& error_;
};

}  // namespace

ServiceConfig ServiceConfig::defaults() {
  ServiceConfig config;
  config.webAppURL = kWebAppURL;
  config.webHosts = list(kWebHosts);
  config.pinnedWebHost = kPinnedWebHost;
  config.webPins = list(kWebPins);
  config.callServerURL = kCallServerURL;
  config.contentHostURL = kContentHostURL;
  config.updateFeedURL = kUpdateFeedURL;
  config.updateHosts = list(kUpdateHosts);
  config.updatePins = list(kUpdatePins);
  return config;
}

std::optional<ServiceConfig> ServiceConfig::load(const std::filesystem::path& file, std::string& error) {
  std::ifstream in(file);
  if (!in) {
    error = file.string() + ": cannot be read";
    return std::nullopt;
  }
  std::stringstream text;
  text << in.rdbuf();
  // An override file is a few lines; far more, or deep nesting, is no such file.
  const auto parsed = platform::parseOutsideJson(text.str(), 1024 * 1024);
  const nlohmann::json json = parsed ? *parsed : nlohmann::json();
  if (!json.is_object()) {
    error = file.string() + ": not a JSON object";
    return std::nullopt;
  }
  ServiceConfig config = defaults();
  Reader read(json, file, error);
  const bool ok = read.string("webAppURL", config.webAppURL) && read.strings("webHosts", config.webHosts) &&
                  read.string("pinnedWebHost", config.pinnedWebHost) && read.pins("webPins", config.webPins) &&
                  read.string("callServerURL", config.callServerURL) &&
                  read.string("contentHostURL", config.contentHostURL) &&
                  read.string("updateFeedURL", config.updateFeedURL) &&
                  read.strings("updateHosts", config.updateHosts) && read.pins("updatePins", config.updatePins) &&
                  read.absolutePath("extraCAFile", config.extraCAFile);
  if (!ok) return std::nullopt;
  return config;
}

ServiceConfig ServiceConfig::forThisBuild() {
#ifdef ORVIK_SERVICE_OVERRIDE
  if (const char* file = std::getenv("ORVIK_SERVICE_CONFIG"); file && *file) {
    std::string error;
    if (auto loaded = load(file, error)) return *loaded;
    std::fprintf(stderr, "ORVIK_SERVICE_CONFIG: %s\n", error.c_str());
    std::exit(1);
  }
#endif
  return defaults();
}

bool isTrustedWebHost(const std::vector<std::string>& webHosts, std::string_view host, bool loopbackTrusted) {
  if (host.empty()) return false;
  if (std::find(webHosts.begin(), webHosts.end(), host) != webHosts.end()) return true;
  return loopbackTrusted && std::find(kLoopbackHosts.begin(), kLoopbackHosts.end(), host) != kLoopbackHosts.end();
}

bool ServiceConfig::isTrustedWebHost(std::string_view host) const {
  return orvik::isTrustedWebHost(webHosts, host, serviceOverrideBuild());
}

}  // namespace orvik
