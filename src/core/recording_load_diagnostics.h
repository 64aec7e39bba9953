// Test double of LoadDiagnostics: keeps every record as a line
// ("started …", "finished …", "FAIL stage=… details=…", "record …").
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "core/load_diagnostics.h"

namespace orvik {

class RecordingLoadDiagnostics final : public LoadDiagnostics {
 public:
  void loadStarted(const std::optional<std::string>& url) override { lines.push_back("started " + redactedURLString(url)); }
  void loadFinished(const std::optional<std::string>& url) override {
    lines.push_back("finished " + redactedURLString(url));
  }
  void loadFailed(const std::string& stage, const std::optional<LoadError>& error,
                  const std::string& details) override {
    std::string line = "FAIL stage=" + stage;
    if (error) line += " error=" + error->domain + "#" + std::to_string(error->code);
    if (!details.empty()) line += " details=" + details;
    lines.push_back(line);
  }
  void record(const std::string& line, bool isError) override {
    lines.push_back((isError ? "error " : "record ") + line);
  }
  std::string elapsedSinceLoadStart() const override { return "1.0s"; }
  std::string redactedURLString(const std::optional<std::string>& url) const override {
    if (!url) return "nil";
    return url->substr(0, url->find_first_of("?#"));
  }

  bool has(const std::string& prefix) const {
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& line) { return line.rfind(prefix, 0) == 0; });
  }
  std::size_t count(const std::string& prefix) const {
    return std::count_if(lines.begin(), lines.end(),
                         [&](const std::string& line) { return line.rfind(prefix, 0) == 0; });
  }

  std::vector<std::string> lines;
};

}  // namespace orvik
