#include "web/load_error.h"

#include <array>
#include <string_view>

#include <gio/gio.h>
#include <webkit/webkit.h>

namespace orvik {
namespace {

struct Code {
  std::string_view domain;
  int code;
};

bool isOneOf(const LoadError& error, const auto& codes) {
  for (const Code& entry : codes) {
    if (error.domain == entry.domain && error.code == entry.code) return true;
  }
  return false;
}

// What stands for the three offline URL error codes (not connected, connection
// lost, cannot find host) in GIO and libsoup.
constexpr std::array kOfflineCodes = {
    Code{load_error_domain::kGIO, G_IO_ERROR_NETWORK_UNREACHABLE},
    Code{load_error_domain::kGIO, G_IO_ERROR_HOST_UNREACHABLE},
    Code{load_error_domain::kGIO, G_IO_ERROR_CONNECTION_CLOSED},
    Code{load_error_domain::kGIO, G_IO_ERROR_BROKEN_PIPE},
    Code{load_error_domain::kGIO, G_IO_ERROR_NOT_CONNECTED},
    Code{load_error_domain::kResolver, G_RESOLVER_ERROR_NOT_FOUND},
    Code{load_error_domain::kResolver, G_RESOLVER_ERROR_TEMPORARY_FAILURE},
};

constexpr std::array kCancelledCodes = {
    Code{load_error_domain::kWebKitNetwork, WEBKIT_NETWORK_ERROR_CANCELLED},
    Code{load_error_domain::kGIO, G_IO_ERROR_CANCELLED},
    // The frame's load was replaced before it committed (a new navigation, a
    // download): nothing failed.
    Code{load_error_domain::kWebKitPolicy, WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE},
};

constexpr std::array kNetworkDomains = {
    std::string_view(load_error_domain::kGIO), std::string_view(load_error_domain::kResolver),
    std::string_view(load_error_domain::kTLS), std::string_view(load_error_domain::kWebKitNetwork),
    std::string_view(load_error_domain::kPinning), std::string_view("soup-session-error-quark"),
    std::string_view("soup_session_error_quark"),
};

}  // namespace

LoadErrorKind classifyLoadError(const LoadError& error) {
  if (isOneOf(error, kCancelledCodes)) return LoadErrorKind::cancelled;
  if (isOneOf(error, kOfflineCodes)) return LoadErrorKind::offline;
  for (std::string_view domain : kNetworkDomains) {
    if (error.domain == domain) return LoadErrorKind::network;
  }
  return LoadErrorKind::other;
}

}  // namespace orvik
