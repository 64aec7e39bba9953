// Incoming calls against the local call server (tools/devservice, real
// Socket.IO on 127.0.0.1) with the real WebRTC peer connection on loopback:
// two call managers in one process, each with its own identity, call each
// other; a caller made of a bare Socket.IO client stands in where only its
// frames matter (a repeated announcement, a hostile caller number).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "calls/control/call_strings.h"
#include "calls/control/native_call_manager.h"
#include "calls/control/test_support/recording_call_ports.h"
#include "calls/media/call_peer_connection.h"
#include "calls/media/test_support/loopback_call.h"
#include "calls/signaling/test_support/call_server.h"
#include "platform/dispatch/glib_main_queue.h"
#include "platform/recording_page_script_sink.h"
#include "platform/test_support/main_loop.h"
#include "platform/test_support/subprocess.h"
#include "platform/test_support/temp_dir.h"
#include "platform/user_defaults.h"

namespace orvik::testing {
namespace {

using nlohmann::json;
using Kind = CallState::Kind;

// One program's call engine: a manager with its own identity, socket, WebRTC
// connection, page and recording ports.
struct Party {
  Party(const std::string& serverURL, const std::string& userNumber, const std::string& device) {
    NativeCallManager::Collaborators c{
        CallSignalingService::make(serverURL, socketio::soupTransportFactory(), [](std::string_view) {}),
        peer, tones, windows, alerts, capture, share, displaySleep, defaults};
    c.strings = &strings;
    c.log = [this](const std::string& line) { lines.push_back(line); };
    manager = NativeCallManager::create(std::move(c));
    manager->setWebView(page);
    manager->setCredentials({userNumber, device, "tok-" + userNumber + "-0123456789", "Party " + userNumber, ""});
  }
  ~Party() {
    manager.reset();
    closeAndRelease(peer);
  }
  Kind state() const { return manager->callState().kind(); }
  bool portsHave(const std::string& line) const { return std::find(ports.begin(), ports.end(), line) != ports.end(); }

  TempDir folder;
  platform::UserDefaults defaults{folder / "defaults.json"};
  PortLog ports;
  RecordingCallWindows windows{ports};
  RecordingCallAlerts alerts{ports};
  FakeCallCapture capture{ports};
  RecordingCallTones tones{ports};
  FakeCallScreenShare share{ports};
  FakeDisplaySleepInhibitor displaySleep{ports};
  CallStrings strings{[](const std::string&) {}};
  std::shared_ptr<CallPeerConnection> peer = CallPeerConnection::create({}, loopbackHooks(true));
  std::shared_ptr<platform::RecordingPageScriptSink> page = std::make_shared<platform::RecordingPageScriptSink>();
  std::vector<std::string> lines;
  std::shared_ptr<NativeCallManager> manager;
};

class IncomingCallsIntegration : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    server_ = CallServer::start(CallServerOptions{}, error);
    ASSERT_TRUE(server_) << error;
  }

  std::unique_ptr<Party> party(const std::string& userNumber, const std::string& device) {
    return std::make_unique<Party>(server_->url(), userNumber, device);
  }

  // A caller that is only a Socket.IO client: it sends what a test tells it
  // and keeps what reaches it.
  std::shared_ptr<socketio::SocketIOClient> bareCaller(const std::string& userNumber, const std::string& device) {
    socketio::SocketIOOptions options;
    options.path = "/calling";
    options.connectParams = {{"token", "t"}, {"userNumber", userNumber}, {"deviceUdid", device}, {"pushToken", ""}};
    auto client = socketio::SocketIOClient::make(server_->url(), options, socketio::soupTransportFactory());
    client->on("call", [this](const json& args, const socketio::Ack&) {
      if (!args.empty()) callerReceived_.push_back(args[0]);
    });
    client->connect();
    EXPECT_TRUE(runMainLoopUntil([&] { return client->status() == socketio::SocketStatus::connected; }));
    return client;
  }
  static json bareOffer(const std::string& from) {
    return {{"type", "offer"}, {"from", from}, {"to", "4712"}, {"isAudio", true},
            {"sdp", {{"type", "offer"}, {"sdp", "v=0\r\no=- 1 2 IN IP4 127.0.0.1\r\ns=-\r\nt=0 0\r\n"}}}};
  }

  // The server's first report at `from` or later that `match` accepts.
  std::optional<json> awaitReport(const std::function<bool(const json&)>& match, std::size_t from,
                                  double timeoutSeconds = 15.0) {
    std::optional<json> found;
    runMainLoopUntil([&] { return (found = server_->waitForReport(match, 0.01, from)).has_value(); }, timeoutSeconds);
    return found;
  }
  static std::function<bool(const json&)> callFrame(const std::string& type, const std::string& fromUser) {
    return [type, fromUser](const json& r) {
      return r.value("event", "") == "call" && r.value("from", "") == fromUser && r["frame"].value("type", "") == type;
    };
  }
  // Every call frame the server relayed from `fromUser` since `mark`, as types.
  std::vector<std::string> framesFrom(const std::string& fromUser, std::size_t mark) {
    std::vector<std::string> types;
    for (std::size_t i = mark; i < server_->reportCount(); ++i) {
      const auto report = server_->waitForReport([](const json&) { return true; }, 0.0, i);
      if (report && report->value("event", "") == "call" && report->value("from", "") == fromUser) {
        types.push_back((*report)["frame"].value("type", "?"));
      }
    }
    return types;
  }

