// Test double of PageScriptSink: keeps every script it was asked to evaluate
// and answers scripts that want a result with `reply` (null by default),
// synchronously.
#pragma once

#include <string>
#include <vector>

#include "platform/page_call.h"

namespace orvik::platform {

class RecordingPageScriptSink final : public PageScriptSink {
 public:
  void evaluateScript(const std::string& script) override { scripts.push_back(script); }
  void evaluateScript(const std::string& script, PageScriptCompletion completion) override {
    scripts.push_back(script);
    PageScriptResult result = reply ? reply(script) : PageScriptResult{};
    if (completion) completion(result);
  }

  std::vector<std::string> scripts;
  std::function<PageScriptResult(const std::string& script)> reply;
};

}  // namespace orvik::platform
