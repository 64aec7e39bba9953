#include "web/content_filter_rules.h"

#include <algorithm>
#include <cctype>

#include <glib.h>
#include <nlohmann/json.hpp>

#include "platform/local_schemes.h"

namespace orvik::web_content_filter {

const std::vector<std::string> localSchemes = {platform::kOrvikUploadScheme, platform::kOrvikFileScheme, "blob", "data"};

// Deployment values: the service's own domain and the outside providers its
// page loads data from (placeholders under a reserved domain).
const std::vector<std::string> trustedHostPatterns = {
    R"(([^/]+\.)?orvikdesk\.example)",       R"(([^/]+\.)?orvik-cdn\.example)",
    R"(([^/]+\.)?orvikstatic\.example)",     R"(([^/]+\.)?orvik-media\.example)",
    R"(([^/]+\.)?orvik-avatars\.example)",   R"(([^/]+\.)?orvik-push\.example)",
    R"(([^/]+\.)?orvik-turn\.example)",      R"(([^/]+\.)?orvik-metrics\.example)",
    R"(([^/]+\.)?orvik-payments\.example)",  R"(([^/]+\.)?orvik-maps\.example)",
    R"(([^/]+\.)?orvik-fonts\.example)",     R"(([^/]+\.)?orvik-emoji\.example)",
    R"(([^/]+\.)?orvik-stickers\.example)",  R"(([^/]+\.)?orvik-translate\.example)",
};

namespace {

nlohmann::json rule(const std::string& urlFilter, const char* action) {
  return {{"trigger", {{"url-filter", urlFilter}, {"resource-type", {"raw"}}}}, {"action", {{"type", action}}}};
}

std::string escapedDots(const std::string& host) {
  std::string escaped;
  for (char c : host) {
    if (c == '.') escaped += '\\';
    escaped += c;
  }
  return escaped;
}

}  // namespace

std::optional<std::string> startHostPattern(const std::optional<std::string>& startURL) {
  if (!startURL) return std::nullopt;
  GUri* uri = g_uri_parse(startURL->c_str(), G_URI_FLAGS_NONE, nullptr);
  if (!uri) return std::nullopt;
  std::string host = g_uri_get_host(uri) ? g_uri_get_host(uri) : "";
  g_uri_unref(uri);
  std::transform(host.begin(), host.end(), host.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  const bool plain = !host.empty() && std::all_of(host.begin(), host.end(), [](unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '-';
  });
  if (!plain) return std::nullopt;
  return escapedDots(host);
}

std::string rulesJSON(const std::optional<std::string>& startURL) {
  auto rules = nlohmann::json::array();
  rules.push_back(rule(".*", "block"));
  for (const auto& scheme : localSchemes) rules.push_back(rule("^" + scheme + ":", "ignore-previous-rules"));
  const auto startHost = startHostPattern(startURL);
  for (const auto& pattern : trustedHostPatterns) {
    rules.push_back(rule("^[a-z]+://" + pattern + "[:/]", "ignore-previous-rules"));
  }
  if (startHost) rules.push_back(rule("^[a-z]+://" + *startHost + "[:/]", "ignore-previous-rules"));
  return rules.dump();
}

}  // namespace orvik::web_content_filter
