// CallSignalingService against the local call server (tools/devservice) on
// 127.0.0.1: parameters, "getToken", offline queues across a server restart,
// the offer's record id, devices and multi-device notices.
#include <gtest/gtest.h>

#include "calls/signaling/call_signaling_service.h"
#include "calls/signaling/test_support/call_server.h"
#include "calls/signaling/test_support/recording_signaling_delegate.h"
#include "platform/dispatch/glib_main_queue.h"
#include "platform/test_support/main_loop.h"

namespace orvik {
namespace {

using nlohmann::json;
using orvik::testing::CallServer;
using orvik::testing::CallServerOptions;
using orvik::testing::RecordingSignalingDelegate;
using orvik::testing::runMainLoopUntil;

class SignalingIntegration : public ::testing::Test {
 protected:
  void SetUp() override {
    startServer(0);
    service_ = CallSignalingService::make(server_->url(), socketio::soupTransportFactory(), [](std::string_view) {});
    service_->setDelegate(delegate_);
  }

  void startServer(int port) {
    std::string error;
    server_ = CallServer::start(CallServerOptions{.port = port}, error);
    ASSERT_TRUE(server_) << error;
  }

  static CallingSocketParams params(std::string token = "tok-0123456789abcdef") {
    return CallingSocketParams{std::move(token), "4711", "deskA", "push-4711-A", "true"};
  }

  void waitFor(const std::string& event, std::size_t count = 1) {
    ASSERT_TRUE(runMainLoopUntil([&] { return delegate_->count(event) >= count; }))
        << "waiting for " << count << "× " << event;
  }

  // Another device on the server, as a plain client that records what it gets.
  struct Device {
    std::shared_ptr<socketio::SocketIOClient> client;
    std::vector<std::pair<std::string, json>> received;
  };
  std::unique_ptr<Device> device(const std::string& userNumber, const std::string& udid, const std::string& pushToken) {
    auto result = std::make_unique<Device>();
    socketio::SocketIOOptions options;
    options.path = "/calling";
    options.connectParams = {{"token", "t"}, {"userNumber", userNumber}, {"deviceUdid", udid}, {"pushToken", pushToken}};
    result->client = socketio::SocketIOClient::make(server_->url(), options, socketio::soupTransportFactory());
    for (const char* event : {"call", "sendToMyDevices"}) {
      result->client->on(event, [raw = result.get(), event](const json& args, const socketio::Ack&) {
        raw->received.emplace_back(event, args.empty() ? json() : args[0]);
      });
    }
    result->client->connect();
    EXPECT_TRUE(runMainLoopUntil([raw = result.get()] {
      return raw->client->status() == socketio::SocketStatus::connected;
    }));
    return result;
  }