  platform::GlibMainQueue queue_;
  platform::ScopedMainQueue main_{queue_};
  std::unique_ptr<CallServer> server_;
  std::vector<json> callerReceived_;
};

// Ann (4711) calls Bob (4712): Bob's program hears of the call from its page
// after Ann's offer is already waiting on the server, as a push would be.
class TwoPartyCall : public IncomingCallsIntegration {
 protected:
  void SetUp() override {
    IncomingCallsIntegration::SetUp();
    if (HasFatalFailure()) return;
    ann = party("4711", "deskA");
    bob = party("4712", "phoneB");
  }
  void TearDown() override {
    ann.reset();
    bob.reset();
  }
  // Ann places the call and Bob's phone rings with her offer stored.
  void ringBob() {
    const auto mark = server_->reportCount();
    ann->manager->makeCall(CallUser{"4712", "Bob", std::nullopt, "4712", false}, CallType::audio);
    ASSERT_TRUE(awaitReport(callFrame("offer", "4711"), mark, 20.0));
    bob->manager->prepareSignalingForIncoming("4711", std::optional<std::string>("Ann"), true, "PUSH-A1", "", false,
                                              false, true, false);
    ASSERT_TRUE(awaitReport(callFrame("offerReceived", "4712"), mark, 20.0));
    ASSERT_TRUE(runMainLoopUntil([&] { return bob->manager->state().call.pendingRemoteOffer.has_value(); }));
    EXPECT_EQ(bob->state(), Kind::ringing);
    EXPECT_EQ(ann->state(), Kind::calling);
  }

  std::unique_ptr<Party> ann, bob;
};

TEST_F(TwoPartyCall, RingAcceptTalkAndEitherSideHangsUp) {
  for (const bool annHangsUp : {true, false}) {
    SCOPED_TRACE(annHangsUp ? "Ann hangs up" : "Bob hangs up");
    if (!ann) {
      ann = party("4711", "deskA");
      bob = party("4712", "phoneB");
    }
    ringBob();
    if (HasFatalFailure()) return;
    bob->manager->acceptIncomingFromPanel("4711", "Ann", true, "PUSH-A1", true);
    ASSERT_TRUE(runMainLoopUntil([&] { return ann->state() == Kind::connected && bob->state() == Kind::connected; },
                                 40.0))
        << "ann=" << static_cast<int>(ann->state()) << " bob=" << static_cast<int>(bob->state());
    // Audio both ways.
    ASSERT_TRUE(runMainLoopUntil([&] { return audioPacketsReceived(*ann->peer) > 0; }, 20.0));
    ASSERT_TRUE(runMainLoopUntil([&] { return audioPacketsReceived(*bob->peer) > 0; }, 20.0));
    EXPECT_EQ(bob->manager->state().call.remoteDeviceUdid, "deskA");
    EXPECT_EQ(ann->manager->state().call.remoteDeviceUdid, "phoneB");

    Party& ender = annHangsUp ? *ann : *bob;
    Party& other = annHangsUp ? *bob : *ann;
    ender.manager->endCall();
    ASSERT_TRUE(runMainLoopUntil([&] { return other.state() == Kind::ended || other.state() == Kind::idle; }, 15.0))
        << static_cast<int>(other.state());
    ASSERT_TRUE(runMainLoopUntil([&] { return ann->state() == Kind::idle && bob->state() == Kind::idle; }, 15.0));
    EXPECT_TRUE(other.portsHave("timer Call ended"));
    ann.reset();
    bob.reset();
  }
}

TEST_F(TwoPartyCall, ADeclineReachesTheCallerAsBusyAndARepeatedAnnouncementAsNothing) {
  ringBob();
  if (HasFatalFailure()) return;
  // Bob's page announces the ringing call again: Ann's call goes on ringing.
  const auto mark = server_->reportCount();
  bob->manager->prepareSignalingForIncoming("4711", std::optional<std::string>("Ann"), true, "PUSH-A1", "", false,
                                            false, true, false);
  bob->manager->handleIncomingCall("4711", std::optional<std::string>("Ann"), true, "PUSH-A1", true);
  runMainLoopUntil([] { return false; }, 0.5);
  EXPECT_EQ(ann->state(), Kind::calling);

  bob->manager->rejectCall();
  EXPECT_EQ(bob->state(), Kind::rejected);
  const auto frames = [&] { return framesFrom("4712", mark); };
  ASSERT_TRUE(runMainLoopUntil([&] { return ann->state() == Kind::busy; }, 10.0));
  const auto busyAt = std::chrono::steady_clock::now();
  EXPECT_EQ(frames(), std::vector<std::string>{"userBusy"});
  // The busy screen stays a while (2.5 s), then the call ends and is
  // cleaned up.
  runMainLoopUntil([] { return false; }, 2.0);
  EXPECT_EQ(ann->state(), Kind::busy);
  EXPECT_TRUE(ann->portsHave("timer User busy right now"));
  ASSERT_TRUE(runMainLoopUntil([&] { return ann->state() == Kind::ended; }, 5.0));
  EXPECT_GE(std::chrono::duration<double>(std::chrono::steady_clock::now() - busyAt).count(), 2.0);
  ASSERT_TRUE(runMainLoopUntil([&] { return ann->state() == Kind::idle && bob->state() == Kind::idle; }, 10.0));
}

