// A scripted callee for the call manager's tests on virtual time: the test
// plays the call server (ManagerHarness's fake transport) and the callee's
// device B (a FakePeerConnection on the harness's network), forwarding the
// offer, the answer and candidates both ways.
#pragma once

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "calls/control/test_support/manager_harness.h"

namespace orvik::testing {

// What the callee's peer connection says, kept for the test to forward.
class CalleeDelegate : public CallPeerConnectionDelegate {
 public:
  void peerConnectionDidFail(const PeerConnectionError& error) override { failures.push_back(error.description); }
  void peerConnectionDidGenerateCandidate(const LocalIceCandidate& candidate) override {
    candidates.push_back(candidate);
  }
  void peerConnectionDidChangeIceState(PeerConnectionState state) override { states.push_back(state); }
  void peerConnectionDidCreateOffer(const std::optional<std::string>&) override {}
  void peerConnectionDidCreateAnswer(const std::optional<std::string>& description) override { answer = description; }
  void peerConnectionDidReceiveDataChannelMessage(const std::string& text) override { messages.push_back(text); }
  void peerConnectionDidOpenRemoteDataChannel() override {}
  void attachRemoteTrack(const RemoteMediaTrack&) override {}

  std::vector<std::string> failures;
  std::vector<LocalIceCandidate> candidates;
  std::vector<PeerConnectionState> states;
  std::optional<std::string> answer;
  std::vector<std::string> messages;
};

// The manager on virtual time, the test playing the call server and the
// callee's device B.
struct CalleeScript : ManagerHarness {
  // Every packet the manager sent on its current connection for `event`.
  std::vector<socketio::SocketPacket> sentEvents(const std::string& event) const {
    std::vector<socketio::SocketPacket> out;
    if (!hub.last()) return out;
    for (const auto& text : hub.last()->sentPackets()) {
      const auto engine = socketio::decodeEnginePacket(text);
      auto packet = engine ? socketio::decodeSocketPacket(engine->payload) : std::nullopt;
      if (packet && packet->type == socketio::SocketPacketType::event && packet->data[0] == event) {
        out.push_back(*packet);
      }
    }
    return out;
  }
  // Every call frame of `type` the manager sent, on any connection.
  std::vector<nlohmann::json> frames(const std::string& type) const {
    std::vector<nlohmann::json> out;
    for (const auto& connection : hub.connections) {
      for (const auto& text : connection->sentPackets()) {
        const auto engine = socketio::decodeEnginePacket(text);
        const auto packet = engine ? socketio::decodeSocketPacket(engine->payload) : std::nullopt;
        if (packet && packet->type == socketio::SocketPacketType::event && packet->data[0] == "call" &&
            packet->data[1].value("type", "") == type) {
          out.push_back(packet->data[1]);
        }
      }
    }
    return out;
  }
  // Places a call to Bob; the server accepts the socket and keeps it alive
  // however long the test's virtual time runs.
  void place(CallType type = CallType::audio) {
    manager->makeCall(bob(), type);
    hub.last()->acceptWith(1e9, 1e9);
    queue.runUntilIdle();
  }
  void receiveIceServers() {
    hub.last()->receive(socketio::encodeEvent(
        "getToken",
        nlohmann::json::array({{{"token", {{"iceServers", {{{"urls", "stun:127.0.0.1:3478"}}}}, {"iceTransportPolicy", "all"}}}}}),
        std::nullopt));
  }
  // The server answers the device-list request.
  void answerDevices(const nlohmann::json& devices) {
    const auto requests = sentEvents("getUserDevices");
    ASSERT_FALSE(requests.empty());
    ASSERT_TRUE(requests.back().id);
    hub.last()->receive(socketio::encodeAck(*requests.back().id, nlohmann::json::array({devices})));
  }
  static nlohmann::json bobsDevices() { return nlohmann::json::array({{{"deviceUdid", "B"}, {"deviceToken", "apns-B-0123456789"}}}); }
  // The server relays a frame of the other party.
  void deliver(const nlohmann::json& frame) {
    hub.last()->receive(socketio::encodeEvent("call", nlohmann::json::array({frame}), std::nullopt));
    queue.runUntilIdle();
  }
  // Places a call and runs it until the offer is out (device list in).
  void placeUntilOfferSent(CallType type = CallType::audio) {
    signIn();
    place(type);
    receiveIceServers();
    queue.runUntilIdle();
    answerDevices(bobsDevices());
    queue.advance(0.1);  // the offer's candidate is gathered
    ASSERT_EQ(frames("offer").size(), 1u);
  }

  // The callee device B picks the offer up and answers it.
  void calleeAnswers(const std::string& device = "B", const std::string& source = "mobile") {
    const auto offer = frames("offer").back();
    const auto description = nlohmann::json::parse(offer["sdp"].get<std::string>());
    callee->setDelegate(calleeDelegate);
    callee->build({{}, "all", false, false}, [](BuildResult) {});
    callee->setRemoteDescription({description["type"], description["sdp"], std::nullopt}, [] {});
    callee->createAnswer();
    queue.advance(0.1);
    ASSERT_TRUE(calleeDelegate->answer);
    const auto answer = nlohmann::json::parse(*calleeDelegate->answer);
    deliver({{"type", "answer"}, {"from", "4712_" + device}, {"to", "4711_deskA"},
             {"sdp", answer}, {"deviceSource", source}});
  }
  // Candidates both ways: the manager's go to the callee, the callee's come
  // back as frames from device B.
  void exchangeCandidates() {
    for (const auto& frame : frames("candidate")) {
      callee->addICECandidate(frame["candidate"]["candidate"], std::nullopt, 0);
    }
    for (const auto& candidate : calleeDelegate->candidates) {
      deliver({{"type", "candidate"}, {"from", "4712_B"}, {"to", "4711_deskA"},
               {"candidate", {{"candidate", candidate.candidate}, {"sdpMid", candidate.sdpMid},
                              {"sdpMLineIndex", candidate.sdpMLineIndex}}}});
    }
    calleeDelegate->candidates.clear();
  }
  void connectCall() {
    placeUntilOfferSent();
    calleeAnswers();
    exchangeCandidates();
    queue.advance(1.0);
    ASSERT_EQ(manager->callState(), CallState(CallState::Kind::connected));
  }
  std::size_t count(const std::vector<std::string>& lines, const std::string& line) const {
    return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), line));
  }

  std::shared_ptr<FakePeerConnection> callee = network.makePeer("4712_B");
  std::shared_ptr<CalleeDelegate> calleeDelegate = std::make_shared<CalleeDelegate>();
};

}  // namespace orvik::testing
