#include "web/render_check.h"

#include <algorithm>
#include <cctype>

#include <nlohmann/json.hpp>

#include "core/load_diagnostics.h"
#include "platform/json_limits.h"
#include "web/web_page.h"

namespace orvik {

const char* const kRenderCheckScript =
    "(function() {\n"
    "  var r = document.getElementById('root');\n"
    "  return JSON.stringify({\n"
    "    rendered: !!(r && r.childElementCount > 0),\n"
    "    hasRoot: !!r,\n"
    "    readyState: document.readyState,\n"
    "    errors: window.__orvikLoadErrors || []\n"
    "  });\n"
    "})();";

namespace {

std::string joinedErrors(const nlohmann::json& reply) {
  const auto errors = reply.find("errors");
  if (errors == reply.end() || !errors->is_array() || errors->empty()) return " jsErrors=none";
  std::string joined;
  for (const auto& entry : *errors) {
    if (!entry.is_string()) return " jsErrors=none";
    if (!joined.empty()) joined += " | ";
    joined += entry.get<std::string>();
  }
  return " jsErrors=[" + joined + "]";
}

std::string lowerScheme(const std::string& uri) {
  const auto colon = uri.find(':');
  if (colon == std::string::npos) return {};
  std::string scheme = uri.substr(0, colon);
  std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return scheme;
}

}  // namespace

RenderCheckResult parseRenderCheckReply(const std::optional<std::string>& value,
                                        const std::optional<std::string>& evaluationError) {
  const auto reply = value ? platform::parseOutsideJson(*value, value->size()).value_or(nullptr) : nlohmann::json();
  if (!reply.is_object()) {
    return {false, "evalError=" + evaluationError.value_or("no result")};
  }
  const auto rendered = reply.find("rendered");
  const auto hasRoot = reply.find("hasRoot");
  const auto readyState = reply.find("readyState");
  std::string details = "hasRoot=";
  details += (hasRoot != reply.end() && hasRoot->is_boolean() && hasRoot->get<bool>()) ? "true" : "false";
  details += " readyState=";
  details += (readyState != reply.end() && readyState->is_string()) ? readyState->get<std::string>() : "?";
  details += joinedErrors(reply);
  return {rendered != reply.end() && rendered->is_boolean() && rendered->get<bool>(), details};
}

void runRenderCheck(platform::TaskQueue& queue, const LoadDiagnostics& diagnostics, std::weak_ptr<WebPage> page,
                    std::function<void(RenderCheckResult)> done) {
  auto view = page.lock();
  if (!view) {
    done({false, "webView=nil"});
    return;
  }
  const auto uri = view->currentURI();
  const std::string scheme = uri ? lowerScheme(*uri) : std::string();
  if (scheme != "http" && scheme != "https") {
    done({uri.has_value(), "url=" + diagnostics.redactedURLString(uri)});
    return;
  }
  // Shared by the reply and the no-reply step: whichever comes first answers.
  auto answer = std::make_shared<std::function<void(RenderCheckResult)>>(std::move(done));
  queue.postAfter(kRenderCheckReplyLimitSeconds, [answer] {
    if (auto pending = std::exchange(*answer, nullptr)) pending({false, kRenderCheckNoReplyDetails});
  });
  view->evaluateForResult(kRenderCheckScript, [&queue, answer](std::optional<std::string> value,
                                                               std::optional<std::string> error) {
    // WebKit answers on the main thread already; posting keeps the order of
    // the answer the same whether the reply or the time-out comes first.
    queue.post([answer, value = std::move(value), error = std::move(error)] {
      if (auto pending = std::exchange(*answer, nullptr)) pending(parseRenderCheckReply(value, error));
    });
  });
}

}  // namespace orvik
