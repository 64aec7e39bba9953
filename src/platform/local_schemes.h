// The program's own URL schemes and the one way they are registered on a
// WebKit web context: secure and CORS-enabled (so the https page reaches them
// by fetch() and media elements), answered by the handler given. The web
// session (web/web_session.h) registers both for the program; tests and
// benchmarks register them on contexts of their own through the same call.
//
// THREAD-SAFETY: main queue (WebKit calls scheme handlers there).
#pragma once

#include <functional>
#include <string_view>

typedef struct _WebKitURISchemeRequest WebKitURISchemeRequest;
typedef struct _WebKitWebContext WebKitWebContext;

namespace orvik::platform {

// Local files the page may load back (files/orvik_file_scheme_handler.h).
inline constexpr const char* kOrvikFileScheme = "orvikfile";
// Files the user picked for upload.
inline constexpr const char* kOrvikUploadScheme = "orvikupload";

using SchemeRequestHandler = std::function<void(WebKitURISchemeRequest* request)>;

// Registers `scheme` on `context`: every request goes to `handler`, which
// must finish it. The handler lives as long as the context.
void registerLocalScheme(WebKitWebContext* context, const char* scheme, SchemeRequestHandler handler);

}  // namespace orvik::platform
