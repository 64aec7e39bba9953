// The main web view as the load state and the render checks see it. The real
// one is WebViewHost's (WebKitGTK); tests use a scripted fake.
//
// Owner: the web view host. THREAD-SAFETY: main queue only.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace orvik {

enum class CachePolicy {
  useProtocolCachePolicy,
  returnCacheDataElseLoad,
};

class WebPage {
 public:
  using EvaluationDone =
      std::function<void(std::optional<std::string> value, std::optional<std::string> evaluationError)>;

  virtual ~WebPage() = default;

  // The address of the current page, none before the first load.
  virtual std::optional<std::string> currentURI() const = 0;
  // Evaluates `script` in the page's main world; `done` gets the result when it
  // is a string (else none) or the error text. May never be called when the
  // page hangs.
  virtual void evaluateForResult(const std::string& script, EvaluationDone done) = 0;
  // Reloads the current page; false when no navigation started.
  virtual bool reload() = 0;
  virtual void load(const std::string& uri, CachePolicy policy) = 0;
  // Whether the view sits in a window that is shown.
  virtual bool isInVisibleWindow() const = 0;
};

}  // namespace orvik
