// The exfil guard: the content-blocker rule list "orvik-exfil-guard" that
// stops scripts of the main page from sending data anywhere but to our own
// URL schemes, blob and data URLs, and a fixed set of trusted hosts. Only
// script-initiated ("raw") loads are affected; documents, images, scripts,
// style sheets, media and fonts load as usual.
//
// WebViewHost compiles the list with WebKitUserContentFilterStore and adds it
// before the first load. THREAD-SAFETY: pure functions.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace orvik::web_content_filter {

inline constexpr const char* kIdentifier = "orvik-exfil-guard";

// The local schemes whose loads are always allowed, in rule order.
extern const std::vector<std::string> localSchemes;
// The 14 trusted host patterns: "([^/]+\.)?" and the host with escaped dots,
// matching the host and any subdomain.
extern const std::vector<std::string> trustedHostPatterns;

// The start URL's host, lower-cased, with "\." for each dot, when it is not
// empty and only of [a-z0-9.-]; none otherwise (no host, other characters).
std::optional<std::string> startHostPattern(const std::optional<std::string>& startURL);

// The rule list as JSON text: block every raw load, then lift the block for
// each local scheme, each trusted host and the start URL's host.
std::string rulesJSON(const std::optional<std::string>& startURL);

}  // namespace orvik::web_content_filter
