// The receiving side of the signalling connection: "call", "getPendingCall"
// and "sendToMyDevices" events reach the call manager's delegate on the main
// queue, in arrival order.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "calls/signaling/call_signaling_service.h"
#include "calls/signaling/socketio/fake_transport.h"
#include "calls/signaling/socketio/packet_codec.h"
#include "calls/signaling/test_support/recording_signaling_delegate.h"
#include "platform/dispatch/virtual_queue.h"

namespace orvik {
namespace {

using nlohmann::json;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

class CallEventsTest : public ::testing::Test {
 protected:
  CallEventsTest() {
    service_ = CallSignalingService::make("https://calls.example", hub_.factory(),
                                          [this](std::string_view line) { log_.emplace_back(line); });
    service_->setDelegate(delegate_);
    service_->connect(CallingSocketParams{"token-token-token", "4711", "DEV", "", "false"});
    hub_.last()->acceptWith();
    queue_.runUntilIdle();
    delegate_->events.clear();
    log_.clear();
  }

  void serverSends(const std::string& event, const json& args) {
    hub_.last()->receive(socketio::encodeEvent(event, args, std::nullopt));
  }
  // Delivers one "call" message and returns what reached the delegate.
  std::vector<std::string> deliver(const json& message) {
    delegate_->events.clear();
    serverSends("call", json::array({message}));
    queue_.runUntilIdle();
    return delegate_->events;
  }
  bool logged(const std::string& text) const {
    return std::any_of(log_.begin(), log_.end(), [&](const auto& l) { return l.find(text) != std::string::npos; });
  }

