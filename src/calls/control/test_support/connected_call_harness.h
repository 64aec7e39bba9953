// A ManagerHarness whose call is connected to a second fake peer ("Bob" on
// device B): the test plays Bob's side of the connection, sees the control
// texts the manager sends him, and answers his offers and upgrades itself.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "calls/control/test_support/manager_harness.h"

namespace orvik::testing {

// What a fake peer tells its owner.
struct PeerEvents final : CallPeerConnectionDelegate {
  void peerConnectionDidFail(const PeerConnectionError& error) override { failures.push_back(error.description); }
  void peerConnectionDidGenerateCandidate(const LocalIceCandidate& candidate) override {
    candidates.push_back(candidate);
  }
  void peerConnectionDidChangeIceState(PeerConnectionState state) override { states.push_back(state); }
  void peerConnectionDidCreateOffer(const std::optional<std::string>& d) override { offers.push_back(d.value_or("")); }
  void peerConnectionDidCreateAnswer(const std::optional<std::string>& d) override { answers.push_back(d.value_or("")); }
  void peerConnectionDidReceiveDataChannelMessage(const std::string& text) override { messages.push_back(text); }
  void peerConnectionDidOpenRemoteDataChannel() override {}
  void attachRemoteTrack(const RemoteMediaTrack&) override {}
  std::vector<std::string> failures, offers, answers, messages;
  std::vector<LocalIceCandidate> candidates;
  std::vector<PeerConnectionState> states;
};

inline std::string sdpMember(const std::string& descriptionJson) {
  const auto parsed = nlohmann::json::parse(descriptionJson, nullptr, false);
  return parsed.is_object() ? parsed.value("sdp", "") : "";
}

struct ConnectedCallHarness : ManagerHarness {
  // Places a call to Bob and connects it: Bob's device B answers the
  // manager's connection, which is then handed back to the manager.
  void connectCall(CallType type) {
    signIn();
    placeCall(type);
    sendIceServers();
    ASSERT_TRUE(peer->isBuilt());
    auto mine = std::make_shared<PeerEvents>();
    peer->setDelegate(mine);
    bob->setDelegate(bobEvents);
    bob->build(PeerConnectionSetup{{}, "all", type == CallType::video, false}, {});
    queue.runUntilIdle();
    peer->createOffer();
    queue.runUntilIdle();
    ASSERT_FALSE(mine->offers.empty());
    negotiate(*peer, *mine, mine->offers.back());
    peer->setDelegate(std::weak_ptr<CallPeerConnectionDelegate>(manager));
    auto& call = manager->stateForTesting().call;
    call.callState = CallState::Kind::connected;
    call.currentSession->state = CallState::Kind::connected;
    call.currentSession->connectedAt = queue.clock().now();
    call.remoteDeviceUdid = "B";
  }

  // Bob answers `offerJson` of `side`; candidates go both ways until both
  // are connected.
  void negotiate(FakePeerConnection& side, PeerEvents& sideEvents, const std::string& offerJson) {
    bob->setRemoteDescription({"offer", sdpMember(offerJson), std::nullopt}, {});
    bob->createAnswer();
    queue.runUntilIdle();
    ASSERT_FALSE(bobEvents->answers.empty());
    side.setRemoteDescription({"answer", sdpMember(bobEvents->answers.back()), std::nullopt}, {});
    queue.runUntilIdle();
    for (int round = 0; round < 5 && !(side.isConnected() && bob->isConnected()); ++round) {
      for (const auto& c : sideEvents.candidates) bob->addICECandidate(c.candidate, c.sdpMid, c.sdpMLineIndex);
      for (const auto& c : bobEvents->candidates) side.addICECandidate(c.candidate, c.sdpMid, c.sdpMLineIndex);
      queue.advance(0.5);
    }
    ASSERT_TRUE(side.isConnected() && bob->isConnected());
  }

  // The "call" frames sent with their whole payload.
  std::vector<nlohmann::json> callPayloads() const {
    std::vector<nlohmann::json> payloads;
    for (const auto& connection : hub.connections) {
      for (const auto& text : connection->sentPackets()) {
        const auto engine = socketio::decodeEnginePacket(text);
        const auto packet = engine ? socketio::decodeSocketPacket(engine->payload) : std::nullopt;
        if (packet && packet->type == socketio::SocketPacketType::event && packet->data[0] == "call") {
          payloads.push_back(packet->data[1]);
        }
      }
    }
    return payloads;
  }

  std::shared_ptr<FakePeerConnection> bob = network.makePeer("4712_B");
  std::shared_ptr<PeerEvents> bobEvents = std::make_shared<PeerEvents>();
};

}  // namespace orvik::testing
