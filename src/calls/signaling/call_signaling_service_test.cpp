#include "calls/signaling/call_signaling_service.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "calls/signaling/socketio/fake_transport.h"
#include "calls/signaling/socketio/packet_codec.h"
#include "calls/signaling/test_support/recording_signaling_delegate.h"
#include "platform/dispatch/virtual_queue.h"

namespace orvik {
namespace {

using nlohmann::json;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

using RecordingDelegate = orvik::testing::RecordingSignalingDelegate;

struct SentPacket {
  std::string event;
  json args;
  std::optional<std::uint64_t> ackId;
};

class CallSignalingServiceTest : public ::testing::Test {
 protected:
  CallSignalingServiceTest() {
    service_ = CallSignalingService::make("https://calls.example", hub_.factory(),
                                          [this](std::string_view line) { log_.emplace_back(line); });
    service_->setDelegate(delegate_);
  }

  static CallingSocketParams params(std::string token = "abcdefghijklmnopqrst") {
    return CallingSocketParams{std::move(token), "4711", "DEVICE-UDID-1234", "pushpushpushpushpush", "false"};
  }

  socketio::FakeConnection& connection() { return *hub_.last(); }

  // The server's side of a successful connection.
  void accept() {
    connection().acceptWith();
    queue_.runUntilIdle();
  }
  void serverSends(const std::string& event, const json& args, std::optional<std::uint64_t> ackId = std::nullopt) {
    connection().receive(socketio::encodeEvent(event, args, ackId));
  }
  void serverRaw(const std::string& text) { connection().receive(text); }

  std::vector<SentPacket> sent(socketio::FakeConnection& from) {
    std::vector<SentPacket> out;
    for (const auto& text : from.sentPackets()) {
      const auto packet = socketio::decodeSocketPacket(socketio::decodeEnginePacket(text)->payload);
      if (!packet || packet->type != socketio::SocketPacketType::event) continue;
      json args = packet->data;
      const std::string event = args[0];
      args.erase(args.begin());
      out.push_back({event, args, packet->id});
    }
    return out;
  }
  std::vector<SentPacket> sent() { return sent(connection()); }

  std::vector<std::string> logLinesContaining(const std::string& text) const {
    std::vector<std::string> out;
    for (const auto& line : log_) {
      if (line.find(text) != std::string::npos) out.push_back(line);
    }
    return out;
  }

