#include "files/test_support/page_function.h"

#include <webkit/webkit.h>

#include "platform/test_support/main_loop.h"

namespace orvik::testing {
namespace {

struct Pending {
  bool done = false;
  PageFunctionResult result;
};

void finished(GObject* source, GAsyncResult* asyncResult, gpointer data) {
  auto* pending = static_cast<Pending*>(data);
  GError* error = nullptr;
  JSCValue* value = webkit_web_view_call_async_javascript_function_finish(WEBKIT_WEB_VIEW(source), asyncResult, &error);
  if (error) {
    pending->result.error = error->message;
    g_error_free(error);
  } else if (value) {
    char* text = jsc_value_to_json(value, 0);
    pending->result.value = nlohmann::json::parse(text ? text : "null", nullptr, false);
    g_free(text);
    g_object_unref(value);
  }
  pending->done = true;
}

}  // namespace

PageFunctionResult runAsyncFunctionInPage(WebKitWebView* view, const std::string& body) {
  Pending pending;
  webkit_web_view_call_async_javascript_function(view, body.c_str(), -1, nullptr, nullptr, nullptr, nullptr, finished,
                                                 &pending);
  runMainLoopUntil([&] { return pending.done; }, 120.0);
  return pending.result;
}

}  // namespace orvik::testing
