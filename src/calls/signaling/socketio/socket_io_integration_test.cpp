// The client against the real npm `socket.io` server (allowEIO3) on
// 127.0.0.1, over ws and over wss with a throwaway certificate.
#include <csignal>

#include <gtest/gtest.h>

#include "calls/signaling/socketio/socket_io_client.h"
#include "calls/signaling/test_support/call_server.h"
#include "platform/dispatch/glib_main_queue.h"
#include "platform/test_support/main_loop.h"
#include "platform/test_support/temp_dir.h"

namespace orvik::socketio {
namespace {

using nlohmann::json;
using orvik::testing::CallServer;
using orvik::testing::CallServerOptions;
using orvik::testing::runMainLoopUntil;

enum class Scheme { ws, wss };

class SocketIOIntegration : public ::testing::TestWithParam<Scheme> {
 protected:
  static void SetUpTestSuite() {
    certDir_ = new orvik::testing::TempDir();
    certOk_ = CallServer::makeThrowawayCertificate(*certDir_ / "cert.pem", *certDir_ / "key.pem");
  }
  static void TearDownTestSuite() {
    delete certDir_;
    certDir_ = nullptr;
  }

  bool tls() const { return GetParam() == Scheme::wss; }

  CallServerOptions serverOptions(int port = 0) const {
    CallServerOptions options;
    options.port = port;
    if (tls()) {
      options.certFile = *certDir_ / "cert.pem";
      options.keyFile = *certDir_ / "key.pem";
    }
    return options;
  }

  void startServer(const CallServerOptions& options) {
    if (tls()) {
      ASSERT_TRUE(certOk_) << "openssl could not make a certificate";
    }
    std::string error;
    server_ = CallServer::start(options, error);
    ASSERT_TRUE(server_) << error;
  }

  void makeClient(SocketIOOptions options = {}) {
    options.path = "/calling";
    if (options.connectParams.empty()) options.connectParams = {{"userNumber", "4711"}, {"deviceUdid", "itest"}};
    TransportOptions transport;
    if (tls()) transport.caFile = (*certDir_ / "cert.pem").string();
    client_ = SocketIOClient::make(server_->url(), std::move(options), soupTransportFactory(transport));
    client_->on("connect", [this](const json&, const Ack&) { ++connects_; });
    client_->on("disconnect", [this](const json& args, const Ack&) { disconnects_.push_back(args); });
  }

  void connect() {
    client_->connect();
    ASSERT_TRUE(runMainLoopUntil([this] { return client_->status() == SocketStatus::connected; }))
        << "not connected to " << client_->socketURL();
  }

  // Sends `args` to the server's "echo" and returns what its ack carried.
  json echo(const json& args, double timeout = 10.0) {
    std::optional<json> reply;
    client_->emitWithAck("echo", args, timeout, [&reply](const json& data) { reply = data; });
    EXPECT_TRUE(runMainLoopUntil([&reply] { return reply.has_value(); }));
    return reply.value_or(json());
  }

  platform::GlibMainQueue queue_;
  platform::ScopedMainQueue main_{queue_};
  std::unique_ptr<CallServer> server_;
  std::shared_ptr<SocketIOClient> client_;
  int connects_ = 0;
  std::vector<json> disconnects_;