  platform::VirtualQueue queue_;
  platform::ScopedMainQueue main_{queue_};
  platform::ScopedClock clock_{queue_.clock()};
  socketio::FakeTransportHub hub_;
  std::vector<std::string> log_;
  std::shared_ptr<RecordingDelegate> delegate_ = std::make_shared<RecordingDelegate>();
  std::shared_ptr<CallSignalingService> service_;
};

TEST_F(CallSignalingServiceTest, ConnectsWithTheFiveParametersAndLogsTokensShortened) {
  auto withEmptyPush = params();
  withEmptyPush.pushToken = "";
  service_->connect(withEmptyPush);
  EXPECT_EQ(connection().url,
            "wss://calls.example/calling/?EIO=3&transport=websocket&token=abcdefghijklmnopqrst&userNumber=4711"
            "&deviceUdid=DEVICE-UDID-1234&pushToken=&isFreeUser=false");
  service_->connect(params(""));
  EXPECT_THAT(log_, ElementsAre(
      "[Signaling] connect() — userNumber=4711 deviceUdid=DEVICE-U… pushToken=EMPTY token=abcdefgh…(len=20)",
      "[Signaling] connect() — userNumber=4711 deviceUdid=DEVICE-U… pushToken=pushpush…(len=20) token=EMPTY"));
  EXPECT_EQ(params().connectParameters(),
            (std::vector<std::pair<std::string, std::string>>{{"token", "abcdefghijklmnopqrst"},
                                                              {"userNumber", "4711"},
                                                              {"deviceUdid", "DEVICE-UDID-1234"},
                                                              {"pushToken", "pushpushpushpushpush"},
                                                              {"isFreeUser", "false"}}));
}

TEST_F(CallSignalingServiceTest, ConnectReachesTheDelegateAfterTheFlushAndDisconnectAfterIt) {
  service_->connect(params());
  service_->emitCall(json{{"type", "candidate"}, {"to", "9"}, {"from", "4711_D"}});
  EXPECT_TRUE(service_->sendToMyDevices("acceptCall"));
  std::size_t sentWhenTold = 0;
  delegate_->onEvent = [&] { sentWhenTold = sent().size(); };
  connection().acceptWith();
  queue_.runUntilIdle();
  ASSERT_EQ(sent().size(), 2u);
  EXPECT_EQ(sent()[0].event, "call");
  EXPECT_EQ(sent()[1].event, "sendToMyDevices");
  EXPECT_THAT(delegate_->events, ElementsAre("connect"));
  EXPECT_EQ(sentWhenTold, 2u);  // flushed first
  connection().drop();
  queue_.runUntilIdle();
  EXPECT_THAT(delegate_->events, ElementsAre("connect", "disconnect"));
  EXPECT_THAT(logLinesContaining("Disconnected"), ElementsAre("[Signaling] Disconnected: transport error"));
}

TEST_F(CallSignalingServiceTest, GetTokenReachesTheDelegateOncePerConnect) {
  const json config = {{"token", {{"iceServers", {{{"urls", "stun:s"}}, {{"urls", "turn:t"}}}}, {"iceTransportPolicy", "relay"}}}};
  service_->connect(params());
  accept();
  serverSends("getToken", json::array({config}));
  serverSends("getToken", json::array({config}));
  queue_.runUntilIdle();
  EXPECT_THAT(delegate_->events, ElementsAre("connect", "ice 2 relay"));
  EXPECT_EQ(logLinesContaining("ICE config received").size(), 1u);
  // An automatic reconnection is the same connect: still once.
  connection().drop();
  queue_.advance(2.0);
  accept();
  serverSends("getToken", json::array({config}));
  queue_.runUntilIdle();
  EXPECT_THAT(delegate_->events, ElementsAre("connect", "ice 2 relay", "disconnect", "connect"));
  // A new connect() arms it again.
  service_->connect(params());
  accept();
  serverSends("getToken", json::array({config}));
  queue_.runUntilIdle();
  EXPECT_EQ(delegate_->events.back(), "ice 2 relay");
}

TEST_F(CallSignalingServiceTest, AnUnusableGetTokenIsLoggedAndUsesUpTheOneShot) {
  service_->connect(params());
  accept();
  serverSends("getToken", json::array({{{"token", {{"servers", json::array()}}}}}));
  serverSends("getToken", json::array({{{"iceServers", json::array()}}}));
  queue_.runUntilIdle();
  EXPECT_THAT(delegate_->events, ElementsAre("connect"));
  EXPECT_THAT(logLinesContaining("getToken"),
              ElementsAre(R"([Signaling] getToken parse failed: [{"token":{"servers":[]}}])"));
}

TEST_F(CallSignalingServiceTest, InvalidTokenIsReportedEveryTimeWithElapsedTimeAndShortTokens) {
  service_->connect(params(""));
  accept();
  queue_.advance(1.5);
  serverSends("invalid_token", json::array({{{"message", "expired"}}}));
  serverSends("invalid_token", json::array());
  queue_.runUntilIdle();
  EXPECT_THAT(delegate_->events, ElementsAre("connect", "failAuth", "failAuth"));
  const auto lines = logLinesContaining("Invalid token");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "[Signaling] Invalid token — elapsedSinceConnect=1.50s userNumber=4711 "
                      "pushToken=pushpush…(len=20) token=EMPTY");
  EXPECT_EQ(service_->socket()->status(), socketio::SocketStatus::connected);  // the call manager decides
}

TEST_F(CallSignalingServiceTest, FramesAreDroppedWithoutAClientQueuedWhileConnectingAndSentWhenConnected) {
  service_->emitCall(json{{"type", "offer"}, {"to", "9"}});
  EXPECT_THAT(log_, ElementsAre("[Signaling] emit type=offer to=9 dropped — socket nil (call already torn down)"));
  service_->connect(params());
  service_->emitCall(json{{"to", "9"}});
  EXPECT_EQ(log_.back(), "[Signaling] ⏸ QUEUED type=? to=9 — socket status=connecting, 1 frame(s) waiting for reconnect");
  accept();
  service_->emitCall(json{{"type", "endCall"}, {"to", "9"}, {"from", "4711_D"}});
  EXPECT_EQ(log_.back(), "[Signaling] → emit type=endCall to=9 from=4711_D");
  const auto frames = sent();
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].args, json::array({{{"to", "9"}}}));
  EXPECT_FALSE(frames[0].ackId);
  EXPECT_EQ(frames[1].args[0]["type"], "endCall");
}

