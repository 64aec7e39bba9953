#include "calls/signaling/socketio/socket_io_client.h"

#include <gtest/gtest.h>

#include "calls/signaling/socketio/fake_transport.h"
#include "platform/dispatch/virtual_queue.h"

namespace orvik::socketio {
namespace {

using nlohmann::json;

class SocketIOClientTest : public ::testing::Test {
 protected:
  SocketIOClientTest() { makeClient(); }

  void makeClient(SocketIOOptions options = {}) {
    options.path = "/calling";
    client_ = SocketIOClient::make("https://calls.example", std::move(options), hub_.factory());
    client_->setRandomSource([] { return 0.5; });  // no jitter: waits are exactly 0.5, 1, 2, 2 …
  }

  // Connected with the given heartbeat, every pending report delivered.
  void connectNow(double pingIntervalMs = 25000, double pingTimeoutMs = 20000) {
    client_->connect();
    hub_.last()->acceptWith(pingIntervalMs, pingTimeoutMs);
    queue_.runUntilIdle();
    ASSERT_EQ(client_->status(), SocketStatus::connected);
  }

  // Records every event named `event` with its arguments.
  std::vector<json>& record(const std::string& event) {
    auto& list = events_[event];
    client_->on(event, [&list](const json& args, const Ack&) { list.push_back(args); });
    return list;
  }

