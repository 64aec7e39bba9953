#include "web/load_diagnostics.h"

#include <cstdio>

#include <glib.h>

#include "platform/dispatch/clock.h"
#include "platform/platform_log.h"

namespace orvik {
namespace {

// Stands in for the core's web-load diagnostics until it is wired here: it
// keeps the record format and writes the lines to the platform log.
// TODO(#3): return an adapter over WebLoadDiagnostics::shared() instead.
class StandInLoadDiagnostics final : public LoadDiagnostics {
 public:
  void loadStarted(const std::optional<std::string>& url) override {
    startedAt_ = platform::systemClock().monotonicNow();
    record("load started url=" + redactedURLString(url), false);
  }
  void loadFinished(const std::optional<std::string>& url) override {
    record("load finished url=" + redactedURLString(url) + " after=" + elapsedSinceLoadStart(), false);
  }
  void loadFailed(const std::string& stage, const std::optional<LoadError>& error,
                  const std::string& details) override {
    std::string line = "FAIL stage=" + stage + " after=" + elapsedSinceLoadStart();
    if (error) {
      line += " error=" + error->domain + "#" + std::to_string(error->code) + " desc=\"" + error->message + "\"";
      if (error->failingURI) line += " failingURL=" + redactedURLString(error->failingURI);
    }
    if (!details.empty()) line += " details=" + details.substr(0, 2000);
    record(line, true);
  }
  void record(const std::string& line, bool isError) override {
    platform::platformLog(std::string("[WebLoad] ") + (isError ? "❌ " : "") + line);
  }
  std::string elapsedSinceLoadStart() const override {
    if (!startedAt_) return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.1fs", platform::systemClock().secondsSince(*startedAt_));
    return text;
  }
  std::string redactedURLString(const std::optional<std::string>& url) const override {
    if (!url) return "nil";
    GUri* uri = g_uri_parse(url->c_str(), G_URI_FLAGS_ENCODED, nullptr);
    if (!uri) return "?";
    GUri* bare = g_uri_build(G_URI_FLAGS_ENCODED, g_uri_get_scheme(uri), nullptr, g_uri_get_host(uri),
                             g_uri_get_port(uri), g_uri_get_path(uri), nullptr, nullptr);
    char* text = g_uri_to_string(bare);
    std::string result = text ? text : "?";
    g_free(text);
    g_uri_unref(bare);
    g_uri_unref(uri);
    return result;
  }

 private:
  std::optional<platform::Clock::MonotonicTime> startedAt_;
};

}  // namespace

LoadDiagnostics& webLoadDiagnostics() {
  static StandInLoadDiagnostics diagnostics;
  return diagnostics;
}

}  // namespace orvik