TEST_F(CallSignalingServiceTest, TheQueueKeepsTheNewestSixtyFramesInOrder) {
  service_->connect(params());
  for (int i = 0; i < 61; ++i) service_->emitCall(json{{"type", "candidate"}, {"to", "9"}, {"n", i}});
  EXPECT_THAT(log_.back(), HasSubstr("60 frame(s) waiting"));
  accept();
  const auto frames = sent();
  ASSERT_EQ(frames.size(), 60u);
  for (int i = 0; i < 60; ++i) EXPECT_EQ(frames[i].args[0]["n"], i + 1);
  EXPECT_THAT(logLinesContaining("reconnected"), ElementsAre("[Signaling] ▶️ reconnected — sending 60 queued call frame(s)"));
}

TEST_F(CallSignalingServiceTest, StaleFramesAreDroppedWithTheirAgeAndTheRestStillGo) {
  service_->connect(params());
  service_->emitCall(json{{"type", "offer"}, {"to", "9"}}, "offer");
  queue_.advance(6.0);
  service_->emitCall(json{{"type", "candidate"}, {"to", "9"}, {"from", "4711_D"}});
  queue_.advance(4.0);
  // The server is down: the first handshake never completes, and the
  // client keeps trying; the frames wait.
  queue_.advance(15.0);
  accept();
  EXPECT_THAT(logLinesContaining("DROPPED"), ElementsAre("[Signaling] DROPPED stale queued type=offer age=25.0s"));
  EXPECT_THAT(logLinesContaining("(queued"),
              ElementsAre("[Signaling] → emit type=candidate to=9 from=4711_D (queued 19.0s)"));
  ASSERT_EQ(sent().size(), 1u);
  EXPECT_EQ(sent()[0].args[0]["type"], "candidate");
}

TEST_F(CallSignalingServiceTest, TheOffersAckDeliversANumericRecordId) {
  struct Case {
    const char* label;
    const char* ackText;  // what the server answers, or empty for no answer
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"offer", R"([{"id":1001}])", {"recordId 1001"}},
      {"offer", R"([{"id":1001.0}])", {"recordId 1001"}},
      {"offer", R"([{"id":"1001"}])", {}},
      {"offer", R"([{"id":true}])", {}},
      {"offer", R"([{"ok":true}])", {}},
      {"offer", R"([[{"id":1}]])", {}},
      {"offer", "", {}},
      {"other", R"([{"id":1001}])", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.label) + " " + c.ackText);
    service_->connect(params());
    accept();
    delegate_->events.clear();
    service_->emitCall(json{{"type", "offer"}, {"to", "9"}, {"from", "4711_D"}}, std::string(c.label));
    EXPECT_EQ(log_.back(), "[Signaling] → emit type=offer to=9 from=4711_D (awaiting ack)");
    const auto frames = sent();
    ASSERT_EQ(frames.size(), 1u);
    ASSERT_TRUE(frames[0].ackId);
    if (*c.ackText) serverRaw("43" + std::to_string(*frames[0].ackId) + c.ackText);
    queue_.advance(CallSignalingService::kCallAckTimeout);
    EXPECT_EQ(delegate_->events, c.expected);
    const std::string ackLine = std::string("[Signaling] ← ack for ") + c.label + " (type=offer): ";
    EXPECT_EQ(logLinesContaining(ackLine).size(), 1u);
    log_.clear();
    service_->disconnect();
    queue_.runUntilIdle();
  }
  EXPECT_EQ(delegate_->events, std::vector<std::string>{"disconnect"});
}

TEST_F(CallSignalingServiceTest, AnUnansweredAckTimesOutWithTheNoAckMarker) {
  service_->connect(params());
  accept();
  service_->emitCall(json{{"type", "offer"}, {"to", "9"}}, "offer");
  queue_.advance(9.9);
  EXPECT_TRUE(logLinesContaining("← ack").empty());
  queue_.advance(0.1);
  EXPECT_THAT(logLinesContaining("← ack"), ElementsAre(R"([Signaling] ← ack for offer (type=offer): ["NO ACK"])"));
}

