#include "web/load_error.h"

#include <gio/gio.h>
#include <gtest/gtest.h>
#include <webkit/webkit.h>

namespace orvik {
namespace {

TEST(LoadErrorClassifier, MapsGLibAndWebKitErrorsToWhatTheLoadStateNeeds) {
  namespace d = load_error_domain;
  struct Case {
    const char* domain;
    int code;
    LoadErrorKind kind;
  };
  const std::vector<Case> cases = {
      {d::kWebKitNetwork, WEBKIT_NETWORK_ERROR_CANCELLED, LoadErrorKind::cancelled},
      {d::kGIO, G_IO_ERROR_CANCELLED, LoadErrorKind::cancelled},
      {d::kWebKitPolicy, WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE, LoadErrorKind::cancelled},
      {d::kGIO, G_IO_ERROR_NETWORK_UNREACHABLE, LoadErrorKind::offline},
      {d::kGIO, G_IO_ERROR_HOST_UNREACHABLE, LoadErrorKind::offline},
      {d::kGIO, G_IO_ERROR_CONNECTION_CLOSED, LoadErrorKind::offline},
      {d::kResolver, G_RESOLVER_ERROR_NOT_FOUND, LoadErrorKind::offline},
      {d::kResolver, G_RESOLVER_ERROR_TEMPORARY_FAILURE, LoadErrorKind::offline},
      {d::kGIO, G_IO_ERROR_CONNECTION_REFUSED, LoadErrorKind::network},
      {d::kGIO, G_IO_ERROR_TIMED_OUT, LoadErrorKind::network},
      {d::kTLS, G_TLS_ERROR_BAD_CERTIFICATE, LoadErrorKind::network},
      {d::kWebKitNetwork, WEBKIT_NETWORK_ERROR_FAILED, LoadErrorKind::network},
      {d::kWebKitNetwork, WEBKIT_NETWORK_ERROR_TRANSPORT, LoadErrorKind::network},
      {d::kPinning, 1, LoadErrorKind::network},
      {d::kWebKitPolicy, WEBKIT_POLICY_ERROR_CANNOT_SHOW_URI, LoadErrorKind::other},
      {"WebKitDownloadError", 400, LoadErrorKind::other},
      {"some-other-quark", G_IO_ERROR_CANCELLED, LoadErrorKind::other},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(classifyLoadError({c.domain, c.code, "message", std::nullopt}), c.kind) << c.domain << " #" << c.code;
  }
}

TEST(LoadErrorClassifier, DomainNamesAreTheQuarksOfTheLibraries) {
  EXPECT_STREQ(g_quark_to_string(G_IO_ERROR), load_error_domain::kGIO);
  EXPECT_STREQ(g_quark_to_string(G_RESOLVER_ERROR), load_error_domain::kResolver);
  EXPECT_STREQ(g_quark_to_string(G_TLS_ERROR), load_error_domain::kTLS);
  EXPECT_STREQ(g_quark_to_string(WEBKIT_NETWORK_ERROR), load_error_domain::kWebKitNetwork);
  EXPECT_STREQ(g_quark_to_string(WEBKIT_POLICY_ERROR), load_error_domain::kWebKitPolicy);
}

}  // namespace
}  // namespace orvik