  platform::VirtualQueue queue_;
  platform::ScopedMainQueue main_{queue_};
  FakeTransportHub hub_;
  std::shared_ptr<SocketIOClient> client_;
  std::map<std::string, std::vector<json>> events_;
};

TEST_F(SocketIOClientTest, BuildsTheWebSocketURLFromServerPathAndParameters) {
  SocketIOOptions options;
  options.path = "/calling";
  options.connectParams = {{"token", "a+b/c="}, {"userNumber", "4711"}, {"pushToken", ""}, {"name", "Zoë ü"}};
  struct Case {
    const char* server;
    const char* expected;
  };
  const Case cases[] = {
      {"https://calls.example", "wss://calls.example/calling/?EIO=3&transport=websocket"},
      {"http://127.0.0.1:4000/", "ws://127.0.0.1:4000/calling/?EIO=3&transport=websocket"},
      {"wss://calls.example", "wss://calls.example/calling/?EIO=3&transport=websocket"},
  };
  for (const auto& c : cases) {
    const auto client = SocketIOClient::make(c.server, options, hub_.factory());
    EXPECT_EQ(client->socketURL(),
              std::string(c.expected) + "&token=a%2Bb%2Fc%3D&userNumber=4711&pushToken=&name=Zo%C3%AB%20%C3%BC");
  }
}

TEST_F(SocketIOClientTest, ConnectsWhenTheServerJoinsTheDefaultNamespace) {
  auto& connects = record("connect");
  EXPECT_EQ(client_->status(), SocketStatus::notConnected);
  client_->connect();
  EXPECT_EQ(client_->status(), SocketStatus::connecting);
  ASSERT_EQ(hub_.connections.size(), 1u);
  EXPECT_EQ(hub_.last()->url, client_->socketURL());
  hub_.last()->open();
  hub_.last()->receive(R"(0{"sid":"s","upgrades":[],"pingInterval":25000,"pingTimeout":20000})");
  queue_.runUntilIdle();
  EXPECT_EQ(client_->status(), SocketStatus::connecting);  // the engine is open, the namespace not yet
  EXPECT_TRUE(connects.empty());
  hub_.last()->receive("40");
  queue_.runUntilIdle();
  EXPECT_EQ(client_->status(), SocketStatus::connected);
  EXPECT_EQ(connects, std::vector<json>{json::array({"/"})});
  client_->connect();  // already connected: nothing new
  EXPECT_EQ(hub_.connections.size(), 1u);
}

TEST_F(SocketIOClientTest, PingsEveryIntervalAndStaysUpWhileThePongsCome) {
  auto& disconnects = record("disconnect");
  connectNow(1000, 500);
  for (int i = 0; i < 10; ++i) {
    queue_.advance(1.0);
    ASSERT_EQ(hub_.last()->sent.back(), "2") << i;
    hub_.last()->receive("3");
    queue_.runUntilIdle();
  }
  EXPECT_EQ(client_->status(), SocketStatus::connected);
  EXPECT_TRUE(disconnects.empty());
  EXPECT_EQ(std::count(hub_.last()->sent.begin(), hub_.last()->sent.end(), "2"), 10);
}

TEST_F(SocketIOClientTest, DeclaresTheConnectionDeadAfterIntervalPlusTimeoutWithoutAPong) {
  auto& disconnects = record("disconnect");
  connectNow(1000, 500);
  // Events keep coming, but the server no longer answers pings.
  for (int i = 0; i < 7; ++i) {
    queue_.advance(0.2);
    hub_.last()->receive(R"(42["call",{}])");
  }
  queue_.advance(0.08);
  EXPECT_TRUE(disconnects.empty());  // 1.48 s
  queue_.advance(0.03);
  EXPECT_EQ(disconnects, std::vector<json>{json::array({"ping timeout"})});
  EXPECT_TRUE(hub_.connections[0]->closedByClient);
  EXPECT_EQ(client_->status(), SocketStatus::connecting);
  queue_.advance(0.5);  // first reconnect wait
  EXPECT_EQ(hub_.connections.size(), 2u);
}

TEST_F(SocketIOClientTest, ReconnectWaitsGrowToTheMaximumAndResetAfterAConnection) {
  auto& connects = record("connect");
  connectNow();
  std::vector<double> waits;
  // Each attempt fails at once; note when the next one starts.
  auto start = queue_.clock().monotonicNow();
  hub_.last()->drop();
  queue_.runUntilIdle();
  for (int attempt = 0; attempt < 5; ++attempt) {
    const std::size_t before = hub_.connections.size();
    while (hub_.connections.size() == before) ASSERT_TRUE(queue_.runNext());
    const auto now = queue_.clock().monotonicNow();
    waits.push_back(std::chrono::duration<double>(now - start).count());
    start = now;
    hub_.last()->drop();
    queue_.runUntilIdle();
  }
  EXPECT_EQ(waits, (std::vector<double>{0.5, 1.0, 2.0, 2.0, 2.0}));
  // A successful connection starts the count again.
  const std::size_t before = hub_.connections.size();
  while (hub_.connections.size() == before) ASSERT_TRUE(queue_.runNext());
  hub_.last()->acceptWith();
  queue_.runUntilIdle();
  EXPECT_EQ(connects.size(), 2u);
  start = queue_.clock().monotonicNow();
  hub_.last()->drop();
  queue_.runUntilIdle();
  const std::size_t afterDrop = hub_.connections.size();
  while (hub_.connections.size() == afterDrop) ASSERT_TRUE(queue_.runNext());
  EXPECT_DOUBLE_EQ(std::chrono::duration<double>(queue_.clock().monotonicNow() - start).count(), 0.5);
}

TEST_F(SocketIOClientTest, WithJitterEveryReconnectStartsWithinTheMaximumWait) {
  double random = 0.0;
  client_->setRandomSource([&random] { return random = random > 0.9 ? 0.05 : random + 0.13; });
  connectNow();
  hub_.last()->drop();
  queue_.runUntilIdle();
  for (int attempt = 0; attempt < 20; ++attempt) {
    const std::size_t before = hub_.connections.size();
    queue_.advance(2.0);
    ASSERT_EQ(hub_.connections.size(), before + 1) << "attempt " << attempt;
    hub_.last()->drop();
    queue_.runUntilIdle();
  }
}

TEST_F(SocketIOClientTest, ReconnectAttemptsCanBeLimited) {
  SocketIOOptions options;
  options.reconnectAttempts = 2;
  makeClient(options);
  connectNow();
  for (int i = 0; i < 3; ++i) {
    hub_.last()->drop();
    queue_.advance(10.0);
  }
  EXPECT_EQ(hub_.connections.size(), 3u);
  EXPECT_EQ(client_->status(), SocketStatus::disconnected);
}

TEST_F(SocketIOClientTest, AServerDisconnectIsFinal) {
  auto& disconnects = record("disconnect");
  connectNow();
  hub_.last()->receive("41");
  queue_.runUntilIdle();
  EXPECT_EQ(disconnects, std::vector<json>{json::array({"io server disconnect"})});
  EXPECT_EQ(client_->status(), SocketStatus::disconnected);
  queue_.advance(60.0);
  EXPECT_EQ(hub_.connections.size(), 1u);
}

TEST_F(SocketIOClientTest, DisconnectTellsTheServerAndItsHandlersLaterAndDoesNotReconnect) {
  bool told = false;
  client_->on("disconnect", [&told](const json& args, const Ack&) {
    told = true;
    EXPECT_EQ(args, json::array({"io client disconnect"}));
  });
  connectNow();
  client_->disconnect();
  client_->removeAllHandlers();
  EXPECT_FALSE(told);  // never from inside disconnect()
  EXPECT_EQ(client_->status(), SocketStatus::disconnected);
  EXPECT_EQ(hub_.connections[0]->sentPackets().back(), "41");
  EXPECT_TRUE(hub_.connections[0]->closedByClient);
  queue_.runUntilIdle();
  EXPECT_TRUE(told);
  queue_.advance(60.0);
  EXPECT_EQ(hub_.connections.size(), 1u);
}

TEST_F(SocketIOClientTest, RepeatingAndOneShotHandlersAndTheirRemoval) {
  connectNow();
  int every = 0, first = 0, removed = 0;
  json lastArgs;
  client_->on("getToken", [&](const json& args, const Ack&) {
    ++every;
    lastArgs = args;
  });
  client_->once("getToken", [&](const json&, const Ack&) { ++first; });
  const auto id = client_->on("getToken", [&](const json&, const Ack&) { ++removed; });
  client_->off(id);
  for (int i = 0; i < 3; ++i) hub_.last()->receive(R"(42["getToken",{"n":1},"two",3])");
  queue_.runUntilIdle();
  EXPECT_EQ(every, 3);
  EXPECT_EQ(first, 1);
  EXPECT_EQ(removed, 0);
  EXPECT_EQ(lastArgs, json::parse(R"([{"n":1},"two",3])"));
  client_->removeAllHandlers();
  hub_.last()->receive(R"(42["getToken"])");
  queue_.runUntilIdle();
  EXPECT_EQ(every, 3);
}

TEST_F(SocketIOClientTest, AHandlerMayRemoveTheOthersOrDropTheClientMidDispatch) {
  connectNow();
  int later = 0;
  client_->on("call", [this](const json&, const Ack&) {
    client_->removeAllHandlers();
    client_->disconnect();
    client_.reset();  // the last owner
  });
  client_->on("call", [&later](const json&, const Ack&) { ++later; });
  hub_.last()->receive(R"(42["call",{}])");
  queue_.runUntilIdle();
  EXPECT_EQ(later, 0);
  EXPECT_FALSE(client_);
}

TEST_F(SocketIOClientTest, AcksArriveOnceAndTimeOutWithTheNoAckMarker) {
  connectNow();
  std::vector<json> first, second;
  client_->emitWithAck("call", json::array({{{"type", "offer"}}}), 10.0, [&](const json& a) { first.push_back(a); });
  client_->emitWithAck("getUserDevices", json::array({{{"userNumber", "9"}}}), 10.0,
                       [&](const json& a) { second.push_back(a); });
  const auto sent = hub_.last()->sentPackets();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0], R"(420["call",{"type":"offer"}])");
  EXPECT_EQ(sent[1], R"(421["getUserDevices",{"userNumber":"9"}])");
  hub_.last()->receive(R"(430[{"id":1001}])");
  queue_.runUntilIdle();
  EXPECT_EQ(first, std::vector<json>{json::parse(R"([{"id":1001}])")});
  queue_.advance(10.0);  // the second never came
  EXPECT_EQ(second, std::vector<json>{json::array({kNoAck})});
  hub_.last()->receive(R"(431[["late"]])");
  hub_.last()->receive(R"(430[{"id":1}])");
  queue_.runUntilIdle();
  EXPECT_EQ(first.size(), 1u);
  EXPECT_EQ(second.size(), 1u);
}