TEST_F(CallSignalingServiceTest, NoticesNeedAClientWaitTenSecondsAtMostAndAreAcknowledged) {
  EXPECT_FALSE(service_->sendToMyDevices("rejectCall"));
  EXPECT_EQ(log_.back(), "[MultiDeviceCall][Signal] SEND skipped — socket nil | action=rejectCall");
  service_->connect(params());
  EXPECT_TRUE(service_->sendToMyDevices("rejectCall"));
  EXPECT_EQ(log_.back(), "[MultiDeviceCall][Signal] QUEUED (socket status=connecting) | action=rejectCall — will send on connect");
  queue_.advance(2.0);
  EXPECT_TRUE(service_->sendToMyDevices("acceptCall"));
  queue_.advance(9.0);
  accept();
  EXPECT_THAT(logLinesContaining("DROPPED"),
              ElementsAre("[MultiDeviceCall][Signal] DROPPED stale queued | action=rejectCall age=11.0s"));
  EXPECT_THAT(logLinesContaining("SEND ("),
              ElementsAre("[MultiDeviceCall][Signal] SEND (queued 9.0s) | action=acceptCall connected=true"));
  EXPECT_TRUE(service_->sendToMyDevices("endCall"));
  EXPECT_EQ(log_.back(), "[MultiDeviceCall][Signal] SEND (live) | action=endCall connected=true");
  const auto frames = sent();
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].event, "sendToMyDevices");
  EXPECT_EQ(frames[0].args, json::array({{{"type", "acceptCall"}}}));
  ASSERT_TRUE(frames[1].ackId);
  serverRaw("43" + std::to_string(*frames[1].ackId) + R"([{"ok":true}])");
  queue_.advance(5.0);
  EXPECT_THAT(logLinesContaining("ACK |"),
              ElementsAre(R"([MultiDeviceCall][Signal] ACK | action=endCall → [{"ok":true}])",
                          R"([MultiDeviceCall][Signal] ACK | action=acceptCall → ["NO ACK"])"));
}

TEST_F(CallSignalingServiceTest, DisconnectDropsBothQueuesAndForgetsTheClientButKeepsTheParameters) {
  service_->disconnect();  // no client: nothing to say
  EXPECT_TRUE(log_.empty());
  service_->connect(params());
  service_->sendToMyDevices("acceptCall");
  service_->sendToMyDevices("rejectCall");
  service_->emitCall(json{{"type", "offer"}, {"to", "9"}});
  log_.clear();
  service_->disconnect();
  EXPECT_THAT(log_, ElementsAre(R"([MultiDeviceCall][Signal] disconnect — dropping 2 queued sendToMyDevices (never connected): ["acceptCall","rejectCall"])",
                                "[Signaling] disconnect — dropping 1 queued call frame(s) (call is over)"));
  EXPECT_EQ(service_->socket(), nullptr);
  ASSERT_TRUE(service_->params());
  EXPECT_EQ(service_->params()->userNumber, "4711");
  EXPECT_TRUE(connection().closedByClient);
  accept();  // nothing can come through a closed connection
  EXPECT_TRUE(delegate_->events.empty());
  EXPECT_FALSE(service_->sendToMyDevices("acceptCall"));
}

TEST_F(CallSignalingServiceTest, ConnectingAgainSilencesAndClosesTheOldClient) {
  service_->connect(params());
  accept();
  auto& old = connection();
  service_->connect(params("second-token-0000"));
  EXPECT_TRUE(old.closedByClient);
  EXPECT_EQ(sent(old).size(), 0u);
  EXPECT_EQ(old.sentPackets().back(), "41");
  accept();
  serverSends("getToken", json::array({{{"iceServers", json::array()}}}));
  queue_.runUntilIdle();
  // One connect per connection, no disconnect from the replaced client.
  EXPECT_THAT(delegate_->events, ElementsAre("connect", "connect", "ice 0 all"));
  EXPECT_EQ(hub_.connections.size(), 2u);
}

