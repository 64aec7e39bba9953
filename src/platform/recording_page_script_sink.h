// Test double of PageScriptSink: keeps every script it was asked to evaluate
// and answers scripts that want a result with `reply` (null by default). Like
// the web view it stands for, it completes later, in a task of the main queue
// (run it with the test's VirtualQueue), never inside evaluateScript.
#pragma once

#include <string>
#include <vector>

#include "platform/dispatch/task_queue.h"
#include "platform/page_call.h"

namespace orvik::platform {

class RecordingPageScriptSink final : public PageScriptSink {
 public:
  void evaluateScript(const std::string& script) override { scripts.push_back(script); }
  void evaluateScript(const std::string& script, PageScriptCompletion completion) override {
    scripts.push_back(script);
    // The answer is decided now, as the page runs the script at once.
    PageScriptResult result = reply ? reply(script) : PageScriptResult{};
    if (completion) {
      mainQueue().post([completion = std::move(completion), result = std::move(result)] { completion(result); });
    }
  }

  std::vector<std::string> scripts;
  std::function<PageScriptResult(const std::string& script)> reply;
};

}  // namespace orvik::platform
