// The call manager against the local call server (tools/devservice, real
// Socket.IO on 127.0.0.1) and real WebRTC on loopback: it calls a scripted
// callee made of the project's own signalling client and peer connection,
// which rings, answers, trades candidates and talks until the call connects
// with audio flowing both ways; the callee's busy reply, its decline, its
// hang-up and the ring timer each end the call; a second device's late busy
// reply after the answer changes nothing.
#include <gtest/gtest.h>

#include "calls/control/call_strings.h"
#include "calls/control/native_call_manager.h"
#include "calls/control/test_support/recording_call_ports.h"
#include "calls/media/call_ice_manager.h"
#include "calls/media/test_support/loopback_peer.h"
#include "calls/signaling/test_support/call_server.h"
#include "platform/dispatch/glib_main_queue.h"
#include "platform/test_support/main_loop.h"
#include "platform/test_support/temp_dir.h"
#include "platform/user_defaults.h"

namespace orvik::testing {
namespace {

using nlohmann::json;
using Kind = CallState::Kind;

// One device of the callee, user 4712: a CallSignalingService and a
// CallPeerConnection of this project, answering as its script says.
class ScriptedCallee final : public CallSignalingDelegate,
                             public CallPeerConnectionDelegate,
                             public std::enable_shared_from_this<ScriptedCallee> {
 public:
  enum class OnOffer { answer, ring, busy, decline };

  static std::shared_ptr<ScriptedCallee> start(const std::string& url, const std::string& device, OnOffer script) {
    auto callee = std::shared_ptr<ScriptedCallee>(new ScriptedCallee(device, script));
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
    message.candidate = json{{"candidate", candidate.candidate}, {"sdpMid", candidate.sdpMid},
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
    peer_ = makeLoopbackPeer(/*allowAllCandidates=*/true);
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
};

class CallNegotiationIntegration : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    server_ = CallServer::start(CallServerOptions{}, error);
    ASSERT_TRUE(server_) << error;
    peer_ = makeLoopbackPeer(/*allowAllCandidates=*/true);
    NativeCallManager::Collaborators c{
        CallSignalingService::make(server_->url(), socketio::soupTransportFactory(), [](std::string_view) {}),
        peer_, tones_, windows_, alerts_, capture_, share_, displaySleep_, defaults_};
    c.strings = &strings_;
    c.log = [this](const std::string& line) { lines_.push_back(line); };
    manager_ = NativeCallManager::create(std::move(c));
    manager_->setCredentials({"4711", "deskA", "tok-0123456789abcdef", "Ann", ""});
  }

  void TearDown() override {
    if (manager_ && manager_->isInCall()) manager_->endCall();
    runMainLoopUntil([this] { return !manager_ || manager_->callState() == CallState(Kind::idle); }, 10.0);
    callees_.clear();
    manager_.reset();
    drainMainLoop();
    releaseLoopbackPeer(peer_);
  }

  std::shared_ptr<ScriptedCallee> callee(const std::string& device, ScriptedCallee::OnOffer script) {
    auto made = ScriptedCallee::start(server_->url(), device, script);
    EXPECT_TRUE(runMainLoopUntil([&] { return made->isReady(); }));
    callees_.push_back(made);
    return made;
  }
  void call() { manager_->makeCall(CallUser{"4712", "Bob", std::nullopt, "4712", false}, CallType::audio); }
  bool stateIs(Kind kind) const { return manager_->callState() == CallState(kind); }
  bool logged(const std::string& part) const {
    return std::any_of(lines_.begin(), lines_.end(), [&](const auto& line) { return line.find(part) != line.npos; });
  }
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
  std::vector<std::string> lines_;
  std::shared_ptr<CallPeerConnection> peer_;
  std::shared_ptr<NativeCallManager> manager_;
  std::vector<std::shared_ptr<ScriptedCallee>> callees_;
};

TEST_F(CallNegotiationIntegration, TheCalleeAnswersTheCallConnectsWithAudioBothWaysAndEndsWithItsHangUp) {
  auto phone = callee("B", ScriptedCallee::OnOffer::answer);
  auto tablet = callee("C", ScriptedCallee::OnOffer::ring);
  call();
  ASSERT_TRUE(runMainLoopUntil([&] { return stateIs(Kind::connected); }, 30.0)) << "state stuck";
  EXPECT_EQ(phone->offers, 1);
  EXPECT_EQ(tablet->offers, 1);
  EXPECT_TRUE(logged("[NativeCallMgr] Callee is ringing — offerReceived from=4712_B"));
  EXPECT_TRUE(logged("[NativeCallMgr] Answer received fromDeviceUdid=B"));
  EXPECT_EQ(manager_->state().call.remoteDeviceUdid, "B");
  EXPECT_GT(phone->candidatesReceived, 0);
  EXPECT_GT(phone->candidatesSent, 0);
  EXPECT_TRUE(manager_->state().call.currentCallId.has_value()) << "the offer's acknowledgement carries the record id";

  // Audio flows both ways.
  ASSERT_TRUE(runMainLoopUntil([&] { return audioPacketsReceived(*peer_) > 0; }, 20.0));
  ASSERT_TRUE(runMainLoopUntil([&] { return audioPacketsReceived(*phone->peer()) > 0; }, 20.0));

  // The tablet, still ringing, says busy late: nothing changes.
  tablet->send("userBusy");
  ASSERT_TRUE(runMainLoopUntil([&] { return logged("[NativeCallMgr] userBusy from 4712_C ignored"); }, 10.0));
  runMainLoopUntil([] { return false; }, 0.5);
  EXPECT_TRUE(stateIs(Kind::connected));

  // The phone hangs up: the call ends here and tears down.
  phone->send("endCall");
  ASSERT_TRUE(runMainLoopUntil([&] { return stateIs(Kind::idle); }, 10.0));
  EXPECT_TRUE(logged("· state connected → ended"));
  EXPECT_TRUE(logged("■ END — the other side hung up"));
}

TEST_F(CallNegotiationIntegration, TheCalleesBusyReplyAndItsDeclineEachEndTheCallAsBusy) {
  for (const auto script : {ScriptedCallee::OnOffer::busy, ScriptedCallee::OnOffer::decline}) {
    SCOPED_TRACE(script == ScriptedCallee::OnOffer::busy ? "busy" : "decline");
    lines_.clear();
    auto phone = callee(script == ScriptedCallee::OnOffer::busy ? "B" : "D", script);
    call();
    ASSERT_TRUE(runMainLoopUntil([&] { return stateIs(Kind::busy); }, 20.0));
    ASSERT_TRUE(runMainLoopUntil([&] { return stateIs(Kind::ended); }, 5.0));
    ASSERT_TRUE(runMainLoopUntil([&] { return stateIs(Kind::idle); }, 5.0));
    EXPECT_TRUE(logged("■ END — the other side is busy / declined"));
    callees_.clear();
    phone.reset();
  }
}

TEST_F(CallNegotiationIntegration, NoAnswerWithinTheRingTimeEndsTheCallAsMissedOnEveryDevice) {
  auto phone = callee("B", ScriptedCallee::OnOffer::ring);
  call();
  ASSERT_TRUE(runMainLoopUntil([&] { return logged("offerReceived from=4712_B"); }, 20.0));
  // The ring timer gives the ringing device 35 s.
  ASSERT_TRUE(runMainLoopUntil([&] { return stateIs(Kind::missed); }, 45.0));
  ASSERT_TRUE(runMainLoopUntil([&] { return phone->endsReceived.size() >= 2; }, 10.0));
  ASSERT_TRUE(runMainLoopUntil([&] { return stateIs(Kind::idle); }, 10.0));
  EXPECT_TRUE(logged("■ END — no answer — ring timeout"));
}

}  // namespace
}  // namespace orvik::testing