TEST_F(CallSignalingServiceTest, BuildersAddressFramesToTheUserOrOneDevice) {
  service_->connect(params());
  accept();
  service_->sendAnswer("9", "devB", "4711_D", R"({"type":"answer","sdp":"v=0"})");
  service_->sendAnswer("9", "", "4711_D", "not json");
  service_->sendIceRestartRequest("9", "devB", "4711_D");
  service_->sendIceRestartRequest("9", "", "4711_D");
  service_->sendStopRinging("9", "devB", "4711_D");
  service_->sendEndCall("9", "", "4711_D");
  std::vector<json> frames;
  for (const auto& packet : sent()) {
    EXPECT_FALSE(packet.ackId);
    frames.push_back(packet.args[0]);
  }
  const std::vector<json> expected = {
      {{"type", "answer"}, {"to", "9_devB"}, {"from", "4711_D"}, {"sdp", {{"type", "answer"}, {"sdp", "v=0"}}},
       {"deviceSource", "desktop"}, {"iceRestartV1", true}},
      {{"type", "answer"}, {"to", "9"}, {"from", "4711_D"}, {"sdp", "not json"}, {"deviceSource", "desktop"},
       {"iceRestartV1", true}},
      {{"type", "iceRestartRequest"}, {"to", "9_devB"}, {"from", "4711_D"}, {"iceRestartV1", true}},
      {{"type", "iceRestartRequest"}, {"to", "9"}, {"from", "4711_D"}, {"iceRestartV1", true}},
      {{"type", "StopRinging"}, {"to", "9_devB"}, {"from", "4711_D"}},
      {{"type", "endCall"}, {"to", "9"}, {"from", "4711_D"}},
  };
  EXPECT_EQ(frames, expected);
}

TEST_F(CallSignalingServiceTest, ReadsTheFirstDeviceOfAUserDevicesReply) {
  struct Case {
    json ack;
    std::optional<json> expected;
    const char* logLine;
  };
  const Case cases[] = {
      {json::parse(R"([[{"deviceUdid":"a","deviceToken":"0123456789abcdef"},{"deviceUdid":"b"}]])"),
       json::parse(R"({"deviceUdid":"a","deviceToken":"0123456789abcdef"})"),
       "[Signaling] getUserDevices OK — deviceToken=0123456789ab…"},
      {json::parse(R"([[{"deviceToken":5}]])"), json::parse(R"({"deviceToken":5})"),
       "[Signaling] getUserDevices OK — deviceToken=…"},
      {json::parse(R"([[]])"), std::nullopt, "[Signaling] getUserDevices — no devices: [[]]"},
      {json::parse(R"(["NO ACK"])"), std::nullopt, R"([Signaling] getUserDevices — no devices: ["NO ACK"])"},
      {json::parse(R"([[{"a":1},"b"]])"), std::nullopt, R"([Signaling] getUserDevices — no devices: [[{"a":1},"b"]])"},
      {json::array(), std::nullopt, "[Signaling] getUserDevices — no devices: []"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ack.dump());
    std::optional<std::optional<json>> result;
    service_->getUserDevices(c.ack, [&result](std::optional<json> device) { result = std::move(device); });
    ASSERT_TRUE(result);
    EXPECT_EQ(*result, c.expected);
    EXPECT_EQ(log_.back(), c.logLine);
  }
}

TEST_F(CallSignalingServiceTest, NothingReachesAGoneDelegateOrComesFromAGoneService) {
  service_->connect(params());
  accept();
  delegate_->events.clear();
  serverSends("invalid_token", json::array());
  queue_.runUntilIdle();
  EXPECT_THAT(delegate_->events, ElementsAre("failAuth"));
  std::weak_ptr<RecordingDelegate> watch = delegate_;
  delegate_.reset();
  serverSends("invalid_token", json::array());
  queue_.runUntilIdle();
  EXPECT_TRUE(watch.expired());
  // The service goes while its reports are on their way: they do nothing.
  auto second = std::make_shared<RecordingDelegate>();
  service_->setDelegate(second);
  // A handler after the service's drops the service: the service's own
  // handler has posted its report by then.
  service_->socket()->on("invalid_token", [this](const json&, const socketio::Ack&) { service_.reset(); });
  serverSends("invalid_token", json::array());
  queue_.runUntilIdle();
  EXPECT_FALSE(service_);
  EXPECT_TRUE(second->events.empty());
}

}  // namespace
}  // namespace orvik