TEST_F(SocketIOClientTest, AnswersTheServersAckRequestOnce) {
  connectNow();
  client_->on("echo", [](const json& args, const Ack& ack) {
    ASSERT_TRUE(ack);
    ack(json::array({"got", args}));
    ack(json::array({"again"}));
  });
  client_->on("plain", [](const json&, const Ack& ack) { EXPECT_FALSE(ack); });
  hub_.last()->receive(R"(4217["echo",1,"ü"])");
  hub_.last()->receive(R"(42["plain"])");
  queue_.runUntilIdle();
  EXPECT_EQ(hub_.last()->sentPackets(), std::vector<std::string>{R"(4317["got",[1,"ü"]])"});
}

TEST_F(SocketIOClientTest, EmitsWhileNotConnectedAreDroppedAndTheirAcksTimeOut) {
  std::vector<json> replies;
  client_->emit("call", json::array({1}));
  client_->emitWithAck("call", json::array({2}), 5.0, [&](const json& a) { replies.push_back(a); });
  client_->connect();
  hub_.last()->acceptWith();
  queue_.advance(5.0);
  EXPECT_TRUE(hub_.last()->sentPackets().empty());
  EXPECT_EQ(replies, std::vector<json>{json::array({kNoAck})});
}

TEST_F(SocketIOClientTest, AServerThatNeverAnswersTheHandshakeIsRetried) {
  SocketIOOptions options;
  options.connectTimeout = 5.0;
  makeClient(options);
  client_->connect();
  hub_.last()->open();  // the upgrade succeeds, but no open packet follows
  queue_.advance(4.9);
  EXPECT_EQ(hub_.connections.size(), 1u);
  queue_.advance(0.2);
  EXPECT_TRUE(hub_.connections[0]->closedByClient);
  queue_.advance(0.5);
  ASSERT_EQ(hub_.connections.size(), 2u);
  hub_.last()->acceptWith();
  queue_.runUntilIdle();
  EXPECT_EQ(client_->status(), SocketStatus::connected);
}

TEST_F(SocketIOClientTest, StatusNamesAreTheOnesTheLogsUse) {
  EXPECT_STREQ(statusName(SocketStatus::notConnected), "notConnected");
  EXPECT_STREQ(statusName(SocketStatus::disconnected), "disconnected");
  EXPECT_STREQ(statusName(SocketStatus::connecting), "connecting");
  EXPECT_STREQ(statusName(SocketStatus::connected), "connected");
}

}  // namespace
}  // namespace orvik::socketio
