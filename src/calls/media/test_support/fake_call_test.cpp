// A whole call on virtual time: two sides, each a signalling service on a
// fake transport with a fake peer connection and a remote candidate buffer,
// wired the way the call manager wires them; the test plays the call server
// and passes "call" frames from one side to the other.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "calls/media/call_ice_manager.h"
#include "calls/media/test_support/fake_peer_connection.h"
#include "calls/signaling/call_signaling_service.h"
#include "calls/signaling/socketio/fake_transport.h"
#include "calls/signaling/socketio/packet_codec.h"
#include "calls/signaling/test_support/recording_signaling_delegate.h"
#include "platform/dispatch/virtual_queue.h"

namespace orvik::testing {
namespace {

using nlohmann::json;

// One side as the call manager runs it; records what its peer tells it.
class CallSide : public RecordingSignalingDelegate,
                 public CallPeerConnectionDelegate,
                 public std::enable_shared_from_this<CallSide> {
 public:
  CallSide(std::string address, std::string otherAddress, FakePeerNetwork& network)
      : address(std::move(address)), other(std::move(otherAddress)) {
    signaling = CallSignalingService::make("https://calls.example", hub.factory(), [](std::string_view) {});
    peer = network.makePeer(this->address);
    candidates.onApplyCandidate = [this](const std::string& candidate, const std::optional<std::string>& mid,
                                         std::int32_t index) { peer->addICECandidate(candidate, mid, index); };
  }
  void wire() {
    signaling->setDelegate(shared_from_this());
    peer->setDelegate(shared_from_this());
    signaling->connect({"abcdefghijklmnopqrst", address, "DEVICE-" + address, "push", "false"});
    hub.last()->acceptWith();
  }

  void send(json frame) {
    frame["from"] = address;
    frame["to"] = other;
    signaling->emitCall(std::move(frame));
  }
  static json sdpOf(const std::optional<std::string>& description) {
    return description ? json::parse(*description) : json();
  }

  void placeCall() {
    peer->build({{}, "relay", /*isVideo=*/false, /*isCaller=*/true}, [this](BuildResult result) {
      if (result == BuildResult::built) peer->createOffer();
    });
  }
  void restartIce() {
    candidates.beginRenegotiation();
    peer->createIceRestartOffer([this](const std::optional<std::string>& offer) {
      if (offer) send({{"type", "iceRestartOffer"}, {"sdp", sdpOf(offer)}, {"iceRestartAttempt", 1}});
    });
  }

  // The peer connection's events.
  void peerConnectionDidFail(const PeerConnectionError& error) override { failures.push_back(error.description); }
  void peerConnectionDidGenerateCandidate(const LocalIceCandidate& c) override {
    send({{"type", "candidate"}, {"candidate", {{"candidate", c.candidate}, {"sdpMid", c.sdpMid}, {"sdpMLineIndex", c.sdpMLineIndex}}}});
  }
  void peerConnectionDidChangeIceState(PeerConnectionState state) override { states.push_back(state); }
  void peerConnectionDidCreateOffer(const std::optional<std::string>& d) override {
    send({{"type", "offer"}, {"isAudio", true}, {"sdp", sdpOf(d)}});
  }
  void peerConnectionDidCreateAnswer(const std::optional<std::string>& d) override {
    send({{"type", "answer"}, {"sdp", sdpOf(d)}});
  }
  void peerConnectionDidReceiveDataChannelMessage(const std::string& text) override { messages.push_back(text); }
  void peerConnectionDidOpenRemoteDataChannel() override { ++remoteChannels; }
  void attachRemoteTrack(const RemoteMediaTrack& track) override { remoteTracks.push_back(track.kind); }

  // The signalling service's events.
  void signalingDidReceiveOffer(const std::string& from, const SDPPayload& offer, bool, const std::optional<std::string>&,
                                const std::optional<std::string>&, const std::optional<std::string>&) override {
    EXPECT_EQ(from, other);
    candidates.reset();
    peer->build({{}, "relay", /*isVideo=*/false, /*isCaller=*/false}, [](BuildResult result) {
      EXPECT_EQ(result, BuildResult::built);
    });
    peer->setRemoteDescription(offer, [this] { candidates.remoteDescriptionWasSet(); });
    peer->createAnswer();
  }
  void signalingDidReceiveAnswer(const SDPPayload& answer, const std::optional<std::string>&,
                                 const std::optional<std::string>&) override {
    peer->setRemoteDescription(answer, [this] { candidates.remoteDescriptionWasSet(); });
  }
  void signalingDidReceiveCandidate(const std::string& candidate, const std::optional<std::string>& mid,
                                    std::int32_t index, const std::optional<std::string>&) override {
    candidates.addRemoteCandidate(candidate, mid, index);
  }
  void signalingDidReceiveRestartOffer(const SDPPayload& offer, std::optional<std::int64_t>,
                                       const std::optional<std::string>&) override {
    candidates.beginRenegotiation();
    peer->answerIceRestartOffer(
        offer, [this] { candidates.remoteDescriptionWasSet(); },
        [this](const std::optional<std::string>& answer) {
          if (answer) send({{"type", "iceRestartAnswer"}, {"sdp", sdpOf(answer)}, {"iceRestartAttempt", 1}});
        });
  }
  void signalingDidReceiveRestartAnswer(const SDPPayload& answer, std::optional<std::int64_t>,
                                        const std::optional<std::string>&) override {
    peer->applyIceRestartAnswer(answer, [this](bool applied) {
      restartApplied = applied;
      candidates.remoteDescriptionWasSet();
    });
  }

  bool isConnected() const { return !states.empty() && states.back() == PeerConnectionState::connected; }

  const std::string address, other;
  socketio::FakeTransportHub hub;
  std::shared_ptr<CallSignalingService> signaling;
  std::shared_ptr<FakePeerConnection> peer;
  CallICEManager candidates;
  std::vector<std::string> failures, messages, remoteTracks;
  std::vector<PeerConnectionState> states;
  int remoteChannels = 0;
  std::optional<bool> restartApplied;
  std::size_t relayed = 0;
};

class FakeCallTest : public ::testing::Test {
 protected:
  void SetUp() override {
    caller->wire();
    callee->wire();
    queue.runUntilIdle();
  }