  platform::GlibMainQueue queue_;
  platform::ScopedMainQueue main_{queue_};
  std::unique_ptr<CallServer> server_;
  std::shared_ptr<RecordingSignalingDelegate> delegate_ = std::make_shared<RecordingSignalingDelegate>();
  std::shared_ptr<CallSignalingService> service_;
};

TEST_F(SignalingIntegration, ConnectsWithTheFiveParametersAndGetsIceServersOncePerConnect) {
  service_->connect(params());
  waitFor("ice 2 all");
  const auto connection = server_->waitForReport([](const json& r) { return r.value("event", "") == "connection"; });
  ASSERT_TRUE(connection);
  EXPECT_EQ((*connection)["transport"], "websocket");
  EXPECT_EQ((*connection)["query"], json({{"token", "tok-0123456789abcdef"}, {"userNumber", "4711"},
                                          {"deviceUdid", "deskA"}, {"pushToken", "push-4711-A"},
                                          {"isFreeUser", "true"}}));
  EXPECT_EQ(delegate_->events, (std::vector<std::string>{"connect", "ice 2 all"}));
  EXPECT_TRUE(hasTurnServer(delegate_->lastServers));

  // The server restarts: the client is back by itself, and the new
  // connection's "getToken" is not handed on again.
  const int port = server_->port();
  server_.reset();
  waitFor("disconnect");
  startServer(port);
  waitFor("connect", 2);
  service_->emitCall(json{{"type", "offer"}, {"to", "nobody"}, {"from", "4711_deskA"}}, "offer");
  ASSERT_TRUE(runMainLoopUntil([&] { return delegate_->countPrefix("recordId") == 1; }));  // later than its getToken
  EXPECT_EQ(delegate_->countPrefix("ice"), 1u);

  // A new connect() takes the next one.
  service_->connect(params());
  waitFor("ice 2 all", 2);
}

TEST_F(SignalingIntegration, FramesQueuedWhileTheServerIsDownArriveInOrderOnceItIsBack) {
  service_->connect(params());
  waitFor("connect");
  const int port = server_->port();
  server_.reset();
  waitFor("disconnect");
  for (int n = 0; n < 61; ++n) {
    service_->emitCall(json{{"type", "candidate"}, {"to", "9"}, {"from", "4711_deskA"}, {"n", n}});
  }
  EXPECT_TRUE(service_->sendToMyDevices("acceptCall"));
  startServer(port);
  waitFor("connect", 2);
  ASSERT_TRUE(server_->waitForReport([](const json& r) { return r.value("event", "") == "sendToMyDevices"; }));
  std::vector<int> order;
  for (const auto& line : server_->process().lines()) {
    const auto report = json::parse(line, nullptr, false);
    if (report.is_object() && report.value("event", "") == "call") order.push_back(report["frame"]["n"]);
  }
  std::vector<int> expected;
  for (int n = 1; n < 61; ++n) expected.push_back(n);  // the oldest made room for the 61st
  EXPECT_EQ(order, expected);
}

TEST_F(SignalingIntegration, FramesReachTheAddressedUserOrDeviceAndTheOfferAckCarriesTheRecordId) {
  auto callee = device("9", "phoneB", "pushB-0123456789");
  auto otherCallee = device("9", "tabletB", "pushB2");
  auto ownOtherDevice = device("4711", "laptopA", "pushA2");
  service_->connect(params());
  waitFor("connect");

  std::optional<std::optional<json>> firstDevice;
  service_->socket()->emitWithAck("getUserDevices", json::array({{{"userNumber", "9"}}}),
                                  CallSignalingService::kUserDevicesAckTimeout, [&](const json& ack) {
                                    service_->getUserDevices(ack, [&](std::optional<json> d) { firstDevice = d; });
                                  });
  ASSERT_TRUE(runMainLoopUntil([&] { return firstDevice.has_value(); }));
  ASSERT_TRUE(*firstDevice);
  EXPECT_EQ((**firstDevice)["deviceToken"], "pushB-0123456789");

  OutgoingCallMessage offer{.type = "offer", .to = "9", .from = "4711_deskA"};
  offer.sdpObject = json{{"type", "offer"}, {"sdp", "v=0\r\n"}};
  offer.isAudio = true;
  service_->emitCall(offer.dictionary(), "offer");
  ASSERT_TRUE(runMainLoopUntil([&] { return delegate_->countPrefix("recordId ") == 1; }));
  service_->sendEndCall("9", "phoneB", "4711_deskA");
  EXPECT_TRUE(service_->sendToMyDevices("rejectCall"));
  ASSERT_TRUE(runMainLoopUntil([&] { return callee->received.size() == 2 && !ownOtherDevice->received.empty(); }));

  EXPECT_EQ(callee->received[0].first, "call");
  EXPECT_EQ(callee->received[0].second, offer.dictionary());
  EXPECT_EQ(callee->received[1].second["type"], "endCall");
  EXPECT_EQ(ownOtherDevice->received[0], std::make_pair(std::string("sendToMyDevices"), json{{"type", "rejectCall"}}));
  // The tablet rang with the offer but the end went to the phone only.
  ASSERT_TRUE(runMainLoopUntil([&] { return !otherCallee->received.empty(); }));
  EXPECT_EQ(otherCallee->received.size(), 1u);
}

TEST_F(SignalingIntegration, ARejectedTokenFailsAuthentication) {
  service_->connect(params("invalid"));
  waitFor("failAuth");
  EXPECT_EQ(delegate_->countPrefix("ice"), 0u);
}

}  // namespace
}  // namespace orvik
