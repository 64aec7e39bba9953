#include "calls/media/call_peer_connection.h"

#include <api/jsep.h>
#include <modules/audio_device/include/test_audio_device.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <mutex>
#include <thread>

#include "calls/media/call_peer_connection_internal.h"
#include "core/native_logger.h"
#include "platform/dispatch/virtual_queue.h"
#include "platform/test_support/background_process.h"
#include "platform/test_support/subprocess.h"
#include "platform/test_support/temp_dir.h"

namespace orvik {
namespace {

using namespace std::chrono_literals;

// A UDP port on loopback that nothing listens on right now.
int freeUdpPort() {
  const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

// Records what a peer connection tells its owner.
class RecordingPeerDelegate : public CallPeerConnectionDelegate {
 public:
  void peerConnectionDidFail(const PeerConnectionError& error) override { failures.push_back(error.description); }
  void peerConnectionDidGenerateCandidate(const LocalIceCandidate& candidate) override { candidates.push_back(candidate); }
  void peerConnectionDidChangeIceState(IceConnectionState state) override { states.push_back(state); }

  bool isConnected() const {
    return !states.empty() &&
           (states.back() == IceConnectionState::connected || states.back() == IceConnectionState::completed);
  }

  std::vector<std::string> failures;
  std::vector<LocalIceCandidate> candidates;
  std::vector<IceConnectionState> states;
  std::size_t forwarded = 0;
};

std::shared_ptr<CallPeerConnection::TestHooks> loopbackHooks(bool allowAllCandidates) {
  auto hooks = std::make_shared<CallPeerConnection::TestHooks>();
  hooks->allowLoopback = true;
  hooks->allowAllCandidates = allowAllCandidates;
  hooks->audioDevice = [](webrtc::TaskQueueFactory& taskQueues) {
    return rtc::scoped_refptr<webrtc::AudioDeviceModule>(webrtc::TestAudioDeviceModule::Create(
        &taskQueues, webrtc::TestAudioDeviceModule::CreatePulsedNoiseCapturer(1000, 48000),
        webrtc::TestAudioDeviceModule::CreateDiscardRenderer(48000)));
  };
  return hooks;
}

// Runs `work` on the connection's peer queue and waits for it.
template <typename Work>
auto onPeerQueue(CallPeerConnection& connection, Work work) {
  std::promise<decltype(work())> result;
  connection.peerQueue().post([&] {
    if constexpr (std::is_void_v<decltype(work())>) {
      work();
      result.set_value();
    } else {
      result.set_value(work());
    }
  });
  return result.get_future().get();
}

class CreateObserver : public webrtc::CreateSessionDescriptionObserver {
 public:
  CreateObserver(CallPeerConnection& connection, std::string label, std::promise<std::string>& sdp)
      : connection_(connection), label_(std::move(label)), sdp_(sdp) {}
  void OnSuccess(webrtc::SessionDescriptionInterface* description) override {
    applyTunedLocalDescription(connection_, label_, std::unique_ptr<webrtc::SessionDescriptionInterface>(description),
                               [this](const std::string& sdp, webrtc::RTCError error) {
                                 sdp_.set_value(error.ok() ? sdp : std::string());
                               });
  }
  void OnFailure(webrtc::RTCError) override { sdp_.set_value({}); }

 private:
  CallPeerConnection& connection_;
  std::string label_;
  std::promise<std::string>& sdp_;
};

class SetRemoteObserver : public webrtc::SetRemoteDescriptionObserverInterface {
 public:
  explicit SetRemoteObserver(std::promise<bool>& done) : done_(done) {}
  void OnSetRemoteDescriptionComplete(webrtc::RTCError error) override { done_.set_value(error.ok()); }

 private:
  std::promise<bool>& done_;
};

class CallPeerConnectionIntegration : public ::testing::Test {
 protected:
  void SetUp() override {
    NativeLogger::shared().setPrintFunction([this](const std::string& line) {
      std::lock_guard lock(linesMutex);
      lines.push_back(line);
    });
  }
  void TearDown() override { NativeLogger::shared().setPrintFunction({}); }

  std::shared_ptr<CallPeerConnection> make(bool allowAllCandidates, std::shared_ptr<RecordingPeerDelegate>& delegate) {
    auto connection = CallPeerConnection::create(loopbackHooks(allowAllCandidates));
    delegate = std::make_shared<RecordingPeerDelegate>();
    connection->setDelegate(delegate);
    return connection;
  }

  std::string createLocal(CallPeerConnection& connection, bool offer) {
    std::promise<std::string> sdp;
    auto future = sdp.get_future();
    onPeerQueue(connection, [&] {
      auto observer = rtc::make_ref_counted<CreateObserver>(connection, offer ? "offer" : "answer", sdp);
      auto* pc = webrtcConnection(connection);
      offer ? pc->CreateOffer(observer.get(), {}) : pc->CreateAnswer(observer.get(), {});
    });
    return future.get();
  }

  bool setRemote(CallPeerConnection& connection, webrtc::SdpType type, const std::string& sdp) {
    std::promise<bool> done;
    auto future = done.get_future();
    onPeerQueue(connection, [&] {
      webrtcConnection(connection)->SetRemoteDescription(webrtc::CreateSessionDescription(type, sdp),
                                                         rtc::make_ref_counted<SetRemoteObserver>(done));
    });
    return future.get();
  }

  // Hands each side's new local candidates to the other side.
  void forwardCandidates(RecordingPeerDelegate& from, CallPeerConnection& to) {
    for (; from.forwarded < from.candidates.size(); ++from.forwarded) {
      const LocalIceCandidate candidate = from.candidates[from.forwarded];
      to.peerQueue().post([&to, candidate] {
        webrtc::SdpParseError error;
        std::unique_ptr<webrtc::IceCandidateInterface> parsed(
            webrtc::CreateIceCandidate(candidate.sdpMid, candidate.sdpMLineIndex, candidate.candidate, &error));
        if (auto* pc = webrtcConnection(to); pc && parsed) pc->AddIceCandidate(std::move(parsed), [](webrtc::RTCError) {});
      });
    }
  }

  // Pumps the main queue until `done` or a generous deadline (a guard
  // against hangs, not a measurement).
  bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 20s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
      main.runUntilIdle();
      if (done()) return true;
      std::this_thread::sleep_for(5ms);
    }
    return false;
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

  // Builds both sides, negotiates in memory and waits for ICE to connect.
  void connect(const std::vector<ICEServer>& servers, bool allowAllCandidates) {
    caller = make(allowAllCandidates, callerEvents);
    callee = make(allowAllCandidates, calleeEvents);
    ASSERT_EQ(onPeerQueue(*caller, [&] { return caller->buildPeerConnection(servers, "all", true, true); }),
              BuildResult::built);
    ASSERT_EQ(onPeerQueue(*callee, [&] { return callee->buildPeerConnection(servers, "all", true, false); }),
              BuildResult::built);
    const std::string offer = createLocal(*caller, true);
    ASSERT_FALSE(offer.empty());
    ASSERT_TRUE(setRemote(*callee, webrtc::SdpType::kOffer, offer));
    const std::string answer = createLocal(*callee, false);
    ASSERT_FALSE(answer.empty());
    ASSERT_TRUE(setRemote(*caller, webrtc::SdpType::kAnswer, answer));
    ASSERT_TRUE(pumpUntil([&] {
      forwardCandidates(*callerEvents, *callee);
      forwardCandidates(*calleeEvents, *caller);
      return callerEvents->isConnected() && calleeEvents->isConnected();
    })) << "ICE did not connect";
    EXPECT_NE(offer.find("a=ptime:60"), std::string::npos);
    EXPECT_TRUE(logged("[Media] offer: Opus tuned (24 kbps mono, FEC, DTX, 60 ms)"));
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
  std::mutex linesMutex;
  std::vector<std::string> lines;
  std::shared_ptr<RecordingPeerDelegate> callerEvents, calleeEvents;
  std::shared_ptr<CallPeerConnection> caller, callee;
};

TEST_F(CallPeerConnectionIntegration, TwoPeersConnectOnLoopbackAndShowTheSelectedPair) {
  connect({}, /*allowAllCandidates=*/true);
  expectSelectedPairInStats();
  onPeerQueue(*caller, [&] { caller->applySenderCaps("test"); });
  EXPECT_TRUE(logged("[Media] sender caps applied (test) — audio 24 kbps high-priority, video camera 1.5 Mbps low-priority"));
}

TEST_F(CallPeerConnectionIntegration, BuildShapesTracksChannelAndRefusesToReplaceAnOpenConnection) {
  auto events = std::make_shared<RecordingPeerDelegate>();
  auto connection = make(true, events);
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
  orvik::testing::TempDir runtime;
  const int port = freeUdpPort();
  auto turn = orvik::testing::BackgroundProcess::start({"turnserver", "-n", "--listening-ip=127.0.0.1", "--relay-ip=127.0.0.1",
                                          "--listening-port=" + std::to_string(port), "--lt-cred-mech",
                                          "--user=orvik:secret", "--realm=orvik.test", "--allow-loopback-peers",
                                          "--no-tls", "--no-dtls", "--no-cli", "--log-file=stdout",
                                          "--min-port=49152", "--max-port=49300",
                                                        "--pidfile=" + (runtime.path() / "turn.pid").string(),
                                                        "--userdb=" + (runtime.path() / "turn.db").string()});
  ASSERT_TRUE(turn);
  ASSERT_TRUE(turn->waitForLine([](const std::string& line) { return line.find("Total General servers") != std::string::npos; },
                                10.0))
      << "turnserver did not start";
  const std::vector<ICEServer> servers = {
      {{"turn:127.0.0.1:" + std::to_string(port) + "?transport=udp"}, "orvik", "secret"}};
  connect(servers, /*allowAllCandidates=*/false);
  expectSelectedPairInStats();
  EXPECT_TRUE(logged("policy=relay (TURN only)"));
  EXPECT_TRUE(logged("via TURN/udp"));
}

}  // namespace
}  // namespace orvik
