// Captures the lines that reach the shared native logger during a test: it
// empties the logger's waiting lines at construction and reads them back.
#pragma once

#include <string>
#include <vector>

#include "core/native_logger.h"

namespace orvik::testing {

class LogCapture {
 public:
  LogCapture() {
    // Refusing the console empties the buffer; allowing it again (with no
    // page attached) keeps every later line waiting where lines() reads it.
    NativeLogger::shared().setWebConsoleAllowed(false);
    NativeLogger::shared().setWebConsoleAllowed(true);
  }

  std::vector<std::string> lines(const std::string& level = "") const {
    std::vector<std::string> result;
    for (const auto& [line, lineLevel] : NativeLogger::shared().pendingLines()) {
      if (level.empty() || lineLevel == level) result.push_back(line);
    }
    return result;
  }

  bool contains(const std::string& line) const {
    for (const auto& logged : lines()) {
      if (logged == line) return true;
    }
    return false;
  }
};

}  // namespace orvik::testing
