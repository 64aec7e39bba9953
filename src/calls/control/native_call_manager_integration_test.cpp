// The call manager against the local call server (tools/devservice, real
// Socket.IO on 127.0.0.1) and the real WebRTC peer connection: placing a call
// connects the call socket with the user's parameters, takes the server's ICE
// servers and builds the connection; hanging up while it rings reaches the
// server as end frames; a redial straight after starts clean.
#include <gtest/gtest.h>

#include "calls/control/call_strings.h"
#include "calls/control/native_call_manager.h"
#include "calls/control/test_support/recording_call_ports.h"
#include "calls/media/call_peer_connection.h"
#include "calls/signaling/test_support/call_server.h"
#include "platform/dispatch/glib_main_queue.h"
#include "platform/test_support/main_loop.h"
#include "platform/test_support/temp_dir.h"
#include "platform/user_defaults.h"

namespace orvik::testing {
namespace {

using nlohmann::json;

class NativeCallManagerIntegration : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    server_ = CallServer::start(CallServerOptions{}, error);
    ASSERT_TRUE(server_) << error;
    NativeCallManager::Collaborators c{
        CallSignalingService::make(server_->url(), socketio::soupTransportFactory(), [](std::string_view) {}),
        CallPeerConnection::create(), tones_, windows_, alerts_, capture_, share_, displaySleep_, defaults_};
    c.strings = &strings_;
    c.log = [](const std::string&) {};
    manager_ = NativeCallManager::create(std::move(c));
    manager_->setCredentials({"4711", "deskA", "tok-0123456789abcdef", "Ann", ""});

    // The callee's only device, listening for what reaches it.
    socketio::SocketIOOptions options;
    options.path = "/calling";
    options.connectParams = {{"token", "t"}, {"userNumber", "4712"}, {"deviceUdid", "phoneB"}, {"pushToken", "apns-B"}};
    callee_ = socketio::SocketIOClient::make(server_->url(), options, socketio::soupTransportFactory());
    callee_->on("call", [this](const json& args, const socketio::Ack&) {
      if (!args.empty()) received_.push_back(args[0].value("type", "?") + " " + args[0].value("to", "?"));
    });
    callee_->connect();
    ASSERT_TRUE(runMainLoopUntil([this] { return callee_->status() == socketio::SocketStatus::connected; }));
  }

  void TearDown() override {
    if (callee_) callee_->disconnect();
    manager_.reset();
  }

  // The server's first report at `from` or later that `match` accepts, while
  // the main loop runs (the manager's socket lives on it).
  std::optional<json> awaitReport(const std::function<bool(const json&)>& match, std::size_t from,
                                  double timeoutSeconds = 10.0) {
    std::optional<json> found;
    runMainLoopUntil([&] { return (found = server_->waitForReport(match, 0.01, from)).has_value(); }, timeoutSeconds);
    return found;
  }
  std::optional<json> connectionOf(const std::string& userNumber, std::size_t from) {
    return awaitReport(
        [&](const json& r) { return r.value("event", "") == "connection" && r["query"].value("userNumber", "") == userNumber; },
        from);
  }
  bool callIsReady() { return manager_->state().call.peerConnIsReady; }

  platform::GlibMainQueue queue_;
  platform::ScopedMainQueue main_{queue_};
  std::unique_ptr<CallServer> server_;
  TempDir folder_;
  platform::UserDefaults defaults_{folder_ / "defaults.json"};
  PortLog ports_;
  RecordingCallWindows windows_{ports_};
  RecordingCallAlerts alerts_{ports_};
  FakeCallCapture capture_{ports_};
  RecordingCallTones tones_{ports_};
  FakeCallScreenShare share_{ports_};
  FakeDisplaySleepInhibitor displaySleep_{ports_};
  CallStrings strings_{[](const std::string&) {}};
  std::shared_ptr<NativeCallManager> manager_;
  std::shared_ptr<socketio::SocketIOClient> callee_;
  std::vector<std::string> received_;
};

TEST_F(NativeCallManagerIntegration, PlacingHangingUpWhileItRingsAndRedialingRunAgainstTheCallServer) {
  const CallUser bob{"4712", "Bob", std::nullopt, "4712", false};
  std::size_t mark = server_->reportCount();
  manager_->makeCall(bob, CallType::audio);
  const auto connection = connectionOf("4711", mark);
  ASSERT_TRUE(connection);
  EXPECT_EQ((*connection)["query"], json({{"token", "tok-0123456789abcdef"}, {"userNumber", "4711"},
                                          {"deviceUdid", "deskA"}, {"pushToken", ""}, {"isFreeUser", "false"}}));
  // The server's ICE servers build the caller's connection.
  ASSERT_TRUE(runMainLoopUntil([this] { return callIsReady(); }));
  EXPECT_EQ(manager_->callState(), CallState(CallState::Kind::calling));

  // Hanging up while it rings: every device of the callee hears it.
  mark = server_->reportCount();
  manager_->endCall();
  for (const char* type : {"endCall", "StopRinging"}) {
    const auto frame = awaitReport(
        [type](const json& r) { return r.value("event", "") == "call" && r["frame"].value("type", "") == type; }, mark);
    ASSERT_TRUE(frame) << type;
    EXPECT_EQ((*frame)["frame"]["to"], "4712");
    EXPECT_EQ((*frame)["frame"]["from"], "4711_deskA");
  }
  ASSERT_TRUE(runMainLoopUntil([this] { return received_.size() >= 2; }));
  EXPECT_EQ(received_, (std::vector<std::string>{"endCall 4712", "StopRinging 4712"}));

  // The user calls again at once, while the ended call's windows are still up.
  mark = server_->reportCount();
  manager_->makeCall(bob, CallType::audio);
  EXPECT_EQ(manager_->callGeneration(), 2);
  const auto second = connectionOf("4711", mark);
  ASSERT_TRUE(second);
  ASSERT_TRUE(runMainLoopUntil([this] { return callIsReady(); }));
  const auto portsMark = ports_.size();

  // Past the ended call's window close (0.3 s) and clean-up (2.9 s): nothing
  // of it touches the new call.
  runMainLoopUntil([] { return false; }, 3.5);
  EXPECT_EQ(manager_->callState(), CallState(CallState::Kind::calling));
  EXPECT_TRUE(callIsReady());
  for (std::size_t i = portsMark; i < ports_.size(); ++i) EXPECT_NE(ports_[i].rfind("close", 0), 0u) << ports_[i];
  const std::string secondId = (*second)["id"];
  EXPECT_FALSE(server_->waitForReport(
      [&](const json& r) { return r.value("event", "") == "disconnect" && r.value("id", "") == secondId; }, 0.01, mark));

  manager_->endCall();
  ASSERT_TRUE(runMainLoopUntil([this] { return manager_->callState() == CallState(CallState::Kind::idle); }, 10.0));
  EXPECT_TRUE(awaitReport(
      [&](const json& r) { return r.value("event", "") == "disconnect" && r.value("id", "") == secondId; }, mark));
}

}  // namespace
}  // namespace orvik::testing
