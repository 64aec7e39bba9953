// Test double of PageScriptSink: keeps every script it was asked to evaluate.
#pragma once

#include <string>
#include <vector>

#include "platform/page_call.h"

namespace orvik::platform {

class RecordingPageScriptSink final : public PageScriptSink {
 public:
  void evaluateScript(const std::string& script) override { scripts.push_back(script); }
  std::vector<std::string> scripts;
};

}  // namespace orvik::platform
