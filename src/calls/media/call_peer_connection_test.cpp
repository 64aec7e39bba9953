#include "calls/media/call_peer_connection.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>

#include "calls/media/call_peer_connection_internal.h"
#include "calls/media/test_support/loopback_call.h"
#include "core/native_logger.h"
#include "platform/dispatch/virtual_queue.h"
#include "platform/test_support/subprocess.h"

namespace orvik {
namespace {

using namespace std::chrono_literals;
using orvik::testing::onPeerQueue;

class CallPeerConnectionIntegration : public ::testing::Test {
 protected:
  void SetUp() override {
    NativeLogger::shared().setPrintFunction([this](const std::string& line) {
      std::lock_guard lock(linesMutex);
      lines.push_back(line);
    });
  }
  void TearDown() override { NativeLogger::shared().setPrintFunction({}); }

  void connect(const std::vector<ICEServer>& servers, bool allowAllCandidates, bool again = false) {
    ASSERT_EQ(call.connect(servers, allowAllCandidates, again), "");
    caller = call.caller;
    callee = call.callee;
    EXPECT_NE(call.offerSdp.find("a=ptime:60"), std::string::npos);
    EXPECT_TRUE(logged("[Media] offer: Opus tuned (24 kbps mono, FEC, DTX, 60 ms)"));
  }
  bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 20s) {
    return call.pumpUntil(done, limit);
  }

  std::string statsLines() {
    std::lock_guard lock(linesMutex);
    std::string out;
    for (const auto& line : lines) {
      if (line.find("[ICE]") != std::string::npos) out += line + "\n";
    }
    return out;
  }

  bool logged(const std::string& text) {
    std::lock_guard lock(linesMutex);
    return std::any_of(lines.begin(), lines.end(), [&](const auto& line) { return line.find(text) != std::string::npos; });
  }

  // Right after ICE connects the nomination may still be under way, so each
  // side asks again until its stats line names the selected pair.
  void expectSelectedPairInStats() {
    for (auto* side : {caller.get(), callee.get()}) {
      const std::string role = side == caller.get() ? "[ICE] caller" : "[ICE] callee";
      auto selectedLines = [&] {
        std::lock_guard lock(linesMutex);
        return std::count_if(lines.begin(), lines.end(), [&](const auto& line) {
          return line.find(role) != std::string::npos && line.find("stats (connected)") != std::string::npos &&
                 line.find("| selected: ") != std::string::npos;
        });
      };
      bool found = false;
      for (int attempt = 0; attempt < 50 && !found; ++attempt) {
        onPeerQueue(*side, [&] { side->requestIceStats("connected"); });
        pumpUntil([&] { return selectedLines() > 0; }, 200ms);
        found = selectedLines() > 0;
      }
      EXPECT_TRUE(found) << statsLines();
    }
  }

  platform::VirtualQueue main;
  platform::ScopedMainQueue scopedMain{main};
  orvik::testing::LoopbackCall call{main};
  std::mutex linesMutex;
  std::vector<std::string> lines;
  std::shared_ptr<CallPeerConnection> caller, callee;
};

TEST_F(CallPeerConnectionIntegration, TwoPeersConnectOnLoopbackAndShowTheSelectedPair) {
  connect({}, /*allowAllCandidates=*/true);
  expectSelectedPairInStats();
  onPeerQueue(*caller, [&] { caller->applySenderCaps("test"); });
  EXPECT_TRUE(logged("[Media] sender caps applied (test) — audio 24 kbps high-priority, video camera 1.5 Mbps low-priority"));

  // The call ends; the next call builds afresh in the same objects.
  caller->close();
  callee->close();
  onPeerQueue(*caller, [&] { EXPECT_FALSE(caller->hasPeerConnection()); });
  onPeerQueue(*callee, [&] { EXPECT_FALSE(callee->hasPeerConnection()); });
  connect({}, /*allowAllCandidates=*/true, /*again=*/true);
}

TEST_F(CallPeerConnectionIntegration, BuildShapesTracksChannelAndRefusesToReplaceAnOpenConnection) {
  auto events = std::make_shared<orvik::testing::RecordingPeerDelegate>();
  auto connection = CallPeerConnection::create(orvik::testing::loopbackHooks(true));
  connection->setDelegate(events);
  const std::vector<ICEServer> stunOnly = {{{"stun:127.0.0.1:9"}, "", ""}};
  EXPECT_EQ(onPeerQueue(*connection, [&] { return connection->buildPeerConnection(stunOnly, "all", false, true); }),
            BuildResult::built);
  onPeerQueue(*connection, [&] {
    EXPECT_TRUE(connection->hasDataChannel());
    EXPECT_TRUE(connection->hasLocalAudioTrack());
    EXPECT_FALSE(connection->hasLocalVideoTrack());
  });
  // A credential refresh mid-call must not tear the live connection away.
  EXPECT_EQ(onPeerQueue(*connection, [&] { return connection->buildPeerConnection(stunOnly, "all", true, false); }),
            BuildResult::refusedOpenConnection);
  onPeerQueue(*connection, [&] { EXPECT_TRUE(connection->hasDataChannel()); });

  connection->close();
  onPeerQueue(*connection, [&] {
    EXPECT_FALSE(connection->hasPeerConnection());
    EXPECT_EQ(connection->lastIceState(), IceConnectionState::newState);
  });
  EXPECT_EQ(onPeerQueue(*connection, [&] { return connection->buildPeerConnection(stunOnly, "all", true, false); }),
            BuildResult::built);
  onPeerQueue(*connection, [&] {
    EXPECT_FALSE(connection->hasDataChannel());  // the callee adopts the caller's channel
    EXPECT_TRUE(connection->hasLocalVideoTrack());
  });
  EXPECT_TRUE(logged("[ICE] callee +0."));
}

TEST_F(CallPeerConnectionIntegration, RelayOnlyThroughALocalTurnServer) {
  if (!orvik::testing::hasProgram("turnserver")) GTEST_SKIP() << "coturn is not installed";
  auto turn = orvik::testing::LocalTurnServer::start();
  ASSERT_TRUE(turn) << "turnserver did not start";
  connect(turn->iceServers(), /*allowAllCandidates=*/false);
  expectSelectedPairInStats();
  EXPECT_TRUE(logged("policy=relay (TURN only)"));
  EXPECT_TRUE(logged("via TURN/udp"));
}

}  // namespace
}  // namespace orvik
