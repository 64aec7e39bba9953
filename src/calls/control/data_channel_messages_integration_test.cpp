// Two call engines in one process call each other through the local call
// server (tools/devservice, real Socket.IO on 127.0.0.1) over real WebRTC on
// loopback; what one side's buttons send reaches the other over the call's
// data channel, byte for byte.
#include <gtest/gtest.h>

#include <algorithm>

#include "calls/control/call_strings.h"
#include "calls/control/native_call_manager.h"
#include "calls/control/test_support/channel_tap.h"
#include "calls/control/test_support/recording_call_ports.h"
#include "calls/media/call_peer_connection.h"
#include "calls/media/test_support/loopback_call.h"
#include "calls/signaling/test_support/call_server.h"
#include "platform/dispatch/glib_main_queue.h"
#include "platform/recording_page_script_sink.h"
#include "platform/test_support/main_loop.h"
#include "platform/test_support/temp_dir.h"
#include "platform/user_defaults.h"

namespace orvik::testing {
namespace {

using Kind = CallState::Kind;
using Strings = std::vector<std::string>;

// One program's call engine: its own identity, socket, connection and ports.
struct Party {
  Party(const std::string& serverURL, const std::string& userNumber, const std::string& device) {
    NativeCallManager::Collaborators c{
        CallSignalingService::make(serverURL, socketio::soupTransportFactory(), [](std::string_view) {}),
        peer, tones, windows, alerts, capture, share, displaySleep, defaults};
    c.strings = &strings;
    c.log = [](const std::string&) {};
    manager = NativeCallManager::create(std::move(c));
    manager->setWebView(page);
    manager->setCredentials({userNumber, device, "tok-" + userNumber + "-0123456789", "Party " + userNumber, ""});
  }
  ~Party() {
    manager.reset();
    closeAndRelease(peer);
  }
  Kind state() const { return manager->callState().kind(); }
  bool portsHave(const std::string& line) const { return std::find(ports.begin(), ports.end(), line) != ports.end(); }

  TempDir folder;
  platform::UserDefaults defaults{folder / "defaults.json"};
  PortLog ports;
  RecordingCallWindows windows{ports};
  RecordingCallAlerts alerts{ports};
  FakeCallCapture capture{ports};
  RecordingCallTones tones{ports};
  FakeCallScreenShare share{ports};
  FakeDisplaySleepInhibitor displaySleep{ports};
  CallStrings strings{[](const std::string&) {}};
  std::shared_ptr<CallPeerConnection> peer = CallPeerConnection::create({}, loopbackHooks(true));
  std::shared_ptr<platform::RecordingPageScriptSink> page = std::make_shared<platform::RecordingPageScriptSink>();
  std::shared_ptr<NativeCallManager> manager;
};

class DataChannelMessagesIntegration : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    server_ = CallServer::start(CallServerOptions{}, error);
    ASSERT_TRUE(server_) << error;
    ann_ = std::make_unique<Party>(server_->url(), "4711", "deskA");
    bob_ = std::make_unique<Party>(server_->url(), "4712", "phoneB");
  }
  void TearDown() override {
    if (ann_ && ann_->manager->isInCall()) ann_->manager->endCall();
    runMainLoopUntil([&] { return !ann_ || ann_->state() == Kind::idle; }, 10.0);
    ann_.reset();
    bob_.reset();
  }

  // Ann calls Bob, whose page announces the call; Bob accepts.
  void connectCall() {
    const auto mark = server_->reportCount();
    ann_->manager->makeCall(CallUser{"4712", "Bob", std::nullopt, "4712", false}, CallType::audio);
    // Bob's program hears of the call once Ann's offer waits on the server.
    const auto offer = server_->runMainLoopUntilFrame("4711", "offer", mark);
    ASSERT_TRUE(offer);
    bob_->manager->prepareSignalingForIncoming("4711", std::optional<std::string>("Ann"), true, "PUSH-A1", "", false,
                                               false, true, false);
    ASSERT_TRUE(runMainLoopUntil([&] { return bob_->manager->state().call.pendingRemoteOffer.has_value(); }, 20.0));
    bob_->manager->acceptIncomingFromPanel("4711", "Ann", true, "PUSH-A1", true);
    ASSERT_TRUE(runMainLoopUntil([&] { return ann_->state() == Kind::connected && bob_->state() == Kind::connected; },
                                 40.0));
  }

  platform::GlibMainQueue queue_;
  platform::ScopedMainQueue main_{queue_};
  std::unique_ptr<CallServer> server_;
  std::unique_ptr<Party> ann_, bob_;
};

TEST_F(DataChannelMessagesIntegration, MutingOnOneSideReachesTheOtherAsExactlyOneAudioToggledText) {
  connectCall();
  if (HasFatalFailure()) return;
  // The channel is open once the callee has said "accepted".
  auto tap = std::make_shared<ChannelTap>(bob_->manager);
  bob_->peer->setDelegate(tap);
  auto annTap = std::make_shared<ChannelTap>(ann_->manager);
  ann_->peer->setDelegate(annTap);

  ann_->manager->setMuted(true);
  ASSERT_TRUE(runMainLoopUntil([&] { return !tap->texts.empty(); }, 15.0));
  ASSERT_TRUE(runMainLoopUntil([&] { return bob_->portsHave("remote muted true"); }, 5.0));
  // The speaker is local only: nothing more crosses.
  ann_->manager->setSpeakerEnabled(false);
  runMainLoopUntil([] { return false; }, 0.5);
  EXPECT_EQ(tap->texts, Strings{R"({"type":"AudioToggled","data":false})"});

  bob_->manager->setMuted(true);
  bob_->manager->setMuted(false);
  ASSERT_TRUE(runMainLoopUntil([&] { return std::count_if(annTap->texts.begin(), annTap->texts.end(), [](const auto& t) {
                                  return t != "accepted";
                                }) >= 2; },
                               15.0));
  // The callee's "accepted" may still be on its way when the tap goes in.
  std::erase(annTap->texts, "accepted");
  EXPECT_EQ(annTap->texts, (Strings{R"({"type":"AudioToggled","data":false})", R"({"type":"AudioToggled","data":true})"}));
  ASSERT_TRUE(runMainLoopUntil([&] { return ann_->portsHave("remote muted false"); }, 5.0));
  EXPECT_EQ(ann_->state(), Kind::connected);
  EXPECT_EQ(bob_->state(), Kind::connected);
}

}  // namespace
}  // namespace orvik::testing
