#include "calls/media/call_peer_connection.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <api/stats/rtc_stats_collector_callback.h>
#include <api/stats/rtcstats_objects.h>

#include <chrono>
#include <future>
#include <mutex>
#include <sstream>
#include <thread>

#include "calls/media/call_audio_device.h"
#include "calls/media/call_peer_connection_internal.h"
#include "calls/media/peer_configuration.h"
#include "calls/media/test_support/loopback_call.h"
#include "core/native_logger.h"
#include "platform/audio/fake_audio_hardware.h"
#include "platform/dispatch/virtual_queue.h"
#include "platform/test_support/subprocess.h"

namespace orvik {
namespace {

using namespace std::chrono_literals;
using orvik::testing::onPeerQueue;
using orvik::testing::RecordingPeerDelegate;

class StatsWaiter : public webrtc::RTCStatsCollectorCallback {
 public:
  void OnStatsDelivered(const rtc::scoped_refptr<const webrtc::RTCStatsReport>& report) override {
    report_.set_value(report);
  }
  std::future<rtc::scoped_refptr<const webrtc::RTCStatsReport>> report() { return report_.get_future(); }

 private:
  std::promise<rtc::scoped_refptr<const webrtc::RTCStatsReport>> report_;
};

// Audio packets that reached `side` from the other one.
std::uint64_t audioPacketsReceived(CallPeerConnection& side) {
  auto waiter = rtc::make_ref_counted<StatsWaiter>();
  auto report = waiter->report();
  onPeerQueue(side, [&] { webrtcConnection(side)->GetStats(waiter.get()); });
  std::uint64_t packets = 0;
  for (const auto* inbound : report.get()->GetStatsOfType<webrtc::RTCInboundRTPStreamStats>()) {
    if (inbound->kind.is_defined() && *inbound->kind == "audio" && inbound->packets_received.is_defined()) {
      packets += *inbound->packets_received;
    }
  }
  return packets;
}

class IgnoreRemoteResult : public webrtc::SetRemoteDescriptionObserverInterface {
 public:
  void OnSetRemoteDescriptionComplete(webrtc::RTCError) override {}
};

webrtc::PeerConnectionInterface::SignalingState signalingState(CallPeerConnection& side) {
  return onPeerQueue(side, [&] { return webrtcConnection(side)->signaling_state(); });
}

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
    callerEvents = call.callerEvents;
    calleeEvents = call.calleeEvents;
    EXPECT_NE(call.offerSdp.find("a=ptime:60"), std::string::npos);
    EXPECT_TRUE(logged("[Media] offer: Opus tuned (24 kbps mono, FEC, DTX, 60 ms)"));
    EXPECT_TRUE(logged("[Media] answer: Opus tuned (24 kbps mono, FEC, DTX, 60 ms)"));
    // The callee's first candidates came before the answer and were held.
    EXPECT_GT(call.heldBeforeAnswer, 0u);
    EXPECT_TRUE(callerEvents->failures.empty() && calleeEvents->failures.empty());
  }
  // A relay-only call through a fresh coturn; null when it did not start.
  std::unique_ptr<orvik::testing::LocalTurnServer> connectThroughRelay() {
    auto turn = orvik::testing::LocalTurnServer::start();
    if (turn) connect(turn->iceServers(), /*allowAllCandidates=*/false);
    return turn;
  }

