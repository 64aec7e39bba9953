// One scripted device of a callee for the call manager's integration tests
// and benchmarks: this project's own CallSignalingService and
// CallPeerConnection (on loopback), ringing, answering, replying busy or
// declining as its script says, and trading candidates with the caller.
//
// THREADING: main queue (the GLib main context), like the manager.
#pragma once

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "calls/media/call_ice_manager.h"
#include "calls/media/test_support/loopback_peer.h"
#include "calls/signaling/call_signaling_service.h"
#include "calls/signaling/socketio/transport.h"

namespace orvik::testing {

// One device of the callee, user 4712: a CallSignalingService and a
// CallPeerConnection of this project, answering as its script says.
class ScriptedCallee final : public CallSignalingDelegate,
                             public CallPeerConnectionDelegate,
                             public std::enable_shared_from_this<ScriptedCallee> {
 public:
  enum class OnOffer { answer, ring, busy, decline };

  // `allowAllCandidates`: host candidates too (false: relay and reflexive
  // only, as in the program).
  static std::shared_ptr<ScriptedCallee> start(const std::string& url, const std::string& device, OnOffer script,
                                               bool allowAllCandidates = true) {
    auto callee = std::shared_ptr<ScriptedCallee>(new ScriptedCallee(device, script));
    callee->allowAllCandidates_ = allowAllCandidates;
    callee->signaling_ = CallSignalingService::make(url, socketio::soupTransportFactory(), [](std::string_view) {});
    callee->signaling_->setDelegate(std::weak_ptr<CallSignalingDelegate>(callee));
    callee->signaling_->connect({"tok-callee", "4712", device, "apns-" + device, "false"});
    return callee;
  }
  ~ScriptedCallee() override {
    if (signaling_) signaling_->disconnect();
    releaseLoopbackPeer(peer_);
  }

  bool isReady() const { return !servers_.empty(); }
  // A frame of this device to the caller's device.
  void send(const std::string& type) {
    signaling_->emitCall({{"type", type}, {"to", callerAddress_.value_or("4711")}, {"from", address()}});
  }
  std::string address() const { return "4712_" + device_; }
  CallPeerConnection* peer() { return peer_.get(); }
  bool isConnected() const {
    return std::find(states.begin(), states.end(), PeerConnectionState::connected) != states.end();
  }

  int offers = 0;
  int candidatesReceived = 0;
  int candidatesSent = 0;
  std::vector<std::string> endsReceived;
  std::vector<PeerConnectionState> states;
  std::vector<std::string> failures;

  // CallSignalingDelegate.
  void signalingDidConnect() override {}
  void signalingDidDisconnect() override {}
  void signalingDidReceiveIceServers(const std::vector<ICEServer>& servers, const std::string&) override {
    servers_ = servers;
  }
  void signalingDidFailAuth() override {}
  void signalingDidReceiveCallRecordId(std::int64_t) override {}
  void signalingDidReceiveOffer(const std::string& from, const SDPPayload& offer, bool, const std::optional<std::string>&,
                                const std::optional<std::string>&, const std::optional<std::string>&) override {
    ++offers;
    callerAddress_ = from;
    send("offerReceived");
    switch (script_) {
      case OnOffer::ring: return;
      case OnOffer::busy: send("userBusy"); return;
      case OnOffer::decline: send("endCall"); return;
      case OnOffer::answer: answer(offer); return;
    }
  }
  void signalingDidReceiveAnswer(const SDPPayload&, const std::optional<std::string>&,
                                 const std::optional<std::string>&) override {}
  void signalingDidReceiveCandidate(const std::string& candidate, const std::optional<std::string>& sdpMid,
                                    std::int32_t index, const std::optional<std::string>&) override {
    ++candidatesReceived;
    candidates_.addRemoteCandidate(candidate, sdpMid, index);
  }
  void signalingDidReceiveOfferReceived(const std::optional<std::string>&) override {}
  void signalingDidReceiveUserBusy(const std::optional<std::string>&) override {}
  void signalingDidReceiveEndCall(const std::optional<std::string>& from) override {
    endsReceived.push_back(from.value_or("-"));
  }
  void signalingDidReceiveRestartCapability(const std::optional<std::string>&) override {}
  void signalingDidReceiveRestartOffer(const SDPPayload&, std::optional<std::int64_t>,
                                       const std::optional<std::string>&) override {}
  void signalingDidReceiveRestartAnswer(const SDPPayload&, std::optional<std::int64_t>,
                                        const std::optional<std::string>&) override {}
  void signalingDidReceiveRestartRequest(const std::optional<std::string>&) override {}
  void signalingDidReceiveVideoUpgradeAnswer(const SDPPayload&, const std::optional<std::string>&) override {}
  void signalingDidReceivePendingCall() override {}
  void handleSendToMyDevices(const std::string&) override {}

  // CallPeerConnectionDelegate.
  void peerConnectionDidFail(const PeerConnectionError& error) override { failures.push_back(error.description); }
  void peerConnectionDidGenerateCandidate(const LocalIceCandidate& candidate) override {
    ++candidatesSent;
    OutgoingCallMessage message;
    message.type = "candidate";
    message.to = callerAddress_.value_or("4711");
    message.from = address();
    message.candidate = nlohmann::json{{"candidate", candidate.candidate}, {"sdpMid", candidate.sdpMid},
                             {"sdpMLineIndex", candidate.sdpMLineIndex}};
    signaling_->emitCall(message.dictionary());
  }
  void peerConnectionDidChangeIceState(PeerConnectionState state) override { states.push_back(state); }
  void peerConnectionDidCreateOffer(const std::optional<std::string>&) override {}
  void peerConnectionDidCreateAnswer(const std::optional<std::string>& description) override {
    if (!description || !callerAddress_) return;
    const auto caller = callerAddress_->substr(0, callerAddress_->find('_'));
    const auto device = callerAddress_->find('_') == std::string::npos
                            ? std::string()
                            : callerAddress_->substr(callerAddress_->find('_') + 1);
    signaling_->sendAnswer(caller, device, address(), *description);
  }
  void peerConnectionDidReceiveDataChannelMessage(const std::string&) override {}
  void peerConnectionDidOpenRemoteDataChannel() override {}
  void attachRemoteTrack(const RemoteMediaTrack&) override {}

 private:
  ScriptedCallee(std::string device, OnOffer script) : device_(std::move(device)), script_(script) {
    candidates_.onApplyCandidate = [this](const std::string& c, const std::optional<std::string>& mid, std::int32_t i) {
      if (peer_) peer_->addICECandidate(c, mid, i);
    };
  }
  void answer(const SDPPayload& offer) {
    peer_ = makeLoopbackPeer(allowAllCandidates_);
    peer_->setDelegate(std::weak_ptr<CallPeerConnectionDelegate>(shared_from_this()));
    peer_->build({servers_, "all", false, false}, [weak = weak_from_this(), offer](BuildResult result) {
      auto self = weak.lock();
      if (!self || result != BuildResult::built) return;
      self->peer_->setRemoteDescription(offer, [weak] {
        auto callee = weak.lock();
        if (!callee) return;
        callee->candidates_.remoteDescriptionWasSet();
        callee->peer_->createAnswer();
      });
    });
  }

  const std::string device_;
  const OnOffer script_;
  std::shared_ptr<CallSignalingService> signaling_;
  std::shared_ptr<CallPeerConnection> peer_;
  CallICEManager candidates_;
  std::vector<ICEServer> servers_;
  std::optional<std::string> callerAddress_;
  bool allowAllCandidates_ = true;
};

}  // namespace orvik::testing
