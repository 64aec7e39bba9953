#include "web/web_session.h"

#include "platform/queue_checker.h"

#include <webkit/webkit.h>

namespace orvik {

WebSession::WebSession(Storage storage) {
  context_ = webkit_web_context_new();
  for (const char* scheme : {platform::kOrvikFileScheme, platform::kOrvikUploadScheme}) {
    platform::registerLocalScheme(context_, scheme,
                                  [schemes = schemes_, scheme](WebKitURISchemeRequest* request) {
                                    const auto found = schemes->find(scheme);
                                    if (found != schemes->end() && found->second) {
                                      found->second(request);
                                      return;
                                    }
                                    GError* error = g_error_new(G_IO_ERROR, G_IO_ERROR_NOT_SUPPORTED,
                                                                "%s:// is not available in this build", scheme);
                                    webkit_uri_scheme_request_finish_error(request, error);
                                    g_error_free(error);
                                  });
  }
  networkSession_ = storage == Storage::ephemeral ? webkit_network_session_new_ephemeral()
                                                  : WEBKIT_NETWORK_SESSION(g_object_ref(webkit_network_session_get_default()));
  webkit_network_session_set_tls_errors_policy(networkSession_, WEBKIT_TLS_ERRORS_POLICY_FAIL);
}

WebSession::~WebSession() {
  g_object_unref(networkSession_);
  g_object_unref(context_);
}

void WebSession::setSchemeHandler(const std::string& scheme, platform::SchemeRequestHandler handler) {
  ORVIK_ASSERT_ON_MAIN_QUEUE();
  (*schemes_)[scheme] = std::move(handler);
}

}  // namespace orvik
