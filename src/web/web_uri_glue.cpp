#include "web/web_uri_glue.h"

#include <gio/gio.h>

namespace orvik {

std::string hostOf(const std::string& uri) {
  GUri* parsed = g_uri_parse(uri.c_str(), G_URI_FLAGS_NONE, nullptr);
  if (!parsed) return {};
  std::string host = g_uri_get_host(parsed) ? g_uri_get_host(parsed) : "";
  g_uri_unref(parsed);
  return host;
}

std::string schemeOf(const std::string& uri) {
  const char* scheme = g_uri_peek_scheme(uri.c_str());
  return scheme ? scheme : "";
}

std::vector<DerBytes> chainOf(GTlsCertificate* certificate) {
  std::vector<DerBytes> chain;
  for (GTlsCertificate* current = certificate; current; current = g_tls_certificate_get_issuer(current)) {
    GByteArray* der = nullptr;
    g_object_get(current, "certificate", &der, nullptr);
    if (!der) break;
    chain.emplace_back(der->data, der->data + der->len);
    g_byte_array_unref(der);
  }
  return chain;
}

}  // namespace orvik
