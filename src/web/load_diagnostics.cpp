#include "web/load_diagnostics.h"

#include "core/web_load_diagnostics.h"

namespace orvik {
namespace {

// The program's web-load diagnostics behind the web host's interface.
class SharedLoadDiagnostics final : public LoadDiagnostics {
 public:
  void loadStarted(const std::optional<std::string>& url) override { shared().loadStarted(view(url)); }
  void loadFinished(const std::optional<std::string>& url) override { shared().loadFinished(view(url)); }
  void loadFailed(const std::string& stage, const std::optional<LoadError>& error,
                  const std::string& details) override {
    std::optional<WebLoadDiagnostics::LoadError> converted;
    if (error) converted = WebLoadDiagnostics::LoadError{error->domain, error->code, error->message, error->failingURI};
    shared().loadFailed(stage, converted, details);
  }
  void record(const std::string& line, bool isError) override { shared().record(line, isError); }
  std::string elapsedSinceLoadStart() const override { return shared().elapsedSinceLoadStart(); }
  std::string redactedURLString(const std::optional<std::string>& url) const override {
    return WebLoadDiagnostics::redactedURLString(view(url));
  }

 private:
  static WebLoadDiagnostics& shared() { return WebLoadDiagnostics::shared(); }
  static std::optional<std::string_view> view(const std::optional<std::string>& url) {
    if (!url) return std::nullopt;
    return std::string_view(*url);
  }
};

}  // namespace

LoadDiagnostics& webLoadDiagnostics() {
  static SharedLoadDiagnostics diagnostics;
  return diagnostics;
}

}  // namespace orvik