  static inline orvik::testing::TempDir* certDir_ = nullptr;
  static inline bool certOk_ = false;
};

INSTANTIATE_TEST_SUITE_P(Schemes, SocketIOIntegration, ::testing::Values(Scheme::ws, Scheme::wss),
                         [](const auto& info) { return info.param == Scheme::ws ? "ws" : "wss"; });

TEST_P(SocketIOIntegration, ConnectsOverWebSocketOnlyWithItsQueryParameters) {
  startServer(serverOptions());
  SocketIOOptions options;
  options.connectParams = {{"token", "tök+en/="}, {"userNumber", "4711"}, {"pushToken", ""}};
  makeClient(options);
  connect();
  const auto report = server_->waitForReport([](const json& r) { return r.value("event", "") == "connection"; });
  ASSERT_TRUE(report);
  EXPECT_EQ((*report)["eio"], 3);
  EXPECT_EQ((*report)["transport"], "websocket");
  EXPECT_EQ((*report)["query"], json({{"token", "tök+en/="}, {"userNumber", "4711"}, {"pushToken", ""}}));
  EXPECT_EQ(connects_, 1);
}

TEST_P(SocketIOIntegration, AcknowledgesInBothDirectionsWithUnicodeManyArgumentsAndLargeMessages) {
  startServer(serverOptions());
  makeClient();
  connect();
  // Client → server, answered by the server's ack.
  const json args = json::array({"Grüße 👋🏽 日本語 \u2028", 42, json{{"nested", {1, 2.5, nullptr, true}}}, json::array()});
  EXPECT_EQ(echo(args), args);
  // Both ways well past libsoup's default 128 KiB limit.
  std::string big;
  for (int i = 0; big.size() < 600 * 1024; ++i) big += "ü" + std::to_string(i) + ",";
  const json bigArgs = json::array({big, json{{"again", big.substr(0, 200 * 1024)}}});
  EXPECT_EQ(echo(bigArgs), bigArgs);
  // Server → client: the server asks for our ack and reports what it got.
  std::optional<json> acked;
  client_->on("echo", [](const json& received, const Ack& ack) {
    ASSERT_TRUE(ack);
    json reply = json::array({"pong"});
    for (const auto& item : received) reply.push_back(item);
    ack(reply);
  });
  client_->on("echoAcked", [&acked](const json& received, const Ack&) { acked = received; });
  client_->emit("echoBack", json::array({"Zoë", 7, big}));
  ASSERT_TRUE(runMainLoopUntil([&acked] { return acked.has_value(); }));
  EXPECT_EQ(*acked, json::array({"pong", "Zoë", 7, big}));
  EXPECT_TRUE(disconnects_.empty());
}

TEST_P(SocketIOIntegration, AnUnansweredAckTimesOutAndTheConnectionStays) {
  startServer(serverOptions());
  makeClient();
  connect();
  std::optional<json> reply;
  client_->emitWithAck("nobodyListens", json::array({1}), 0.3, [&reply](const json& data) { reply = data; });
  ASSERT_TRUE(runMainLoopUntil([&reply] { return reply.has_value(); }));
  EXPECT_EQ(*reply, json::array({kNoAck}));
  EXPECT_EQ(echo(json::array({"still here"})), json::array({"still here"}));
}

TEST_P(SocketIOIntegration, ReconnectsAfterTheServerIsKilledAndRestarted) {
  startServer(serverOptions());
  makeClient();
  connect();
  const int port = server_->port();
  server_.reset();  // killed
  ASSERT_TRUE(runMainLoopUntil([this] { return !disconnects_.empty(); }));
  EXPECT_NE(client_->status(), SocketStatus::connected);
  startServer(serverOptions(port));
  const auto restartedAt = std::chrono::steady_clock::now();
  ASSERT_TRUE(runMainLoopUntil([this] { return connects_ == 2; }));
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - restartedAt).count();
  RecordProperty("reconnectSecondsAfterRestart", std::to_string(seconds));
  EXPECT_EQ(echo(json::array({"back"})), json::array({"back"}));
}

TEST_P(SocketIOIntegration, AFrozenServerIsDeclaredDeadByTheHeartbeat) {
  auto options = serverOptions();
  options.pingIntervalMs = 400;
  options.pingTimeoutMs = 400;
  startServer(options);
  makeClient();
  connect();
  // Pings flow: the connection outlives several intervals.
  ASSERT_FALSE(runMainLoopUntil([this] { return !disconnects_.empty(); }, 2.0));
  server_->process().sendSignal(SIGSTOP);
  ASSERT_TRUE(runMainLoopUntil([this] { return !disconnects_.empty(); }));
  EXPECT_EQ(disconnects_[0], json::array({"ping timeout"}));
  server_->process().sendSignal(SIGCONT);
  ASSERT_TRUE(runMainLoopUntil([this] { return connects_ == 2; }));
}

TEST_P(SocketIOIntegration, DisconnectLeavesTheNamespaceBeforeClosing) {
  startServer(serverOptions());
  makeClient();
  connect();
  client_->disconnect();
  ASSERT_TRUE(runMainLoopUntil([this] { return !disconnects_.empty(); }));
  EXPECT_EQ(disconnects_[0], json::array({"io client disconnect"}));
  const auto report = server_->waitForReport([](const json& r) { return r.value("event", "") == "disconnect"; });
  ASSERT_TRUE(report);
  EXPECT_EQ((*report)["reason"], "client namespace disconnect");
}

}  // namespace
}  // namespace orvik::socketio
