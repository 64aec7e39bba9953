// A failed load: WebKit's GError copied into a value where it enters (the
// web host), the one shape every layer records and decides on. The
// web-load diagnostics recorder (load_diagnostics.h) lives beside it; the
// classifier that reads WebKit's codes is web/load_error.h.
//
// THREAD-SAFETY: values.
#pragma once

#include <optional>
#include <string>

namespace orvik {

struct LoadError {
  std::string domain;  // the GError domain's name, e.g. "g-io-error-quark"
  int code = 0;
  std::string message;  // the user-facing (localised) description
  std::optional<std::string> failingURI;
};

// Error domain names, as g_quark_to_string gives them.
namespace load_error_domain {
inline constexpr const char* kGIO = "g-io-error-quark";
inline constexpr const char* kResolver = "g-resolver-error-quark";
inline constexpr const char* kTLS = "g-tls-error-quark";
inline constexpr const char* kWebKitNetwork = "WebKitNetworkError";
inline constexpr const char* kWebKitPolicy = "WebKitPolicyError";
// Ours: the main web application's host refused by certificate pinning.
inline constexpr const char* kPinning = "OrvikPinningError";
}  // namespace load_error_domain

}  // namespace orvik
