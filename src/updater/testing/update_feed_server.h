// The local update download host of tools/devservice (update-feed.js),
// started for a test: its addresses, the connection settings that trust it,
// and the requests each of its servers received.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/test_support/background_process.h"
#include "updater/update_http_client.h"

namespace orvik::testing {

class UpdateFeedServer {
 public:
  // Null (with a message on standard error) when it did not come up.
  static std::unique_ptr<UpdateFeedServer> start(const std::string& folder);

  std::string url;        // https://127.0.0.1:port (pinned chain)
  std::string localhost;  // the same server as https://localhost:port
  std::string unpinned;   // a trusted but unpinned chain
  std::string http;       // plain HTTP
  std::string sha256;     // of /archives/update.tar
  std::string caFile;
  std::vector<std::string> pins;
  std::string requestsFile;

  // Trusts the server's root, allows 127.0.0.1 and pins its intermediate.
  UpdateConnectionSettings settings() const;
  // "server path" of every request so far ("pinned /feed.json").
  std::vector<std::string> requests() const;
  bool received(const std::string& server) const;

 private:
  std::unique_ptr<BackgroundProcess> process_;
};

// The archive bytes the server makes for a size.
std::string updateArchiveBytes(std::size_t size);

}  // namespace orvik::testing