  // One side on its own, heard by `events`.
  std::shared_ptr<CallPeerConnection> standalone(const std::shared_ptr<RecordingPeerDelegate>& events,
                                                 bool allowAllCandidates = true) {
    auto connection = CallPeerConnection::create({}, orvik::testing::loopbackHooks(allowAllCandidates));
    connection->setDelegate(events);
    return connection;
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
  std::shared_ptr<RecordingPeerDelegate> callerEvents, calleeEvents;
};

TEST_F(CallPeerConnectionIntegration, TwoPeersConnectOnLoopbackAndShowTheSelectedPair) {
  connect({}, /*allowAllCandidates=*/true);
  expectSelectedPairInStats();
  onPeerQueue(*caller, [&] { caller->applySenderCaps("test"); });
  EXPECT_TRUE(logged("[Media] sender caps applied (test) — audio 24 kbps high-priority, video camera 1.5 Mbps low-priority"));
  EXPECT_FALSE(logged("sender caps did not take"));
  // What the senders now hold, read back from WebRTC.
  onPeerQueue(*caller, [&] {
    for (const auto& sender : webrtcConnection(*caller)->GetSenders()) {
      if (!sender->track()) continue;
      const auto parameters = sender->GetParameters();
      ASSERT_FALSE(parameters.encodings.empty());
      const auto& encoding = parameters.encodings.front();
      if (sender->track()->kind() == "audio") {
        EXPECT_EQ(encoding.max_bitrate_bps, 24000);
        EXPECT_EQ(encoding.network_priority, webrtc::Priority::kHigh);
        EXPECT_EQ(encoding.bitrate_priority, 4.0);
      } else {
        EXPECT_EQ(encoding.max_bitrate_bps, 1500000);
        EXPECT_FALSE(encoding.max_framerate.has_value());
        EXPECT_EQ(encoding.network_priority, webrtc::Priority::kLow);
        EXPECT_EQ(parameters.degradation_preference, webrtc::DegradationPreference::MAINTAIN_FRAMERATE);
      }
    }
  });

  // The call ends; the next call builds afresh in the same objects.
  caller->close();
  callee->close();
  onPeerQueue(*caller, [&] { EXPECT_FALSE(caller->hasPeerConnection()); });
  onPeerQueue(*callee, [&] { EXPECT_FALSE(callee->hasPeerConnection()); });
  connect({}, /*allowAllCandidates=*/true, /*again=*/true);
}

TEST_F(CallPeerConnectionIntegration, BuildShapesTracksChannelAndRefusesToReplaceAnOpenConnection) {
  auto events = std::make_shared<RecordingPeerDelegate>();
  auto connection = standalone(events);
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
  orvik::testing::closeAndRelease(connection);
}

TEST_F(CallPeerConnectionIntegration, TheCallsAudioDeviceIsTheOneTheOwnerHandsIn) {
  platform::FakeAudioHardware hardware;
  bool custom = true;
  std::vector<std::shared_ptr<CallAudioDevice>> made;
  CallPeerConnectionOptions options;
  options.customAudioDeviceEnabled = [&] { return custom; };
  options.makeAudioDevice = [&] { return made.emplace_back(std::make_shared<CallAudioDevice>(hardware)); };
  auto hooks = std::make_shared<CallPeerConnection::TestHooks>();
  hooks->allowLoopback = true;
  auto connection = CallPeerConnection::create(options, hooks);
  auto events = std::make_shared<RecordingPeerDelegate>();
  connection->setDelegate(events);

  // Asked at each build: a fresh device per call while the owner says so.
  for (int call = 0; call < 2; ++call) {
    std::optional<BuildResult> built;
    connection->build({{}, "all", false, true}, [&](BuildResult result) { built = result; });
    ASSERT_TRUE(pumpUntil([&] { return built.has_value(); }));
    EXPECT_EQ(*built, BuildResult::built);
    connection->close();
  }
  EXPECT_EQ(made.size(), 2u);
  EXPECT_NE(made[0], made[1]);
  EXPECT_FALSE(logged("custom call audio device OFF"));

  custom = false;
  std::optional<BuildResult> built;
  connection->build({{}, "all", false, true}, [&](BuildResult result) { built = result; });
  ASSERT_TRUE(pumpUntil([&] { return built.has_value(); }));
  EXPECT_EQ(made.size(), 2u);
  EXPECT_TRUE(logged("[AudioDevice] custom call audio device OFF — WebRTC built-in audio"));
  orvik::testing::closeAndRelease(connection);
}

TEST_F(CallPeerConnectionIntegration, RelayOnlyThroughALocalTurnServer) {
  if (!orvik::testing::hasProgram("turnserver")) GTEST_SKIP() << "coturn is not installed";
  auto turn = connectThroughRelay();
  ASSERT_TRUE(turn) << "turnserver did not start";
  expectSelectedPairInStats();
  EXPECT_TRUE(logged("policy=relay (TURN only)"));
  EXPECT_TRUE(logged("via TURN/udp"));
}


TEST_F(CallPeerConnectionIntegration, AudioFromTheTestSourceReachesTheOtherSideAndRemoteTracksAreAttached) {
  connect({}, /*allowAllCandidates=*/true);
  for (auto* side : {callee.get(), caller.get()}) {
    bool arrived = false;
    pumpUntil([&] { return (arrived = audioPacketsReceived(*side) > 0); });
    EXPECT_TRUE(arrived);
  }
  for (const auto& events : {callerEvents, calleeEvents}) {
    auto kinds = [&](const std::string& kind) {
      return std::count_if(events->remoteTracks.begin(), events->remoteTracks.end(),
                           [&](const auto& track) { return track.kind == kind; });
    };
    // Once through the receiver and once through the transceiver.
    EXPECT_EQ(kinds("audio"), 2);
    EXPECT_EQ(kinds("video"), 2);
    for (const auto& track : events->remoteTracks) EXPECT_EQ(track.hasVideoHandle, track.kind == "video");
  }
}

TEST_F(CallPeerConnectionIntegration, ControlTextsQueueUntilTheChannelOpensAndArriveInOrder) {
  connect({}, /*allowAllCandidates=*/true);
  // The callee adopts the caller's channel once SCTP is up over the new path.
  ASSERT_TRUE(pumpUntil([&] { return calleeEvents->remoteChannelsOpened == 1; }));
  EXPECT_EQ(callerEvents->remoteChannelsOpened, 0);  // the caller made the channel

  // The next call: texts given while neither side has a channel wait for it.
  caller->close();
  callee->close();
  for (const char* text : {"one", "two", "three"}) caller->sendDataChannelMessage(text);
  callee->sendDataChannelMessage("accepted");
  EXPECT_EQ(onPeerQueue(*caller, [&] { return caller->pendingDataChannelMessageCount(); }), 3u);
  connect({}, /*allowAllCandidates=*/true, /*again=*/true);
  ASSERT_TRUE(pumpUntil([&] { return calleeEvents->messages.size() >= 3 && !callerEvents->messages.empty(); }));
  EXPECT_EQ(calleeEvents->messages, (std::vector<std::string>{"one", "two", "three"}));
  EXPECT_EQ(callerEvents->messages, std::vector<std::string>{"accepted"});

  // Open now: each text is its own message, in the order given.
  std::vector<std::string> sent;
  for (int i = 0; i < 10; ++i) {
    sent.push_back("{\"type\":\"AudioToggled\",\"data\":{\"n\":" + std::to_string(i) + "}}");
    caller->sendDataChannelMessage(sent.back());
  }
  sent.push_back("grüß 📞");
  caller->sendDataChannelMessage(sent.back());
  sent.insert(sent.begin(), {"one", "two", "three"});
  ASSERT_TRUE(pumpUntil([&] { return calleeEvents->messages.size() >= sent.size(); }));
  EXPECT_EQ(calleeEvents->messages, sent);
}

TEST_F(CallPeerConnectionIntegration, ASecondRemoteChannelIsAdoptedAndBytesThatAreNotUtf8ArriveAsEmptyText) {
  connect({}, /*allowAllCandidates=*/true);
  rtc::scoped_refptr<webrtc::DataChannelInterface> second = onPeerQueue(*caller, [&] {
    webrtc::DataChannelInit init;
    return webrtcConnection(*caller)->CreateDataChannelOrError("control", &init).MoveValue();
  });
  ASSERT_TRUE(pumpUntil([&] { return second->state() == webrtc::DataChannelInterface::kOpen && calleeEvents->remoteChannelsOpened == 2; }));
  onPeerQueue(*caller, [&] {
    second->Send(webrtc::DataBuffer(rtc::CopyOnWriteBuffer("\xff\xfe", 2), /*binary=*/true));
    second->Send(webrtc::DataBuffer(rtc::CopyOnWriteBuffer("endCall", 7), /*binary=*/true));
  });
  ASSERT_TRUE(pumpUntil([&] { return calleeEvents->messages.size() >= 2; }));
  EXPECT_EQ(calleeEvents->messages, (std::vector<std::string>{"", "endCall"}));
  onPeerQueue(*caller, [&] {
    second->Close();
    second = nullptr;
  });
}

TEST_F(CallPeerConnectionIntegration, EventsOfAClosedConnectionNeverReachTheNextCall) {
  connect({}, /*allowAllCandidates=*/true);
  // Gathering again leaves candidate events on their way to the main queue,
  // which does not run until the quick redial below is built.
  caller->createIceRestartOffer([](const std::optional<std::string>&) {});
  // The restart's completion and at least one new candidate are waiting.
  for (int i = 0; i < 2000 && main.pendingCount() < 2; ++i) std::this_thread::sleep_for(5ms);
  ASSERT_GE(main.pendingCount(), 2u);
  callerEvents->clear();
  caller->close();
  ASSERT_EQ(onPeerQueue(*caller, [&] { return caller->buildPeerConnection({}, "all", false, true); }), BuildResult::built);
  main.runUntilIdle();
  // Neither the old gathering nor our own close (closed is told as failed)
  // reached the call manager of the new call.
  EXPECT_TRUE(callerEvents->candidates.empty());
  EXPECT_TRUE(callerEvents->states.empty());
  EXPECT_TRUE(callerEvents->failures.empty());
  EXPECT_TRUE(callerEvents->offers.empty());
  EXPECT_EQ(caller->lastIceState(), IceConnectionState::newState);

  // The new connection is heard.
  caller->createOffer();
  ASSERT_TRUE(pumpUntil([&] { return !callerEvents->offers.empty() && !callerEvents->candidates.empty(); }));
  EXPECT_EQ(orvik::testing::sdpOf(callerEvents->offers.front()).find("m=video"), std::string::npos);
}

TEST_F(CallPeerConnectionIntegration, TheVideoSenderIsFoundAgainAfterItWasEmptied) {
  connect({}, /*allowAllCandidates=*/true);
  VideoTrackHandle camera;
  VideoSourceHandle source;
  caller->addLocalVideoTrack([&](VideoTrackHandle track, VideoSourceHandle videoSource) {
    camera = track;
    source = videoSource;
  });
  ASSERT_TRUE(pumpUntil([&] { return camera != nullptr; }));
  EXPECT_EQ(camera->track->id(), "video0");
  // A video call already has its camera track: nothing new is added.
  EXPECT_EQ(onPeerQueue(*caller, [&] { return webrtcConnection(*caller)->GetTransceivers().size(); }), 2u);

  auto senderTrack = [&] {
    return onPeerQueue(*caller, [&] {
      for (const auto& sender : webrtcConnection(*caller)->GetSenders()) {
        if (sender->media_type() == cricket::MEDIA_TYPE_VIDEO) return sender->track() ? sender->track()->id() : "none";
      }
      return std::string("no sender");
    });
  };
  auto replace = [&](VideoTrackHandle track) {
    bool done = false;
    caller->replaceLocalVideoTrack(std::move(track), [&] { done = true; });
    ASSERT_TRUE(pumpUntil([&] { return done; }));
  };
  replace(nullptr);
  EXPECT_EQ(senderTrack(), "none");
  auto screen = std::make_shared<VideoTrackRef>(VideoTrackRef{onPeerQueue(*caller, [&] {
    return webrtcFactory(*caller)->CreateVideoTrack("screen0", source->source.get());
  })});
  replace(screen);
  EXPECT_EQ(senderTrack(), "screen0");
  EXPECT_TRUE(logged("[Media] sender caps applied (video track replaced) — audio 24 kbps high-priority, video screen "
                     "2.5 Mbps/15fps low-priority"));
  replace(camera);
  EXPECT_EQ(senderTrack(), "video0");
  screen.reset();
  camera.reset();
  source.reset();
}

TEST_F(CallPeerConnectionIntegration, AnAudioCallGetsACameraTrackMidCallAndNoConnectionMeansNoTrack) {
  auto events = std::make_shared<RecordingPeerDelegate>();
  auto connection = standalone(events);

  // Before the build: no track, and a remote description is never applied.
  bool answered = false, applied = false;
  connection->addLocalVideoTrack([&](VideoTrackHandle track, VideoSourceHandle source) {
    answered = true;
    EXPECT_FALSE(track || source);
  });
  connection->setRemoteDescription({"offer", "v=0", std::nullopt}, [&] { applied = true; });
  onPeerQueue(*connection, [] {});
  ASSERT_TRUE(pumpUntil([&] { return answered; }));
  EXPECT_FALSE(applied);

  ASSERT_EQ(onPeerQueue(*connection, [&] { return connection->buildPeerConnection({}, "all", false, true); }),
            BuildResult::built);
  VideoTrackHandle camera;
  connection->addLocalVideoTrack([&](VideoTrackHandle track, VideoSourceHandle) { camera = track; });
  ASSERT_TRUE(pumpUntil([&] { return camera != nullptr; }));
  EXPECT_EQ(camera->track->id(), "video0");
  onPeerQueue(*connection, [&] { EXPECT_TRUE(connection->hasLocalVideoTrack()); });
  connection->createOffer();
  ASSERT_TRUE(pumpUntil([&] { return !events->offers.empty(); }));
  EXPECT_NE(orvik::testing::sdpOf(events->offers.front()).find("m=video"), std::string::npos);
  camera.reset();
  orvik::testing::closeAndRelease(connection);
}

TEST_F(CallPeerConnectionIntegration, ACutRelayIsRecoveredByIceRestartOnTheSameConnection) {
  if (!orvik::testing::hasProgram("turnserver")) GTEST_SKIP() << "coturn is not installed";
  auto turn = connectThroughRelay();
  ASSERT_TRUE(turn) << "turnserver did not start";
  auto* callerConnection = onPeerQueue(*caller, [&] { return webrtcConnection(*caller); });

  turn->stop();
  ASSERT_TRUE(pumpUntil(
      [&] {
        return callerEvents->saw(PeerConnectionState::disconnected) && calleeEvents->saw(PeerConnectionState::disconnected);
      },
      60s))
      << statsLines();
  ASSERT_TRUE(turn->restart());
  ASSERT_EQ(call.restartIce(), "");
  ASSERT_TRUE(call.waitConnected(60s)) << statsLines();
  EXPECT_EQ(onPeerQueue(*caller, [&] { return webrtcConnection(*caller); }), callerConnection);
  EXPECT_TRUE(logged("ICE restart (caller) — new credentials, gathering again"));
  EXPECT_TRUE(logged("ICE restart (callee) — new credentials, gathering again"));
  EXPECT_TRUE(logged("[Media] restart offer: Opus tuned"));

  // The call goes on over the new path.
  callee->sendDataChannelMessage("still here");
  ASSERT_TRUE(pumpUntil([&] { return !callerEvents->messages.empty(); }));
  EXPECT_EQ(callerEvents->messages.back(), "still here");
  const auto before = audioPacketsReceived(*callee);
  EXPECT_TRUE(pumpUntil([&] { return audioPacketsReceived(*callee) > before; }));
}

// The relay port of one of `events`' relay candidates on the bundled
// transport, or 0.
int relayPortOf(const RecordingPeerDelegate& events) {
  for (const auto& candidate : events.candidates) {
    if (candidate.sdpMid != "0" || candidate.candidate.find(" typ relay") == std::string::npos) continue;
    std::istringstream words(candidate.candidate);
    std::string word;
    for (int field = 0; field < 6 && (words >> word); ++field) {
    }
    return std::stoi(word);
  }
  return 0;
}

// Each side behind its own relay; the relays restart with only the port one
// of their earlier allocations had, so the peer's new relay candidate sits at
// the address of its old one. WebRTC aborted in its TURN port when such a
// call closed (a check on the port's permission entries) while the old
// candidates were still in its list when the new ports came up.
TEST_F(CallPeerConnectionIntegration, RelaysThatHandOutTheSameAddressesAfterARestartDoNotAbortTheEngine) {
  if (!orvik::testing::hasProgram("turnserver")) GTEST_SKIP() << "coturn is not installed";
  auto callerRelay = orvik::testing::LocalTurnServer::start(49152, 49225);
  auto calleeRelay = orvik::testing::LocalTurnServer::start(49226, 49300);
  ASSERT_TRUE(callerRelay && calleeRelay) << "turnserver did not start";
  call.calleeServers = calleeRelay->iceServers();
  connect(callerRelay->iceServers(), /*allowAllCandidates=*/false);
  const int callerPort = relayPortOf(*callerEvents), calleePort = relayPortOf(*calleeEvents);
  ASSERT_NE(callerPort, 0);
  ASSERT_NE(calleePort, 0);

  callerRelay->stop();
  calleeRelay->stop();
  ASSERT_TRUE(pumpUntil(
      [&] {
        return callerEvents->saw(PeerConnectionState::disconnected) && calleeEvents->saw(PeerConnectionState::disconnected);
      },
      60s))
      << statsLines();
  ASSERT_TRUE(callerRelay->restart(callerPort) && calleeRelay->restart(calleePort));
  ASSERT_EQ(call.restartIce(), "");
  ASSERT_TRUE(call.waitConnected(60s)) << statsLines();
  EXPECT_TRUE(logged("remote candidate(s) of the last attempt retired (removed=true)"));

  callee->sendDataChannelMessage("still here");
  ASSERT_TRUE(pumpUntil([&] { return !callerEvents->messages.empty(); }));
  // Closing destroys every connection of the call: this is where the check
  // failed.
  caller.reset();
  callee.reset();
  orvik::testing::closeAndRelease(call.caller);
  orvik::testing::closeAndRelease(call.callee);
}

TEST_F(CallPeerConnectionIntegration, SimultaneousRestartOffersRollTheCalleeBackAndBothConverge) {
  connect({}, /*allowAllCandidates=*/true);
  std::optional<std::optional<std::string>> callerOffer, calleeOffer, answer;
  caller->createIceRestartOffer([&](const std::optional<std::string>& offer) { callerOffer = offer; });
  callee->createIceRestartOffer([&](const std::optional<std::string>& offer) { calleeOffer = offer; });
  ASSERT_TRUE(pumpUntil([&] { return callerOffer && calleeOffer; }));
  ASSERT_TRUE(*callerOffer && *calleeOffer);
  EXPECT_EQ(signalingState(*callee), webrtc::PeerConnectionInterface::kHaveLocalOffer);

  // The caller's offer wins at the callee, whose own offer is abandoned.
  bool remoteApplied = false;
  call.calleeCandidates.beginRenegotiation();
  callee->answerIceRestartOffer(
      {"answer", orvik::testing::sdpOf(**callerOffer), std::nullopt},
      [&] {
        remoteApplied = true;
        call.calleeCandidates.remoteDescriptionWasSet();
      },
      [&](const std::optional<std::string>& description) { answer = description; });
  ASSERT_TRUE(pumpUntil([&] { return answer.has_value(); }));
  ASSERT_TRUE(*answer);
  EXPECT_TRUE(remoteApplied);
  EXPECT_EQ(nlohmann::json::parse(**answer)["type"], "answer");

  std::optional<bool> applied;
  caller->applyIceRestartAnswer({"offer", orvik::testing::sdpOf(**answer), std::nullopt}, [&](bool ok) { applied = ok; });
  ASSERT_TRUE(pumpUntil([&] { return applied.has_value(); }));
  EXPECT_TRUE(*applied);
  EXPECT_EQ(signalingState(*caller), webrtc::PeerConnectionInterface::kStable);
  EXPECT_EQ(signalingState(*callee), webrtc::PeerConnectionInterface::kStable);
  ASSERT_TRUE(call.waitConnected());

  // An answer with no offer of ours pending changes nothing.
  applied.reset();
  caller->applyIceRestartAnswer({"answer", orvik::testing::sdpOf(**answer), std::nullopt}, [&](bool ok) { applied = ok; });
  ASSERT_TRUE(pumpUntil([&] { return applied.has_value(); }));
  EXPECT_FALSE(*applied);
  // A restart offer in the middle of someone else's offer is skipped.
  std::optional<std::optional<std::string>> skipped;
  onPeerQueue(*callee, [&] {
    webrtcConnection(*callee)->SetRemoteDescription(
        webrtc::CreateSessionDescription(webrtc::SdpType::kOffer, orvik::testing::sdpOf(**calleeOffer)),
        rtc::make_ref_counted<IgnoreRemoteResult>());
  });
  callee->createIceRestartOffer([&](const std::optional<std::string>& offer) { skipped = offer; });
  ASSERT_TRUE(pumpUntil([&] { return skipped.has_value(); }));
  EXPECT_FALSE(*skipped);
}

TEST_F(CallPeerConnectionIntegration, ARelayOnlyAttemptWithoutRelayCandidatesRetriesWithoutHostCandidates) {
  auto events = std::make_shared<RecordingPeerDelegate>();
  auto connection = standalone(events, /*allowAllCandidates=*/false);
  // Nothing listens there: the attempt ends without a relay candidate.
  const std::vector<ICEServer> deadTurn = {{{"turn:127.0.0.1:9?transport=udp"}, "orvik", "secret"}};
  ASSERT_EQ(onPeerQueue(*connection, [&] { return connection->buildPeerConnection(deadTurn, "relay", false, true); }),
            BuildResult::built);
  auto policy = [&] { return onPeerQueue(*connection, [&] { return webrtcConnection(*connection)->GetConfiguration().type; }); };
  EXPECT_EQ(policy(), webrtc::PeerConnectionInterface::kRelay);
  const auto expected = hasRoutableIPv4() ? webrtc::PeerConnectionInterface::kNoHost : webrtc::PeerConnectionInterface::kRelay;
  for (int attempt = 0; attempt < 2; ++attempt) {
    std::optional<std::optional<std::string>> offer;
    connection->createIceRestartOffer([&](const std::optional<std::string>& description) { offer = description; });
    ASSERT_TRUE(pumpUntil([&] { return offer.has_value(); }));
    EXPECT_TRUE(*offer);
    // The switch goes one way only.
    EXPECT_EQ(policy(), expected) << attempt;
  }
  EXPECT_TRUE(logged("[ICE] caller +"));
  EXPECT_TRUE(logged("ICE restart (caller) — new credentials, gathering again"));
  orvik::testing::closeAndRelease(connection);
}

}  // namespace
}  // namespace orvik
