// Signalling figures against the local call server on 127.0.0.1: how long a
// connect takes (WebSocket upgrade, Engine.IO open, namespace join), an ack
// round trip, and how soon the client is back after a server restart.
//
//   build/bench/bench_signaling [rounds]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "calls/signaling/socketio/socket_io_client.h"
#include "calls/signaling/test_support/call_server.h"
#include "platform/dispatch/glib_main_queue.h"
#include "platform/test_support/main_loop.h"
#include "platform/test_support/temp_dir.h"

namespace {

using namespace orvik;
using Clock = std::chrono::steady_clock;
using nlohmann::json;

double millisSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void report(const char* what, std::vector<double> samples) {
  if (samples.empty()) {
    std::printf("%-34s no samples\n", what);
    return;
  }
  std::sort(samples.begin(), samples.end());
  auto at = [&samples](double q) { return samples[std::min(samples.size() - 1, std::size_t(q * samples.size()))]; };
  std::printf("%-34s median %8.3f ms   p90 %8.3f ms   min %8.3f ms   (n=%zu)\n", what, at(0.5), at(0.9),
              samples.front(), samples.size());
}

std::shared_ptr<socketio::SocketIOClient> makeClient(const testing::CallServer& server, const std::string& caFile) {
  socketio::SocketIOOptions options;
  options.path = "/calling";
  options.connectParams = {{"token", "bench"}, {"userNumber", "1"}, {"deviceUdid", "bench"}};
  socketio::TransportOptions transport;
  transport.caFile = caFile;
  return socketio::SocketIOClient::make(server.url(), options, socketio::soupTransportFactory(transport));
}

bool connected(const std::shared_ptr<socketio::SocketIOClient>& client) {
  return testing::runMainLoopUntil([&] { return client->status() == socketio::SocketStatus::connected; }, 20.0);
}

int runScheme(bool tls, int rounds, testing::TempDir& dir) {
  testing::CallServerOptions options;
  std::string caFile;
  if (tls) {
    options.certFile = dir / "cert.pem";
    options.keyFile = dir / "key.pem";
    caFile = options.certFile.string();
  }
  std::string error;
  auto server = testing::CallServer::start(options, error);
  if (!server) {
    std::fprintf(stderr, "call server: %s\n", error.c_str());
    return 1;
  }
  const char* scheme = tls ? "wss" : "ws";
  std::vector<double> connects;
  for (int i = 0; i < rounds; ++i) {
    auto client = makeClient(*server, caFile);
    const auto start = Clock::now();
    client->connect();
    if (!connected(client)) return 1;
    connects.push_back(millisSince(start));
    client->disconnect();
  }
  report((std::string(scheme) + " connect").c_str(), connects);

  auto client = makeClient(*server, caFile);
  client->connect();
  if (!connected(client)) return 1;
  std::vector<double> acks;
  const json args = json::array({json{{"type", "candidate"}, {"to", "9_phone"}, {"candidate", "candidate:1 1 udp 2122260223 192.0.2.1 50000 typ host"}}});
  for (int i = 0; i < rounds * 50; ++i) {
    bool done = false;
    const auto start = Clock::now();
    client->emitWithAck("echo", args, 10.0, [&done](const json&) { done = true; });
    if (!testing::runMainLoopUntil([&done] { return done; }, 10.0)) return 1;
    acks.push_back(millisSince(start));
  }
  report((std::string(scheme) + " ack round trip").c_str(), acks);

  std::vector<double> reconnects;
  int connectCount = 0;
  client->on("connect", [&connectCount](const json&, const socketio::Ack&) { ++connectCount; });
  const int port = server->port();
  options.port = port;
  for (int i = 0; i < std::max(3, rounds / 4); ++i) {
    server.reset();
    if (!testing::runMainLoopUntil([&] { return client->status() != socketio::SocketStatus::connected; }, 20.0)) return 1;
    server = testing::CallServer::start(options, error);
    if (!server) return 1;
    const auto start = Clock::now();  // the server is listening again
    const int before = connectCount;
    if (!testing::runMainLoopUntil([&] { return connectCount > before; }, 20.0)) return 1;
    reconnects.push_back(millisSince(start));
  }
  report((std::string(scheme) + " back after server restart").c_str(), reconnects);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
  platform::GlibMainQueue queue;
  platform::ScopedMainQueue main(queue);
  testing::TempDir dir;
  if (!testing::CallServer::makeThrowawayCertificate(dir / "cert.pem", dir / "key.pem")) {
    std::fprintf(stderr, "openssl could not make a certificate\n");
    return 1;
  }
  for (bool tls : {false, true}) {
    if (runScheme(tls, rounds, dir) != 0) {
      std::fprintf(stderr, "%s run failed\n", tls ? "wss" : "ws");
      return 1;
    }
  }
  return 0;
}
