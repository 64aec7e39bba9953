// Runs script in a WebKit page and waits for its answer, for the files tests
// and the orvikfile benchmark. Iterates GLib's default main context while it
// waits; call it from that context's thread.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

typedef struct _WebKitWebView WebKitWebView;

namespace orvik::testing {

struct PageFunctionResult {
  nlohmann::json value;  // the returned value as JSON (null when none)
  std::string error;     // the exception's message; empty on success
};

// Runs `body` as the body of an async function in `view`'s page.
PageFunctionResult runAsyncFunctionInPage(WebKitWebView* view, const std::string& body);

}  // namespace orvik::testing
