#include "platform/page_call.h"

#include "platform/dispatch/task_queue.h"
#include "platform/json_limits.h"
#include "platform/platform_log.h"

namespace orvik::platform {
namespace {

void replaceAll(std::string& text, std::string_view from, std::string_view to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

std::string joinArguments(const auto& args) {
  std::string joined;
  for (const auto& arg : args) {
    if (!joined.empty()) joined += ", ";
    joined += jsLiteral(arg);
  }
  return joined;
}

std::string buildFunctionCall(std::string_view fn, const auto& args) {
  if (!isPageIdentifier(fn)) {
    platformLog("[PageCall] refused to call a page function with an invalid name");
    return {};
  }
  const std::string target = "window." + std::string(fn);
  return "if (typeof " + target + " === 'function') " + target + "(" + joinArguments(args) + ");";
}

std::string buildMethodCall(std::string_view object, std::string_view method, const auto& args) {
  if (!isPageIdentifier(object) || !isPageIdentifier(method)) {
    platformLog("[PageCall] refused to call a page method with an invalid name");
    return {};
  }
  const std::string owner = "window." + std::string(object);
  const std::string target = owner + "." + std::string(method);
  return "if (" + owner + " && typeof " + target + " === 'function') " + target + "(" + joinArguments(args) + ");";
}

}  // namespace

std::string jsLiteral(const nlohmann::json& value) {
  // Printing recurses once per level: a value nested deeper than any page
  // message (only outside input gets there) goes as null.
  if (isNestedDeeperThan(value)) {
    platformLog("[PageCall] a value nested too deeply was sent as null");
    return "null";
  }
  std::string text = value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  // Valid in JSON, but line terminators inside string literals of older
  // JavaScript engines.
  replaceAll(text, "\u2028", "\\u2028");
  replaceAll(text, "\u2029", "\\u2029");
  return text;
}

bool isPageIdentifier(std::string_view name) {
  if (name.empty()) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '$';
    const bool digit = c >= '0' && c <= '9';
    if (!letter && !(digit && i > 0)) return false;
  }
  return true;
}

std::string pageFunctionCall(std::string_view fn, std::initializer_list<nlohmann::json> args) {
  return buildFunctionCall(fn, args);
}

std::string pageFunctionCall(std::string_view fn, const std::vector<nlohmann::json>& args) {
  return buildFunctionCall(fn, args);
}

std::string pageMethodCall(std::string_view object, std::string_view method,
                           std::initializer_list<nlohmann::json> args) {
  return buildMethodCall(object, method, args);
}

std::string pageMethodCall(std::string_view object, std::string_view method, const std::vector<nlohmann::json>& args) {
  return buildMethodCall(object, method, args);
}

std::string pageFunctionCallReportingPresence(std::string_view fn, const std::vector<JsArgument>& args) {
  if (!isPageIdentifier(fn)) {
    platformLog("[PageCall] refused to call a page function with an invalid name");
    return {};
  }
  std::string joined;
  for (const auto& arg : args) {
    if (!joined.empty()) joined += ", ";
    joined += arg.text();
  }
  const std::string target = "window." + std::string(fn);
  return "(function(){ if (" + target + ") { " + target + "(" + joined + "); return true; } return false; })();";
}

JsExpression jsObjectLiteral(const std::vector<std::pair<std::string, nlohmann::json>>& entries) {
  std::string literal = "{ ";
  bool first = true;
  for (const auto& [key, value] : entries) {
    if (!isPageIdentifier(key)) continue;
    if (!first) literal += ", ";
    first = false;
    literal += key + ": " + jsLiteral(value);
  }
  return {literal + " }"};
}

void callPage(std::weak_ptr<PageScriptSink> sink, std::string script, PageScriptCompletion completion) {
  if (script.empty()) return;
  mainQueue().post([sink = std::move(sink), script = std::move(script), completion = std::move(completion)]() mutable {
    if (auto live = sink.lock()) live->evaluateScript(script, std::move(completion));
  });
}

void callPage(std::weak_ptr<PageScriptSink> sink, std::string script) {
  if (script.empty()) return;
  mainQueue().post([sink = std::move(sink), script = std::move(script)] {
    if (auto live = sink.lock()) live->evaluateScript(script);
  });
}

}  // namespace orvik::platform
