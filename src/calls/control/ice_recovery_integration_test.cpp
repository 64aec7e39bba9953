// ICE recovery of a real call: two call engines of this project in a call
// through the local call server (tools/devservice) and a coturn relay, both
// relay-only. The relay dies: both sides show "Reconnecting..." with the
// duration frozen; the relay comes back: the caller restarts ICE on the same
// connections and the call goes on, the duration running again and audio
// flowing. A token the server rejects mid-call is replaced without touching
// the call's connection. (The 45 s end of an unrecovered call is tested on
// virtual time, ice_recovery_test.)
#include <gtest/gtest.h>

#include <algorithm>

#include "calls/control/test_support/relay_call.h"
#include "platform/dispatch/glib_main_queue.h"
#include "platform/test_support/subprocess.h"

namespace orvik::testing {
namespace {

using nlohmann::json;
using Kind = CallState::Kind;

class IceRecoveryIntegration : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!hasProgram("turnserver")) GTEST_SKIP() << "coturn is not installed";
    std::string error;
    call_ = RelayCall::start(error);
    ASSERT_TRUE(call_) << error;
    const auto problem = call_->connect();
    ASSERT_EQ(problem, "") << "ann=" << static_cast<int>(call_->ann->state())
                           << " bob=" << static_cast<int>(call_->bob->state());
    ASSERT_TRUE(call_->audioFlows());
  }
  void TearDown() override { call_.reset(); }

  static long setUps(const RelayCallParty& party) {
    return std::count_if(party.lines.begin(), party.lines.end(),
                         [](const auto& line) { return line.find("PeerConn setup complete") != line.npos; });
  }
  // Runs the main loop for `seconds` whatever happens.
  static void wait(double seconds) { runMainLoopUntil([] { return false; }, seconds); }

  platform::GlibMainQueue queue_;
  platform::ScopedMainQueue main_{queue_};
  std::unique_ptr<RelayCall> call_;
};

TEST_F(IceRecoveryIntegration, ACutRelayShowsReconnectingAndAnICERestartBringsTheCallBack) {
  auto& ann = *call_->ann;
  auto& bob = *call_->bob;
  EXPECT_TRUE(ann.manager->peerCanRestartIce());
  EXPECT_TRUE(bob.manager->peerCanRestartIce());
  wait(1.5);
  ASSERT_TRUE(ann.timers().isDurationTimerRunning());

  call_->relay->stop();
  ASSERT_TRUE(runMainLoopUntil([&] { return ann.isReconnecting() && bob.isReconnecting(); }, 30.0))
      << "ann=" << ann.isReconnecting() << " bob=" << bob.isReconnecting();
  EXPECT_TRUE(runMainLoopUntil(
      [&] { return ann.portsHave("timer Reconnecting...") && bob.portsHave("timer Reconnecting..."); }, 1.0));
  EXPECT_EQ(ann.state(), Kind::connected);
  // The duration stands still while the call reconnects.
  EXPECT_FALSE(ann.timers().isDurationTimerRunning());
  const double frozen = ann.timers().elapsedSeconds();
  wait(1.2);
  EXPECT_EQ(ann.timers().elapsedSeconds(), frozen);

  // The relay comes back on the same port, with none of its allocations:
  // only fresh ICE credentials and relay candidates connect again.
  ASSERT_TRUE(call_->relay->restart());
  ASSERT_TRUE(runMainLoopUntil([&] { return call_->bothConnected(); }, 40.0))
      << "ann reconnecting=" << ann.isReconnecting() << " bob reconnecting=" << bob.isReconnecting();
  EXPECT_TRUE(ann.logged("[ICERestart] caller → restart 1/2"));
  EXPECT_TRUE(ann.logged("[ICERestart] ✅ connected after restart (restarts="));
  EXPECT_TRUE(bob.logged("[ICERestart] callee ← restart offer attempt="));
  EXPECT_TRUE(ann.logged("[NativeCallMgr] ICE recovered — resuming timer"));
  EXPECT_TRUE(call_->awaitFrame("iceRestartAnswer", "4712", 0, 1.0));
  // The same connections carry the call: nothing was rebuilt.
  EXPECT_EQ(setUps(ann), 1);
  EXPECT_EQ(setUps(bob), 1);

  // The duration goes on from where it stood, and audio flows both ways.
  ASSERT_TRUE(runMainLoopUntil([&] { return ann.timers().elapsedSeconds() > frozen; }, 5.0));
  EXPECT_TRUE(ann.timers().isDurationTimerRunning());
  EXPECT_LT(ann.timers().elapsedSeconds(), frozen + 3.0);
  EXPECT_TRUE(call_->audioFlows());
  EXPECT_EQ(ann.state(), Kind::connected);
  EXPECT_EQ(bob.state(), Kind::connected);
}

TEST_F(IceRecoveryIntegration, ARelayedCallKeepsItsConnectionWhenTheServerRejectsTheTokenMidCall) {
  auto& ann = *call_->ann;
  const auto mark = call_->server->reportCount();
  // The server rejects Ann's token on her call socket.
  socketio::SocketIOOptions options;
  options.path = "/calling";
  options.connectParams = {{"token", "t"}, {"userNumber", "4799"}, {"deviceUdid", "ops"}, {"pushToken", ""}};
  auto ops = socketio::SocketIOClient::make(call_->server->url(), options, socketio::soupTransportFactory());
  ops->connect();
  ASSERT_TRUE(runMainLoopUntil([&] { return ops->status() == socketio::SocketStatus::connected; }));
  ops->emit("rejectToken", json::array({{{"address", "4711_deskA"}}}));
  ASSERT_TRUE(runMainLoopUntil([&] { return !ann.credentialFetches.empty(); }, 10.0));
  EXPECT_EQ(ann.credentialFetches, std::vector<std::string>{"invalid-token"});
  EXPECT_EQ(ann.state(), Kind::connected);

  // The page hands over a fresh token: the socket comes back and the server
  // sends its ICE servers again.
  ann.signIn("tok-4711-fresh-0123456789");
  ASSERT_TRUE(runMainLoopUntil(
      [&] { return ann.logged("[NativeCallMgr] ICE config refreshed — the call's peer connection stays"); }, 20.0));
  EXPECT_TRUE(ann.logged("[NativeCallMgr] call socket reconnected — nothing to recover (answered=true "
                         "iceConnected=true)"));
  const auto connection = call_->server->waitForReport(
      [](const json& r) {
        return r.value("event", "") == "connection" && r["query"].value("token", "") == "tok-4711-fresh-0123456789";
      },
      0.01, mark);
  EXPECT_TRUE(connection);
  // The call never left connected, sent no new offer and its media flows.
  EXPECT_TRUE(call_->bothConnected());
  EXPECT_EQ(setUps(ann), 1);
  EXPECT_FALSE(call_->awaitFrame("offer", "4711", mark, 0.5));
  EXPECT_FALSE(call_->awaitFrame("iceRestartOffer", "4711", mark, 0.1));
  EXPECT_TRUE(call_->audioFlows());
  EXPECT_EQ(ann.state(), Kind::connected);
  ops->disconnect();
}

}  // namespace
}  // namespace orvik::testing
