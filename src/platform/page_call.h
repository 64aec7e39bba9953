// Native → page calls. Every call of a page function is built here: the call
// is guarded so that it runs only when the page defines the function, and
// every argument is encoded as a JSON literal (strings included, with U+2028
// and U+2029 escaped), so page input and file paths never become script text.
//
//   callPage(sink, pageFunctionCall("__orvikOnTheme", {true}));
//   // if (typeof window.__orvikOnTheme === 'function') window.__orvikOnTheme(true);
//
// THREAD-SAFETY: the builders are pure; callPage may be called from any thread
// and evaluates on the main queue.
#pragma once

#include <concepts>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

namespace orvik::platform {

// What a page script gave back: its value as JSON (null when it returned
// nothing or something JSON cannot hold), or the evaluation's error text.
struct PageScriptResult {
  std::optional<std::string> error;
  nlohmann::json value;
};
using PageScriptCompletion = std::function<void(const PageScriptResult& result)>;

// Where page scripts go: the main web view (or a call window's) in the
// program, a recording fake in tests. Main queue only.
class PageScriptSink {
 public:
  virtual ~PageScriptSink() = default;
  // Evaluates `script` in the page's main world, without waiting for or
  // inspecting a result.
  virtual void evaluateScript(const std::string& script) = 0;
  // Evaluates `script` and reports its result later, on the main queue.
  virtual void evaluateScript(const std::string& script, PageScriptCompletion completion) = 0;
};

// A JavaScript literal for `value`: compact JSON, U+2028/U+2029 escaped,
// invalid UTF-8 replaced by U+FFFD; "null" for a value nested deeper than
// platform::kMaxJsonDepth.
std::string jsLiteral(const nlohmann::json& value);

// Whether `name` is a plain JavaScript identifier (what page functions and
// page objects are named); builders refuse anything else.
bool isPageIdentifier(std::string_view name);

// "if (typeof window.fn === 'function') window.fn(a, b);" — empty when `fn`
// is not an identifier.
std::string pageFunctionCall(std::string_view fn, std::initializer_list<nlohmann::json> args = {});
std::string pageFunctionCall(std::string_view fn, const std::vector<nlohmann::json>& args);

// "if (window.obj && typeof window.obj.method === 'function') window.obj.method(a);"
std::string pageMethodCall(std::string_view object, std::string_view method,
                           std::initializer_list<nlohmann::json> args = {});
std::string pageMethodCall(std::string_view object, std::string_view method, const std::vector<nlohmann::json>& args);

// Script text built by the helpers below, never page input pasted by hand.
struct JsExpression {
  std::string text;
};

// One argument of a page call: any JSON value (encoded by jsLiteral) or an
// expression built here.
class JsArgument {
 public:
  template <typename T>
    requires std::constructible_from<nlohmann::json, T>
  JsArgument(T&& value) : text_(jsLiteral(nlohmann::json(std::forward<T>(value)))) {}  // NOLINT: implicit by design
  JsArgument(JsExpression expression) : text_(std::move(expression.text)) {}  // NOLINT: implicit by design
  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

// "(function(){ if (window.fn) { window.fn(a, b); return true; } return false; })();"
// — the script's result tells whether the page function existed and was
// called. Empty when `fn` is not an identifier.
std::string pageFunctionCallReportingPresence(std::string_view fn, const std::vector<JsArgument>& args);

// A JavaScript object literal with its keys in the given order:
// "{ key: value, other: value }" (values JSON-encoded as by jsLiteral).
// Keys must be identifiers; others are skipped.
JsExpression jsObjectLiteral(const std::vector<std::pair<std::string, nlohmann::json>>& entries);

// Queues `script` on the main queue; it is evaluated then if the sink is
// still alive, and dropped otherwise. Empty scripts are dropped.
void callPage(std::weak_ptr<PageScriptSink> sink, std::string script);
// The same, reporting the script's result; the completion is dropped with
// the script when the sink is gone.
void callPage(std::weak_ptr<PageScriptSink> sink, std::string script, PageScriptCompletion completion);

}  // namespace orvik::platform
