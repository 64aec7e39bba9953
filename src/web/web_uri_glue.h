// Small readings of what WebKit hands the web views: a URI's host and
// scheme, and the certificate chain of a loaded page. Shared by the main web
// view and the call-window web views.
// THREAD-SAFETY: pure functions.
#pragma once

#include <string>
#include <vector>

#include "web/certificate_pinning.h"

typedef struct _GTlsCertificate GTlsCertificate;

namespace orvik {

// Empty when `uri` does not parse or has no host.
std::string hostOf(const std::string& uri);
std::string schemeOf(const std::string& uri);
// The certificate and its issuers as WebKit saw them, server's first.
std::vector<DerBytes> chainOf(GTlsCertificate* certificate);

}  // namespace orvik
