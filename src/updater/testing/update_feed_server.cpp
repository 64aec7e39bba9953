#include "updater/testing/update_feed_server.h"

#include <fstream>
#include <iostream>

#include <nlohmann/json.hpp>

namespace orvik::testing {

std::unique_ptr<UpdateFeedServer> UpdateFeedServer::start(const std::string& folder) {
  auto server = std::unique_ptr<UpdateFeedServer>(new UpdateFeedServer());
  server->process_ = BackgroundProcess::start(
      {"node", std::string(ORVIK_SOURCE_DIR) + "/tools/devservice/update-feed.js", "--dir", folder});
  if (!server->process_) return nullptr;
  const auto line = server->process_->waitForLine([](const std::string& text) { return text.find("\"ready\"") != std::string::npos; }, 60.0);
  if (!line) {
    std::cerr << "update-feed.js did not come up\n";
    return nullptr;
  }
  const auto ready = nlohmann::json::parse(*line);
  server->url = ready.at("url");
  server->unpinned = ready.at("unpinned");
  server->http = ready.at("http");
  server->sha256 = ready.at("sha256");
  server->caFile = ready.at("ca");
  server->pins = ready.at("pins").get<std::vector<std::string>>();
  server->requestsFile = ready.at("requests");
  server->localhost = server->url;
  server->localhost.replace(server->localhost.find("127.0.0.1"), 9, "localhost");
  return server;
}

UpdateConnectionSettings UpdateFeedServer::settings() const {
  UpdateConnectionSettings settings;
  settings.allowedHosts = {"127.0.0.1"};
  settings.pins = pins;
  std::string error;
  settings.anchors = UpdateTrustAnchors::make(false, caFile, error);
  settings.timeoutSeconds = 20;
  return settings;
}

std::vector<std::string> UpdateFeedServer::requests() const {
  std::vector<std::string> seen;
  std::ifstream in(requestsFile);
  for (std::string line; std::getline(in, line);) {
    const auto entry = nlohmann::json::parse(line, nullptr, false);
    if (entry.is_object()) seen.push_back(entry.value("server", "") + " " + entry.value("path", ""));
  }
  return seen;
}

bool UpdateFeedServer::received(const std::string& server) const {
  for (const auto& request : requests()) {
    if (request.rfind(server + " ", 0) == 0) return true;
  }
  return false;
}

std::string updateArchiveBytes(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 31 + 7) % 251);
  return bytes;
}

}  // namespace orvik::testing