  platform::VirtualQueue queue_;
  platform::ScopedMainQueue main_{queue_};
  platform::ScopedClock clock_{queue_.clock()};
  socketio::FakeTransportHub hub_;
  std::vector<std::string> log_;
  std::shared_ptr<orvik::testing::RecordingSignalingDelegate> delegate_ =
      std::make_shared<orvik::testing::RecordingSignalingDelegate>();
  std::shared_ptr<CallSignalingService> service_;
};

const json kOffer = {{"type", "offer"}, {"sdp", "v=0 offer"}};
const json kAnswer = {{"type", "answer"}, {"sdp", "v=0 answer"}};

struct DispatchCase {
  const char* name;
  json message;
  std::vector<std::string> events;
};

class CallEventDispatchTest : public CallEventsTest, public ::testing::WithParamInterface<DispatchCase> {};

TEST_P(CallEventDispatchTest, EachMessageReachesItsHandler) {
  EXPECT_EQ(deliver(GetParam().message), GetParam().events) << GetParam().message.dump();
}

INSTANTIATE_TEST_SUITE_P(
    Messages, CallEventDispatchTest,
    ::testing::Values(
        DispatchCase{"Offer", {{"type", "offer"}, {"from", "9_dev"}, {"sdp", kOffer}, {"isAudio", 1}},
                     {"offer 9_dev audio udid=dev name=nil picture=nil"}},
        DispatchCase{"OfferAsJsonTextIsVideoWithoutIsAudio", {{"type", "offer"}, {"from", "9"}, {"sdp", kOffer.dump()}},
                     {"offer 9 video udid=nil name=nil picture=nil"}},
        DispatchCase{"OfferWithoutFromIsDropped", {{"type", "offer"}, {"sdp", kOffer}}, {}},
        DispatchCase{"OfferWithRawSdpIsDropped", {{"type", "offer"}, {"from", "9"}, {"sdp", "v=0\r\n"}}, {}},
        DispatchCase{"CapitalOfferIsUnhandled", {{"type", "Offer"}, {"from", "9"}, {"sdp", kOffer}}, {}},
        DispatchCase{"AnswerWithoutFrom", {{"type", "answer"}, {"sdp", kAnswer}}, {"answer udid=nil"}},
        DispatchCase{"Candidate",
                     {{"type", "candidate"}, {"from", "9_d"}, {"candidate", {{"candidate", "c1"}, {"sdpMid", "0"}}}},
                     {"candidate c1 mid=0 idx=0 udid=d"}},
        DispatchCase{"CandidateAsTextIsMissing", {{"type", "candidate"}, {"candidate", "{\"candidate\":\"c\"}"}}, {}},
        DispatchCase{"CandidateLineNotText", {{"type", "candidate"}, {"candidate", {{"candidate", 1}}}}, {}},
        DispatchCase{"OfferReceived", {{"type", "offerReceived"}, {"from", "9_d"}}, {"offerReceived 9_d"}},
        DispatchCase{"UserBusy", {{"type", "userBusy"}}, {"userBusy nil"}},
        DispatchCase{"StopRinging", {{"type", "StopRinging"}, {"from", "9"}}, {"endCall 9"}},
        DispatchCase{"stopRinging", {{"type", "stopRinging"}, {"from", "9"}}, {"endCall 9"}},
        DispatchCase{"endCall", {{"type", "endCall"}, {"from", "9"}}, {"endCall 9"}},
        DispatchCase{"EndCall", {{"type", "EndCall"}, {"from", "9"}}, {"endCall 9"}},
        DispatchCase{"userEndCall", {{"type", "userEndCall"}, {"from", "9"}}, {"endCall 9"}},
        DispatchCase{"ENDCALLIsUnhandled", {{"type", "ENDCALL"}, {"from", "9"}}, {}},
        DispatchCase{"VideoUpgradeOfferIsIgnored", {{"type", "videoUpgradeOffer"}, {"from", "9"}, {"sdp", kOffer}}, {}},
        DispatchCase{"VideoUpgradeAnswer", {{"type", "videoUpgradeAnswer"}, {"from", "9_p"}, {"sdp", kAnswer}},
                     {"videoUpgradeAnswer udid=p"}},
        DispatchCase{"RestartOffer", {{"type", "iceRestartOffer"}, {"from", "9"}, {"sdp", kOffer}, {"iceRestartAttempt", 2}},
                     {"restartOffer 2 9"}},
        DispatchCase{"RestartAnswer", {{"type", "iceRestartAnswer"}, {"sdp", kAnswer}}, {"restartAnswer nil nil"}},
        DispatchCase{"RestartRequest", {{"type", "iceRestartRequest"}, {"from", "9"}}, {"restartRequest 9"}},
        DispatchCase{"CapabilityGoesFirstEvenWhenTheMessageIsDropped",
                     {{"type", "offer"}, {"sdp", kOffer}, {"iceRestartV1", true}}, {"restartCapability nil"}},
        DispatchCase{"CapabilityAheadOfItsMessage", {{"type", "endCall"}, {"from", "9"}, {"iceRestartV1", true}},
                     {"restartCapability 9", "endCall 9"}},
        DispatchCase{"CapabilityAsTextAnnouncesNothing", {{"type", "endCall"}, {"from", "9"}, {"iceRestartV1", "true"}},
                     {"endCall 9"}},
        DispatchCase{"NoTypeIsUnhandled", {{"from", "9"}}, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CallEventsTest, LogLinesOfDroppedAndIgnoredMessages) {
  deliver({{"from", "9"}, {"zeta", 1}});
  EXPECT_TRUE(logged("[Signaling] ⚠️ Unhandled call type: '' — full dict keys: [\"from\",\"zeta\"]"));
  deliver({{"type", "videoUpgradeOffer"}, {"from", "9"}, {"sdp", kOffer}});
  EXPECT_TRUE(logged("[Signaling] videoUpgradeOffer from=9"));
  EXPECT_TRUE(logged("[NativeCallMgr] Video upgrade offer from 9 IGNORED — feature paused"));
  deliver({{"type", "offer"}, {"sdp", kOffer}});
  EXPECT_TRUE(logged("[Signaling] offer — missing 'from' field"));
  serverSends("call", json::array({"{\"type\":\"offer\"}"}));
  queue_.runUntilIdle();
  EXPECT_TRUE(logged("[Signaling] call event — could not parse dict from data: "));
}

TEST_F(CallEventsTest, BackToBackEventsArriveInOrderEachInItsOwnTurn) {
  serverSends("call", json::array({{{"type", "offerReceived"}, {"from", "9_a"}}}));
  serverSends("call", json::array({{{"type", "answer"}, {"from", "9_a"}, {"sdp", kAnswer}, {"iceRestartV1", true}}}));
  serverSends("sendToMyDevices", json::array({{{"type", "acceptCall"}}}));
  EXPECT_TRUE(delegate_->events.empty());  // never within the socket's own turn
  queue_.runUntilIdle();
  EXPECT_THAT(delegate_->events,
              ElementsAre("offerReceived 9_a", "restartCapability 9_a", "answer udid=a", "myDevices acceptCall"));
}

TEST_F(CallEventsTest, SendToMyDevicesNeedsATextType) {
  serverSends("sendToMyDevices", json::array({{{"type", 5}}}));
  queue_.runUntilIdle();
  EXPECT_TRUE(delegate_->events.empty());
  EXPECT_TRUE(logged("[Signaling] sendToMyDevices — unexpected payload: "));
  serverSends("sendToMyDevices", json::array({{{"type", "rejectCall"}}}));
  queue_.runUntilIdle();
  EXPECT_THAT(delegate_->events, ElementsAre("myDevices rejectCall"));
  EXPECT_TRUE(logged("[MultiDeviceCall][Signal] RECEIVE | action=rejectCall"));
}

TEST_F(CallEventsTest, EventsForAGoneDelegateAreDropped) {
  serverSends("call", json::array({{{"type", "endCall"}}}));
  delegate_.reset();
  EXPECT_NO_FATAL_FAILURE(queue_.runUntilIdle());
}

// Pending-call records, judged by their age against the server's clock.
json pendingEvent(const json& record, double ageSeconds) {
  const double now = 1700000000;
  json stamped = record;
  stamped["dateAdded"] = (now - ageSeconds) * 1000;
  return json::array({{{"data", json::array({stamped})}, {"currentTime", now}}});
}

const json kRecord = {{"id", 42}, {"caller", "9"}, {"deviceUDID", "abc"}, {"isAudioCall", true},
                      {"callerOffer", {{"type", "offer"}, {"sdp", "v=0 pending"}, {"iceRestartV1", true}}},
                      {"callerName", "Ola"}, {"callerProfileImage", "https://img.example/ola.png"}};

TEST_F(CallEventsTest, AFreshPendingCallDeliversIdThenOfferThenCapability) {
  serverSends("getPendingCall", pendingEvent(kRecord, 74));
  queue_.runUntilIdle();
  EXPECT_THAT(delegate_->events, ElementsAre("recordId 42",
                                             "offer 9_abc audio udid=abc name=Ola picture=https://img.example/ola.png",
                                             "restartCapability 9_abc"));
}

TEST_F(CallEventsTest, AStaleOrFutureRecordIsNoPendingCall) {
  for (double age : {76.0, 86400.0 * 2, -76.0, -86400.0 * 2}) {
    delegate_->events.clear();
    serverSends("getPendingCall", pendingEvent(kRecord, age));
    queue_.runUntilIdle();
    EXPECT_THAT(delegate_->events, ElementsAre("noPendingCall")) << age;
  }
  EXPECT_TRUE(logged("[Signaling] getPendingCall — record is 76s old (> 75s) — stale, treating as no pending call"));
}

TEST_F(CallEventsTest, ARecordDatedWithinTheWindowAheadOfTheServerIsUsed) {
  // The server's clock a little behind the one that dated the record.
  for (double age : {-1.5, -30.0, -75.0}) {
    delegate_->events.clear();
    serverSends("getPendingCall", pendingEvent(kRecord, age));
    queue_.runUntilIdle();
    EXPECT_THAT(delegate_->events, ElementsAre("recordId 42",
                                               "offer 9_abc audio udid=abc name=Ola picture=https://img.example/ola.png",
                                               "restartCapability 9_abc"))
        << age;
  }
}

TEST_F(CallEventsTest, HostileDatesAndIdsNeverStopTheProgram) {
  struct Case {
    const char* name;
    json currentTime;
    json dateAdded;
    json id;
    std::vector<std::string> events;
  };
  const std::vector<std::string> offerOnly = {
      "offer 9_abc audio udid=abc name=Ola picture=https://img.example/ola.png", "restartCapability 9_abc"};
  std::vector<std::string> withId = offerOnly;
  withId.insert(withId.begin(), "recordId 42");
  const Case cases[] = {
      {"FractionOfHundredsOfDigits", "2023-11-14T22:13:20Z", "2023-11-14T22:13:20." + std::string(400, '0') + "1Z", 42,
       withId},
      {"YearsTheClockCannotHold", "9999-12-31T23:59:59Z", "0001-01-01T00:00:00Z", 42, withId},
      {"NumbersTheClockCannotHold", 9.0e10, 5.0e15, 42, withId},
      {"IdBeyondSixtyFourBits", 1700000000, 1700000000, json::parse("1e30"), offerOnly},
      {"IdBeyondTheSignedRange", 1700000000, 1700000000, json::parse("18446744073709551615"), offerOnly},
      {"NegativeIdBeyondSixtyFourBits", 1700000000, 1700000000, json::parse("-1e19"), offerOnly},
      {"FractionalIdIsItsIntegerPart", 1700000000, 1700000000, 42.7, withId},
  };
  for (const auto& c : cases) {
    json record = kRecord;
    record["id"] = c.id;
    record["dateAdded"] = c.dateAdded;
    delegate_->events.clear();
    serverSends("getPendingCall", json::array({{{"data", json::array({record})}, {"currentTime", c.currentTime}}}));
    queue_.runUntilIdle();
    EXPECT_EQ(delegate_->events, c.events) << c.name;
  }
}

TEST_F(CallEventsTest, FramesNestedTooDeeplyAreRefusedBeforeAnythingWalksThem) {
  const std::string deep = std::string(200000, '[') + std::string(200000, ']');
  for (const std::string& frame : {"42[\"call\"," + deep + "]", "42[\"getPendingCall\",{\"data\":" + deep + "}]",
                                   "42[\"sendToMyDevices\"," + deep + "]"}) {
    hub_.last()->receive(frame);
    queue_.runUntilIdle();
  }
  // An offer given as text holds its own JSON, nested as deeply.
  const std::string deepOffer = "{\"type\":\"offer\",\"sdp\":\"v=0\",\"x\":" + deep + "}";
  EXPECT_TRUE(deliver({{"type", "offer"}, {"from", "9"}, {"sdp", deepOffer}}).empty());
  EXPECT_TRUE(delegate_->events.empty());
  // The connection is still up and usable.
  EXPECT_EQ(deliver({{"type", "offer"}, {"from", "9"}, {"sdp", kOffer}}),
            std::vector<std::string>{"offer 9 video udid=nil name=nil picture=nil"});
}

TEST_F(CallEventsTest, EmptyPendingDataIsNoPendingCall) {
  serverSends("getPendingCall", json::array({{{"data", json::array()}, {"currentTime", 1}}}));
  queue_.runUntilIdle();
  EXPECT_THAT(delegate_->events, ElementsAre("noPendingCall"));
  EXPECT_TRUE(logged("[Signaling] getPendingCall received — raw: [\"currentTime\",\"data\"]"));
}

TEST_F(CallEventsTest, AnUnreadableOfferForwardsOnlyTheRecordId) {
  json record = kRecord;
  record["callerOffer"] = "not json";
  serverSends("getPendingCall", pendingEvent(record, 10));
  queue_.runUntilIdle();
  EXPECT_THAT(delegate_->events, ElementsAre("recordId 42"));
  EXPECT_TRUE(logged("[Signaling] getPendingCall — callerOffer parse failed: \"not json\""));
}

struct AddressCase {
  const char* name;
  json fields;
  std::string expectedOffer;
};

class PendingCallerAddressTest : public CallEventsTest, public ::testing::WithParamInterface<AddressCase> {};

TEST_P(PendingCallerAddressTest, BuildsTheCallerAddressFromTheRecord) {
  json record = {{"callerOffer", json{{"type", "offer"}, {"sdp", "v=0"}}.dump()}};
  record.update(GetParam().fields);
  serverSends("getPendingCall", pendingEvent(record, 1));
  queue_.runUntilIdle();
  ASSERT_EQ(delegate_->events.size(), 1u);
  EXPECT_EQ(delegate_->events[0], GetParam().expectedOffer);
}

INSTANTIATE_TEST_SUITE_P(
    Records, PendingCallerAddressTest,
    ::testing::Values(
        AddressCase{"CallerAndDevice", {{"caller", "4711"}, {"deviceUDID", "abc"}}, "offer 4711_abc video udid=abc name=nil picture=nil"},
        AddressCase{"FromOnly", {{"from", "4711_abc"}}, "offer 4711_abc video udid=abc name=nil picture=nil"},
        AddressCase{"CallerWithoutDevice", {{"caller", "4711"}}, "offer 4711 video udid=nil name=nil picture=nil"},
        AddressCase{"Nothing", json::object(), "offer  video udid=nil name=nil picture=nil"},
        AddressCase{"EmptyDeviceFallsBackToFrom", {{"caller", "4711"}, {"deviceUDID", ""}, {"from", "4711_xyz"}},
                    "offer 4711_xyz video udid=xyz name=nil picture=nil"},
        AddressCase{"OfferDeviceLast",
                    {{"caller", "4711"}, {"callerOffer", {{"type", "offer"}, {"sdp", "v"}, {"deviceUdids", "o1"}}}},
                    "offer 4711_o1 video udid=o1 name=nil picture=nil"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace orvik
