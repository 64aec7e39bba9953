// A real HTTP(S) server on a free loopback port for integration tests, running
// on the thread-default main context (the test iterates it while it waits),
// and a throwaway certificate authority made with the openssl tool.
//
//   TestCertificates certificates(dir.path());          // CA + P-384 leaf for 127.0.0.1
//   LocalWebServer server(&certificates);
//   server.route("/", {200, "text/html", "<div id=root><p>hi</p></div>"});
//   webView.load(server.url("/"));
//
// THREAD-SAFETY: the thread that made it, only.
#pragma once

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

typedef struct _SoupServer SoupServer;
typedef struct _SoupServerMessage SoupServerMessage;
typedef struct _GHashTable GHashTable;

namespace orvik::testing {

// A CA and a leaf for 127.0.0.1 signed by it, both P-384 (a key kind the
// pinning accepts), written into `folder`: ca.pem, leaf.pem, leaf.key.
class TestCertificates {
 public:
  explicit TestCertificates(const std::filesystem::path& folder);
  std::filesystem::path caFile, leafFile, leafKeyFile;
  bool ok = false;
};

class LocalWebServer {
 public:
  struct Response {
    int status = 200;
    std::string contentType = "text/html";
    std::string body;
    // Keep the connection open without answering (a load that never ends).
    bool hang = false;
  };

  // HTTPS with `certificates`, plain HTTP without.
  explicit LocalWebServer(const TestCertificates* certificates = nullptr);
  ~LocalWebServer();
  LocalWebServer(const LocalWebServer&) = delete;
  LocalWebServer& operator=(const LocalWebServer&) = delete;

  void route(const std::string& path, Response response) { routes_[path] = std::move(response); }
  // "scheme://host:port" + path.
  std::string url(const std::string& path, const std::string& host = "127.0.0.1") const;
  int port() const { return port_; }
  // Every request so far as "host path" (host without the port).
  const std::vector<std::string>& requests() const { return requests_; }
  bool received(const std::string& path) const;

 private:
  static void handle(SoupServer*, SoupServerMessage* message, const char* path, GHashTable*, void* self);

  SoupServer* server_ = nullptr;
  bool https_ = false;
  int port_ = 0;
  std::map<std::string, Response> routes_;
  std::vector<std::string> requests_;
  std::vector<SoupServerMessage*> hanging_;
};

}  // namespace orvik::testing
