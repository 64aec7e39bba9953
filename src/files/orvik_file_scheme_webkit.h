// WebKitGTK glue of the orvikfile:// handler: a WebKitURISchemeRequest becomes
// an OrvikFileSchemeHandler::Request, and the handler's result goes back as a
// WebKitURISchemeResponse (status and headers, Content-Type among them, since
// set_content_type alone does not reach fetch()) or as a failed load carrying
// the error's text. Bodies kept as a file span are streamed from the file as
// WebKit reads them.
// THREAD-SAFETY: main queue (WebKit calls scheme handlers there).
#pragma once

#include <functional>
#include <memory>

#include "files/orvik_file_scheme_handler.h"

typedef struct _WebKitURISchemeRequest WebKitURISchemeRequest;
typedef struct _WebKitWebContext WebKitWebContext;

namespace orvik {

// Answers one request with `handler`; the request is kept alive until then.
void answerOrvikFileRequest(const std::shared_ptr<OrvikFileSchemeHandler>& handler, WebKitURISchemeRequest* request);

// What the program's web session answers "orvikfile" with
// (WebSession::setSchemeHandler, done by the composition root).
std::function<void(WebKitURISchemeRequest*)> orvikFileRequestHandler(std::shared_ptr<OrvikFileSchemeHandler> handler);

// Registers "orvikfile" on a context of our own (tests, benchmarks) through
// platform::registerLocalScheme, as the program's web session does.
void registerOrvikFileScheme(WebKitWebContext* context, std::shared_ptr<OrvikFileSchemeHandler> handler);

}  // namespace orvik
