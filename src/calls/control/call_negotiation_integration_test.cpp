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
#include "calls/control/test_support/scripted_callee.h"
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
