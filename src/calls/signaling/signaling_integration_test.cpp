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
    if (HasFatalFailure()) return;
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
  // The server also reports pending calls on every connect; that notice may
  // come in the same turn.
  std::vector<std::string> events = delegate_->events;
  std::erase(events, "noPendingCall");
  EXPECT_EQ(events, (std::vector<std::string>{"connect", "ice 2 all"}));
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

namespace orvik {
namespace {

// Another user's call messages, relayed by the real server, reach our
// delegate in the order they were sent, each capability notice ahead of its
// message; pending calls are judged by the age the server reports.
class CallEventsIntegration : public SignalingIntegration {
 protected:
  void emitAndWait(socketio::SocketIOClient& client, const json& frame) {
    bool acked = false;
    client.emitWithAck("call", json::array({frame}), 10.0, [&](const json&) { acked = true; });
    ASSERT_TRUE(runMainLoopUntil([&] { return acked; }));
  }
};

TEST_F(CallEventsIntegration, EveryMessageKindArrivesInOrderWithTheCapabilityFirst) {
  service_->connect(params());
  waitFor("ice 2 all");
  auto caller = device("9", "phone", "push-9");
  const json offer = {{"type", "offer"}, {"sdp", "v=0 o"}};
  const json answer = {{"type", "answer"}, {"sdp", "v=0 a"}};
  const std::vector<json> frames = {
      {{"type", "offer"}, {"to", "4711"}, {"from", "9_phone"}, {"sdp", offer}, {"isAudio", true}, {"iceRestartV1", true}},
      {{"type", "offerReceived"}, {"to", "4711_deskA"}, {"from", "9_phone"}},
      {{"type", "answer"}, {"to", "4711_deskA"}, {"from", "9_phone"}, {"sdp", answer.dump()}},
      {{"type", "candidate"}, {"to", "4711"}, {"from", "9_phone"},
       {"candidate", {{"candidate", "candidate:1 1 udp 1 10.0.0.1 9 typ host ✓"}, {"sdpMid", "0"}, {"sdpMLineIndex", 0}}}},
      {{"type", "iceRestartRequest"}, {"to", "4711"}, {"from", "9_phone"}},
      {{"type", "iceRestartOffer"}, {"to", "4711"}, {"from", "9_phone"}, {"sdp", offer}, {"iceRestartAttempt", 1}},
      {{"type", "iceRestartAnswer"}, {"to", "4711"}, {"from", "9_phone"}, {"sdp", answer}, {"iceRestartAttempt", 1}},
      {{"type", "videoUpgradeAnswer"}, {"to", "4711"}, {"from", "9_phone"}, {"sdp", answer}},
      {{"type", "userBusy"}, {"to", "4711"}, {"from", "9_phone"}},
      {{"type", "userEndCall"}, {"to", "4711"}, {"from", "9_phone"}},
  };
  const std::size_t before = delegate_->events.size();
  for (const auto& frame : frames) emitAndWait(*caller->client, frame);
  ASSERT_TRUE(runMainLoopUntil([&] { return delegate_->count("endCall 9_phone") == 1; }));
  const std::vector<std::string> received(delegate_->events.begin() + static_cast<long>(before), delegate_->events.end());
  EXPECT_EQ(received, (std::vector<std::string>{
                          "restartCapability 9_phone",
                          "offer 9_phone audio udid=phone name=nil picture=nil",
                          "offerReceived 9_phone",
                          "answer udid=phone",
                          "candidate candidate:1 1 udp 1 10.0.0.1 9 typ host ✓ mid=0 idx=0 udid=phone",
                          "restartRequest 9_phone",
                          "restartOffer 1 9_phone",
                          "restartAnswer 1 9_phone",
                          "videoUpgradeAnswer udid=phone",
                          "userBusy 9_phone",
                          "endCall 9_phone",
                      }));
}

TEST_F(CallEventsIntegration, APendingCallIsDeliveredWhileFreshAndDroppedWhenStale) {
  auto seeder = device("9", "phone", "push-9");
  const json record = {{"id", 77}, {"caller", "9"}, {"deviceUDID", "phone"}, {"isAudioCall", 1},
                       {"callerOffer", json{{"type", "offer"}, {"sdp", "v=0 pending"}}.dump()}};
  for (const auto& [age, expected] : std::vector<std::pair<double, std::vector<std::string>>>{
           {74, {"recordId 77", "offer 9_phone audio udid=phone name=nil picture=nil"}}, {76, {"noPendingCall"}}}) {
    bool seeded = false;
    seeder->client->emitWithAck("seedPendingCall",
                                json::array({{{"userNumber", "4711"}, {"ageSeconds", age}, {"record", record}}}), 10.0,
                                [&](const json&) { seeded = true; });
    ASSERT_TRUE(runMainLoopUntil([&] { return seeded; }));
    delegate_->events.clear();
    service_->connect(params());
    ASSERT_TRUE(runMainLoopUntil([&] {
      return delegate_->count(expected.back()) == 1;
    })) << age;
    std::vector<std::string> events = delegate_->events;
    std::erase_if(events, [](const std::string& e) { return e == "connect" || e.starts_with("ice "); });
    EXPECT_EQ(events, expected) << age;
  }
}

}  // namespace
}  // namespace orvik
