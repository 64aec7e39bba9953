#include "calls/signaling/test_support/call_server.h"

#include "platform/test_support/main_loop.h"
#include "platform/test_support/subprocess.h"

namespace orvik::testing {
namespace {

const std::filesystem::path kServiceDir = std::filesystem::path(ORVIK_SOURCE_DIR) / "tools" / "devservice";

}  // namespace

std::unique_ptr<CallServer> CallServer::start(const CallServerOptions& options, std::string& error) {
  if (!hasProgram("node")) {
    error = "node is not installed (scripts/deps installs it)";
    return nullptr;
  }
  if (!std::filesystem::exists(kServiceDir / "node_modules" / "socket.io")) {
    error = "tools/devservice has no node_modules (scripts/deps runs npm ci there)";
    return nullptr;
  }
  std::vector<std::string> argv = {"node", (kServiceDir / "call_server.js").string(),
                                   "--port", std::to_string(options.port),
                                   "--ping-interval", std::to_string(options.pingIntervalMs),
                                   "--ping-timeout", std::to_string(options.pingTimeoutMs)};
  if (!options.certFile.empty()) {
    argv.insert(argv.end(), {"--tls-cert", options.certFile.string(), "--tls-key", options.keyFile.string()});
  }
  if (!options.iceServersJson.empty()) argv.insert(argv.end(), {"--ice-servers", options.iceServersJson});
  auto server = std::unique_ptr<CallServer>(new CallServer());
  server->process_ = BackgroundProcess::start(argv);
  if (!server->process_) {
    error = "could not start node";
    return nullptr;
  }
  const auto first = server->waitForReport([](const nlohmann::json& report) { return report.contains("listening"); },
                                           30.0);
  if (!first) {
    error = "the call server did not start listening";
    return nullptr;
  }
  server->port_ = (*first)["listening"].get<int>();
  server->url_ = (*first)["url"].get<std::string>();
  return server;
}

bool CallServer::makeThrowawayCertificate(const std::filesystem::path& certFile, const std::filesystem::path& keyFile) {
  const auto result = runProcess({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                                  "ec_paramgen_curve:prime256v1", "-nodes", "-days", "2", "-subj", "/CN=127.0.0.1",
                                  "-addext", "subjectAltName=IP:127.0.0.1", "-keyout", keyFile.string(), "-out",
                                  certFile.string()});
  return result.exitCode == 0 && std::filesystem::exists(certFile);
}

std::optional<nlohmann::json> CallServer::waitForReport(const std::function<bool(const nlohmann::json&)>& match,
                                                        double timeoutSeconds, std::size_t from) {
  nlohmann::json found;
  const auto line = process_->waitForLine(
      [&](const std::string& text) {
        auto report = nlohmann::json::parse(text, nullptr, false);
        if (!report.is_object() || !match(report)) return false;
        found = std::move(report);
        return true;
      },
      timeoutSeconds, from);
  if (!line) return std::nullopt;
  return found;
}

std::optional<nlohmann::json> CallServer::runMainLoopUntilFrame(const std::string& fromUser, const std::string& type,
                                                                std::size_t from, double timeoutSeconds) {
  std::optional<nlohmann::json> frame;
  const auto match = [&](const nlohmann::json& r) {
    return r.value("event", "") == "call" && r.value("from", "") == fromUser && r.contains("frame") &&
           r["frame"].value("type", "") == type;
  };
  runMainLoopUntil([&] { return (frame = waitForReport(match, 0.01, from)).has_value(); }, timeoutSeconds);
  return frame;
}

}  // namespace orvik::testing
