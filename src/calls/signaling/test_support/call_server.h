// The local call server (tools/devservice/call_server.js) for integration
// tests and benchmarks: started on a free loopback port, over ws or wss with a
// throwaway certificate, killed when the object goes. Every line it reports
// on standard output is a JSON object.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/test_support/background_process.h"

namespace orvik::testing {

struct CallServerOptions {
  int port = 0;  // 0: a free port
  // Both set: wss with this certificate and key.
  std::filesystem::path certFile{};
  std::filesystem::path keyFile{};
  int pingIntervalMs = 25000;
  int pingTimeoutMs = 20000;
  // Not empty: the ICE servers the server hands out, as a JSON array.
  std::string iceServersJson{};
};

class CallServer {
 public:
  // Null (and `error` set) when node, the server's npm packages or the port
  // are missing.
  static std::unique_ptr<CallServer> start(const CallServerOptions& options, std::string& error);

  // A self-signed certificate for 127.0.0.1, made with `openssl req`; it is its
  // own CA, so clients trust exactly it by naming `certFile` as their CA file.
  static bool makeThrowawayCertificate(const std::filesystem::path& certFile, const std::filesystem::path& keyFile);

  int port() const { return port_; }
  // "http://127.0.0.1:PORT" or "https://…": what the client is given.
  const std::string& url() const { return url_; }
  BackgroundProcess& process() { return *process_; }

  // The first report at index `from` or later with `match` true.
  std::optional<nlohmann::json> waitForReport(const std::function<bool(const nlohmann::json&)>& match,
                                              double timeoutSeconds = 10.0, std::size_t from = 0);
  std::size_t reportCount() const { return process_->lineCount(); }
  // The first "call" frame of `type` from user `fromUser` reported at index
  // `from` or later, waited for while the main loop runs (the callers' own
  // engines live on it).
  std::optional<nlohmann::json> runMainLoopUntilFrame(const std::string& fromUser, const std::string& type,
                                                      std::size_t from, double timeoutSeconds = 20.0);

 private:
  std::unique_ptr<BackgroundProcess> process_;
  int port_ = 0;
  std::string url_;
};

}  // namespace orvik::testing