TEST_F(IncomingCallsIntegration, TheRingingCallAnnouncedAgainSendsNothingToItsCaller) {
  auto bob = party("4712", "phoneB");
  auto caller = bareCaller("4711", "deskA");
  bob->manager->prepareSignalingForIncoming("4711", std::optional<std::string>("Ann"), true, "PUSH-A1", "", false,
                                            false, true, false);
  ASSERT_TRUE(awaitReport([](const json& r) {
    return r.value("event", "") == "connection" && r["query"].value("userNumber", "") == "4712";
  }, 0));
  const auto mark = server_->reportCount();
  caller->emit("call", json::array({bareOffer("4711_deskA")}));
  ASSERT_TRUE(awaitReport(callFrame("offerReceived", "4712"), mark));

  // The page's panel message, the page's window request and a late push of
  // the same call: shown again, and nobody is told "busy".
  const auto again = server_->reportCount();
  bob->manager->prepareSignalingForIncoming("4711", std::optional<std::string>("Ann"), true, "PUSH-A1", "", true,
                                            false, true, false);
  bob->manager->handleIncomingCall("4711", std::optional<std::string>("Ann"), true, "PUSH-A1", true);
  bob->manager->sendBusyToNewCaller("4711");
  // Declining afterwards is the first "userBusy" the caller hears.
  bob->manager->rejectCall();
  ASSERT_TRUE(awaitReport(callFrame("userBusy", "4712"), again));
  ASSERT_TRUE(runMainLoopUntil([&] {
    return std::any_of(callerReceived_.begin(), callerReceived_.end(),
                       [](const json& f) { return f.value("type", "") == "userBusy"; });
  }));
  const auto frames = framesFrom("4712", again);
  EXPECT_EQ(std::count(frames.begin(), frames.end(), "userBusy"), 1) << ::testing::PrintToString(frames);
  EXPECT_EQ(callerReceived_.front().value("type", ""), "offerReceived");
  EXPECT_EQ(std::count_if(callerReceived_.begin(), callerReceived_.end(),
                          [](const json& f) { return f.value("type", "") == "userBusy"; }),
            1);
}

TEST_F(IncomingCallsIntegration, AHostileCallerNumberRunsNoScriptInThePage) {
  if (!hasProgram("node")) GTEST_SKIP() << "node is needed to run the page script";
  auto bob = party("4712", "phoneB");
  auto caller = bareCaller("4711", "deskA");
  // The page only guessed who calls; the offer names the caller.
  bob->manager->prepareSignalingForIncoming("4700", std::nullopt, true, "PUSH-X1", "", false, false, true, true);
  ASSERT_TRUE(awaitReport([](const json& r) {
    return r.value("event", "") == "connection" && r["query"].value("userNumber", "") == "4712";
  }, 0));
  const std::string hostile = "47\");globalThis.injected=1;(\"";
  caller->emit("call", json::array({bareOffer(hostile + "_deskA")}));
  const std::string prefix = "if (typeof window.__orvikResolveCallerIdentity === 'function')";
  std::string script;
  ASSERT_TRUE(runMainLoopUntil([&] {
    for (const auto& s : bob->page->scripts) {
      if (s.rfind(prefix, 0) == 0) script = s;
    }
    return !script.empty();
  }));
  EXPECT_EQ(bob->manager->state().call.remoteUserNumber, hostile);

  // What the page would run: the function gets the number as one string and
  // nothing else runs.
  const std::string program = "const window = globalThis; const got = [];"
                              "window.__orvikResolveCallerIdentity = (...args) => got.push(args);"
                              "try {" + script + "} catch (e) { console.log('THREW ' + e); }"
                              "console.log(JSON.stringify({got, injected: globalThis.injected === 1}));";
  const auto result = runProcess({"node", "-e", program});
  ASSERT_EQ(result.exitCode, 0) << result.output;
  EXPECT_EQ(json::parse(result.output), (json{{"got", json::array({json::array({hostile})})}, {"injected", false}}))
      << result.output;
}

}  // namespace
}  // namespace orvik::testing
