#include "platform/local_schemes.h"

#include <webkit/webkit.h>

namespace orvik::platform {

void registerLocalScheme(WebKitWebContext* context, const char* scheme, SchemeRequestHandler handler) {
  webkit_web_context_register_uri_scheme(
      context, scheme,
      [](WebKitURISchemeRequest* request, gpointer data) { (*static_cast<SchemeRequestHandler*>(data))(request); },
      new SchemeRequestHandler(std::move(handler)),
      [](gpointer data) { delete static_cast<SchemeRequestHandler*>(data); });
  WebKitSecurityManager* security = webkit_web_context_get_security_manager(context);
  webkit_security_manager_register_uri_scheme_as_secure(security, scheme);
  webkit_security_manager_register_uri_scheme_as_cors_enabled(security, scheme);
}

}  // namespace orvik::platform
