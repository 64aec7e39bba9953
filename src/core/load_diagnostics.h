// What the web host records about its loads: the calls it makes on the
// program's web-load diagnostics (the "web_load_diagnostics.log" file and the
// system log). Kept as an interface so that the load-state logic is tested
// with a recording double.
//
// Owner: the composition root (WebLoadDiagnosticsRecorder over the program's
// WebLoadDiagnostics); the web host holds a reference. THREAD-SAFETY: the web host calls it on the main queue.
#pragma once

#include <optional>
#include <string>

#include "core/load_error.h"

namespace orvik {

class LoadDiagnostics {
 public:
  virtual ~LoadDiagnostics() = default;

  // Stamps the load start and records "load started url=…".
  virtual void loadStarted(const std::optional<std::string>& url) = 0;
  // Records "load finished url=… after=…".
  virtual void loadFinished(const std::optional<std::string>& url) = 0;
  // Records "FAIL stage=<stage> …" as an error.
  virtual void loadFailed(const std::string& stage, const std::optional<LoadError>& error,
                          const std::string& details) = 0;
  virtual void record(const std::string& line, bool isError) = 0;
  // "%.1fs" since the last load start, "-" before any.
  virtual std::string elapsedSinceLoadStart() const = 0;
  // The URL without query, fragment, user and password; "nil" for none.
  virtual std::string redactedURLString(const std::optional<std::string>& url) const = 0;
};

}  // namespace orvik