  // The call server: every "call" frame a side sent since the last turn
  // reaches the other side, in order.
  void relay() {
    for (auto [from, to] : {std::pair{caller.get(), callee.get()}, std::pair{callee.get(), caller.get()}}) {
      const auto packets = from->hub.last()->sentPackets();
      for (; from->relayed < packets.size(); ++from->relayed) {
        const auto engine = socketio::decodeEnginePacket(packets[from->relayed]);
        const auto packet = engine ? socketio::decodeSocketPacket(engine->payload) : std::nullopt;
        if (!packet || packet->type != socketio::SocketPacketType::event || packet->data[0] != "call") continue;
        EXPECT_EQ(packet->data[1]["to"], to->address);
        to->hub.last()->receive(socketio::encodeEvent("call", json::array({packet->data[1]}), std::nullopt));
      }
    }
  }
  // Runs the main queue and the server for `seconds` of virtual time.
  void run(double seconds) {
    for (double spent = 0; spent < seconds; spent += 0.01) {
      relay();
      queue.advance(0.01);
    }
    relay();
    queue.runUntilIdle();
  }

  platform::VirtualQueue queue;
  platform::ScopedMainQueue main{queue};
  platform::ScopedClock clock{queue.clock()};
  FakePeerNetwork network;
  std::shared_ptr<CallSide> caller = std::make_shared<CallSide>("4711_A", "4712_B", network);
  std::shared_ptr<CallSide> callee = std::make_shared<CallSide>("4712_B", "4711_A", network);
};

TEST_F(FakeCallTest, ACallConnectsThroughSignallingLosesItsPathAndRecoversByIceRestart) {
  caller->placeCall();
  run(1.0);
  ASSERT_TRUE(caller->isConnected());
  ASSERT_TRUE(callee->isConnected());
  EXPECT_TRUE(caller->failures.empty() && callee->failures.empty());
  // The callee's candidate came before the answer reached the caller, and
  // waited in the caller's buffer.
  EXPECT_EQ(caller->peer->commands,
            (std::vector<std::string>{"build", "createOffer", "setRemoteDescription", "addICECandidate"}));
  EXPECT_EQ(callee->peer->commands, (std::vector<std::string>{"build", "setRemoteDescription", "createAnswer",
                                                               "addICECandidate"}));
  EXPECT_EQ(callee->remoteChannels, 1);
  EXPECT_EQ(caller->remoteTracks, std::vector<std::string>{"audio"});

  caller->peer->sendDataChannelMessage("{\"type\":\"AudioToggled\"}");
  run(0.1);
  EXPECT_EQ(callee->messages, std::vector<std::string>{"{\"type\":\"AudioToggled\"}"});

  // The relay goes away: both sides hear it; it comes back, and the path is
  // used again only after a restart with fresh credentials.
  network.cut();
  run(3.0);
  EXPECT_EQ(caller->states.back(), PeerConnectionState::disconnected);
  EXPECT_EQ(callee->states.back(), PeerConnectionState::disconnected);
  network.restore();
  run(1.0);
  EXPECT_FALSE(caller->isConnected());

  // Texts given while the path is down wait for it.
  callee->peer->sendDataChannelMessage("still here");
  caller->restartIce();
  run(1.0);
  EXPECT_EQ(caller->restartApplied, true);
  EXPECT_TRUE(caller->isConnected());
  EXPECT_TRUE(callee->isConnected());
  EXPECT_EQ(caller->messages, std::vector<std::string>{"still here"});
  // Nobody heard of a failure: the restart came in time.
  for (const auto& side : {caller, callee}) {
    EXPECT_EQ(std::count(side->states.begin(), side->states.end(), PeerConnectionState::failed), 0);
  }

  // The call ends; what the closed connection would still have said is gone.
  caller->peer->sendDataChannelMessage("late");
  caller->peer->close();
  run(20.0);
  EXPECT_EQ(callee->messages, std::vector<std::string>{"{\"type\":\"AudioToggled\"}"});
  EXPECT_EQ(callee->states.back(), PeerConnectionState::failed);
}

TEST_F(FakeCallTest, TheFakeRefusesWhatTheEngineRefuses) {
  auto& peer = *caller->peer;
  std::vector<BuildResult> builds;
  peer.build({}, [&](BuildResult result) { builds.push_back(result); });
  peer.build({}, [&](BuildResult result) { builds.push_back(result); });
  // An answer with no offer of ours pending, and text that is no description.
  peer.setRemoteDescription({"answer", "v=0\r\na=x-fake-peer:4712_B\r\na=ice-ufrag:x\r\n", std::nullopt}, [] {
    ADD_FAILURE() << "applied";
  });
  peer.setRemoteDescription({"offer", "v=0\r\n", std::nullopt}, [] { ADD_FAILURE() << "applied"; });
  std::optional<bool> applied;
  peer.applyIceRestartAnswer({"answer", "v=0", std::nullopt}, [&](bool ok) { applied = ok; });
  // Nothing is reported inside the command that caused it.
  EXPECT_TRUE(builds.empty());
  EXPECT_TRUE(caller->failures.empty());
  queue.runUntilIdle();
  EXPECT_EQ(builds, (std::vector<BuildResult>{BuildResult::built, BuildResult::refusedOpenConnection}));
  ASSERT_EQ(caller->failures.size(), 2u);
  EXPECT_EQ(caller->failures[0], "Failed to set remote answer sdp: Called in wrong state: stable");
  EXPECT_TRUE(caller->failures[1].starts_with("SDP parse error"));
  EXPECT_EQ(applied, false);

  // The offer's candidate is on its way when the call is closed: it never
  // arrives, nor does anything of the closed connection.
  peer.createOffer();
  queue.runUntilIdle();
  const auto candidatesBefore = caller->hub.last()->sentPackets().size();
  peer.close();
  queue.advance(5.0);
  EXPECT_EQ(caller->hub.last()->sentPackets().size(), candidatesBefore);
}

TEST_F(FakeCallTest, SimultaneousRestartOffersRollTheCalleeBackLikeTheEngine) {
  caller->placeCall();
  run(1.0);
  ASSERT_TRUE(caller->isConnected() && callee->isConnected());
  network.cut();
  run(3.0);
  network.restore();

  // Both offer at once; the callee's own offer gives way to the caller's.
  std::optional<std::string> calleeOffer;
  callee->peer->createIceRestartOffer([&](const std::optional<std::string>& offer) { calleeOffer = offer; });
  caller->restartIce();
  run(1.0);
  ASSERT_TRUE(calleeOffer);
  EXPECT_EQ(caller->restartApplied, true);
  EXPECT_EQ(callee->peer->signalingState(), FakePeerConnection::SignalingState::stable);
  EXPECT_TRUE(caller->isConnected() && callee->isConnected());

  // The callee's abandoned offer is of no use to the caller any more.
  std::optional<bool> applied;
  caller->peer->applyIceRestartAnswer({"answer", json::parse(*calleeOffer)["sdp"], std::nullopt},
                                      [&](bool ok) { applied = ok; });
  run(0.1);
  EXPECT_EQ(applied, false);
}

}  // namespace
}  // namespace orvik::testing
