// Incoming calls on virtual time against the recording fakes: the intake and
// its guards (decoy, recently ended at 179/180 s, busy, the ringing call
// announced again), the parked call and its replay (45/46 s, early Accept),
// offers and their acknowledgement, ghost rings, the single apply point in
// every arrival order, permission denial, declining, and my other devices.
#include <gtest/gtest.h>

#include <algorithm>

#include "calls/control/test_support/manager_harness.h"

namespace orvik::testing {
namespace {

using Kind = CallState::Kind;
using Strings = std::vector<std::string>;
using nlohmann::json;

// The caller's side of the fake network: only what it takes to write a real
// offer the callee's fake connection can apply.
class OfferWriter final : public CallPeerConnectionDelegate {
 public:
  void peerConnectionDidFail(const PeerConnectionError&) override {}
  void peerConnectionDidGenerateCandidate(const LocalIceCandidate&) override {}
  void peerConnectionDidChangeIceState(PeerConnectionState) override {}
  void peerConnectionDidCreateOffer(const std::optional<std::string>& description) override { offer = description; }
  void peerConnectionDidCreateAnswer(const std::optional<std::string>&) override {}
  void peerConnectionDidReceiveDataChannelMessage(const std::string&) override {}
  void peerConnectionDidOpenRemoteDataChannel() override {}
  void attachRemoteTrack(const RemoteMediaTrack&) override {}
  std::optional<std::string> offer;
};

class IncomingCallTest : public ::testing::Test, public ManagerHarness {
 protected:
  void ring(const std::string& pushId = "PUSH-1", const std::string& from = "4712", bool fromPush = false,
            bool identityGuessed = false) {
    manager->prepareSignalingForIncoming(from, std::optional<std::string>("Bob"), true, pushId, "https://b/bob.png",
                                         fromPush, false, true, identityGuessed);
  }
  // Rings, and the call server takes the socket.
  void ringConnected(const std::string& pushId = "PUSH-1") {
    ring(pushId);
    acceptSocket();
  }

  // A real offer of the caller's device `address` (written once per test).
  std::string offerText(const std::string& address = "4712_phoneB") {
    if (!callerPeer_) {
      callerPeer_ = network.makePeer(address);
      callerPeer_->setDelegate(writer_);
      callerPeer_->build({{}, "all", false, true}, [this](BuildResult result) {
        if (result == BuildResult::built) callerPeer_->createOffer();
      });
      queue.runUntilIdle();
    }
    return writer_->offer.value_or("");
  }
  void deliverOffer(const std::string& from = "4712_phoneB", std::optional<std::string> sdp = std::nullopt) {
    const std::string text = sdp ? *sdp : offerText(from);
    hub.last()->receive(socketio::encodeEvent(
        "call", json::array({{{"type", "offer"}, {"from", from}, {"to", "4711"}, {"isAudio", true},
                              {"sdp", json::parse(text)}}}),
        std::nullopt));
    queue.runUntilIdle();
  }
  void deliverNoPendingCall() {
    hub.last()->receive(socketio::encodeEvent("getPendingCall", json::array({{{"data", json::array()}}}), std::nullopt));
    queue.runUntilIdle();
  }
  // Every event of `name` sent on every connection, as its first argument.
  std::vector<json> sentEvents(const std::string& name) const {
    std::vector<json> events;
    for (const auto& connection : hub.connections) {
      for (const auto& text : connection->sentPackets()) {
        const auto engine = socketio::decodeEnginePacket(text);
        const auto packet = engine ? socketio::decodeSocketPacket(engine->payload) : std::nullopt;
        if (packet && packet->type == socketio::SocketPacketType::event && packet->data[0] == name) {
          events.push_back(packet->data.size() > 1 ? packet->data[1] : json());
        }
      }
    }
    return events;
  }
  Strings myDeviceActions() const {
    Strings actions;
    for (const auto& event : sentEvents("sendToMyDevices")) actions.push_back(event.value("type", "?"));
    return actions;
  }
  std::size_t commandCount(const std::string& name) const {
    return static_cast<std::size_t>(std::count(peer->commands.begin(), peer->commands.end(), name));
  }
  bool portsHave(const std::string& line, std::size_t from = 0) const {
    return std::find(ports.begin() + static_cast<std::ptrdiff_t>(from), ports.end(), line) != ports.end();
  }
  const CallSession* session() const { return manager->state().call.currentSession.get(); }

  std::shared_ptr<OfferWriter> writer_ = std::make_shared<OfferWriter>();
  std::shared_ptr<FakePeerConnection> callerPeer_;
};

TEST_F(IncomingCallTest, AnAnnouncementRingsAndConnectsTheCallSocketEarly) {
  signIn();
  ring();
  EXPECT_EQ(manager->callState(), CallState(Kind::ringing));
  EXPECT_EQ(manager->callGeneration(), 1);
  ASSERT_TRUE(session());
  EXPECT_EQ(session()->sessionId, "PUSH-1");
  EXPECT_EQ(session()->direction, CallDirection::incoming);
  EXPECT_EQ(session()->remoteUser.name, "Bob");
  EXPECT_EQ(session()->remoteUser.userNumber, "4712");
  EXPECT_EQ(session()->remoteUser.avatarURL, "https://b/bob.png");
  ASSERT_TRUE(hub.last());
  EXPECT_NE(hub.last()->url.find("userNumber=4711&deviceUdid=deskA&pushToken=PUSH-1&isFreeUser=false"),
            std::string::npos)
      << hub.last()->url;
  queue.runUntilIdle();
  EXPECT_EQ(ports, (Strings{"inhibit Orvik Call In Progress", "tone ringtone",
                            "floating start Bob avatar=https://b/bob.png audio ringing=true"}));
  EXPECT_TRUE(logged("INCOMING 4712"));
  EXPECT_TRUE(logged("via incoming panel / web · audio"));
}

TEST_F(IncomingCallTest, AGuessedIdentityShowsUnknownCallerWithoutANumber) {
  signIn();
  manager->prepareSignalingForIncoming("4712", std::optional<std::string>("Unknown"), true, "PUSH-1",
                                       "https://b/bob.png", true, true, true, true);
  ASSERT_TRUE(session());
  EXPECT_EQ(session()->remoteUser.name, "Unknown Caller");
  EXPECT_EQ(session()->remoteUser.userNumber, "");
  EXPECT_FALSE(session()->remoteUser.avatarURL);
  EXPECT_FALSE(session()->remoteUser.isSubscribed);
  queue.runUntilIdle();
  EXPECT_TRUE(portsHave("floating start Unknown Caller avatar= audio ringing=true"));
  EXPECT_TRUE(logged("caller identity GUESSED (fixed when the offer arrives)"));
}

TEST_F(IncomingCallTest, DecoyAndWipeOutModesLetNothingRing) {
  signIn();
  manager->setSecurityState(true, false);
  ring();
  manager->handleIncomingCall("4712", "Bob", true, "PUSH-1", true);
  EXPECT_EQ(manager->callState(), CallState(Kind::idle));
  EXPECT_EQ(manager->callGeneration(), 0);
  EXPECT_FALSE(hub.last());
}

TEST_F(IncomingCallTest, ACallEndedHereIsIgnoredFor180Seconds) {
  struct Row {
    double after;
    bool rings;
  };
  for (const Row row : {Row{179.0, false}, Row{180.0, true}}) {
    ManagerHarness h;
    h.signIn();
    h.manager->prepareSignalingForIncoming("4712", std::nullopt, true, "PUSH-1", "", false, false, true, false);
    h.manager->hangUpCurrentCall();  // declines: clean-up 1.5 s later records the push id
    h.queue.advance(NativeCallManager::kRejectCleanupSeconds);
    ASSERT_EQ(h.manager->callState(), CallState(Kind::idle));
    h.queue.advance(row.after);
    const auto mark = h.portsMark();
    const auto generation = h.manager->callGeneration();
    h.manager->prepareSignalingForIncoming("4712", std::nullopt, true, "PUSH-1", "", false, false, true, false);
    h.queue.runUntilIdle();
    EXPECT_EQ(h.manager->callState(), CallState(row.rings ? Kind::ringing : Kind::idle)) << row.after;
    EXPECT_EQ(h.manager->callGeneration(), generation + (row.rings ? 1 : 0)) << row.after;
    if (!row.rings) {
      // The stale panel of the ended call goes.
      EXPECT_EQ(h.portsSince(mark), (Strings{"dismiss panel", "close audio", "close video", "floating end"}));
    }
  }
}

TEST_F(IncomingCallTest, ABusyDeviceAnswersANewCallerBusyAndOnlySomePathsTellMyDevices) {
  struct Row {
    const char* path;
    Strings myDevices;
  };
  for (const Row& row : {Row{"prepare", {}}, Row{"handleIncomingCall", {"rejectCall"}},
                         Row{"sendBusyToNewCaller", {"rejectCall"}}}) {
    ManagerHarness h;
    h.signIn();
    h.placeCall();
    const std::string path = row.path;
    if (path == "prepare") {
      h.manager->prepareSignalingForIncoming("4799", std::nullopt, true, "PUSH-9", "", false, false, true, false);
    } else if (path == "handleIncomingCall") {
      h.manager->handleIncomingCall("4799", std::nullopt, true, "PUSH-9", true);
    } else {
      h.manager->sendBusyToNewCaller("4799");
    }
    h.queue.runUntilIdle();
    EXPECT_EQ(h.callFrames(), Strings{"userBusy 4799 4711_deskA"}) << row.path;
    Strings actions;
    for (const auto& connection : h.hub.connections) {
      for (const auto& text : connection->sentPackets()) {
        if (text.find("sendToMyDevices") != std::string::npos) actions.push_back("rejectCall");
      }
    }
    EXPECT_EQ(actions, row.myDevices) << row.path;
    EXPECT_EQ(h.manager->callState(), CallState(Kind::calling)) << row.path;
    EXPECT_EQ(h.manager->callGeneration(), 1) << row.path;
  }
}

TEST_F(IncomingCallTest, TheRingingCallAnnouncedAgainSendsNothing) {
  signIn();
  ringConnected();
  queue.runUntilIdle();
  const auto mark = portsMark();
  ring();                                                            // the page's panel after the push
  manager->handleIncomingCall("4712", "Bob", true, "PUSH-1", true);  // the page asks for the window
  manager->handleIncomingCall("4712", "Bob", true, "", true);        // the same caller while it rings
  manager->sendBusyToNewCaller("4712");
  queue.runUntilIdle();
  EXPECT_EQ(callFrames(), Strings{});
  EXPECT_EQ(myDeviceActions(), Strings{});
  EXPECT_EQ(manager->callState(), CallState(Kind::ringing));
  EXPECT_EQ(manager->callGeneration(), 1);
  EXPECT_EQ(portsSince(mark), (Strings{"open audio Bob 4712 image= dark incoming",
                                       "open audio Bob 4712 image= dark incoming"}));
}

TEST_F(IncomingCallTest, AnAnnouncementOfTheAnsweredCallDoesNotEndIt) {
  signIn();
  ringConnected();
  sendIceServers();
  manager->acceptCall();
  queue.runUntilIdle();
  ASSERT_EQ(manager->callState(), CallState(Kind::connecting));
  const auto before = callFrames();
  ring();  // a late push of the call being answered
  queue.runUntilIdle();
  EXPECT_EQ(callFrames(), before);
  EXPECT_EQ(manager->callState(), CallState(Kind::connecting));
}

TEST_F(IncomingCallTest, AnEndedCallStillShownIsCleanedUpBeforeTheNextRings) {
  signIn();
  placeCall();
  manager->endCall();
  ASSERT_EQ(manager->callState(), CallState(Kind::ended));
  ring();
  EXPECT_EQ(manager->callState(), CallState(Kind::ringing));
  EXPECT_EQ(manager->callGeneration(), 2);
  EXPECT_EQ(session()->sessionId, "PUSH-1");
}

TEST_F(IncomingCallTest, FreshCredentialsAfterARejectedTokenReconnectTheRingingCall) {
  signIn();
  ringConnected();
  hub.last()->receive(socketio::encodeEvent("invalid_token", json::array({{{"message", "token rejected"}}}),
                                            std::nullopt));
  queue.runUntilIdle();
  ASSERT_TRUE(manager->state().call.awaitingReauth);
  ASSERT_EQ(manager->callState(), CallState(Kind::ringing));
  const auto connections = hub.connections.size();
  manager->setCredentials({"4711", "deskA", "tok-fresh-0123456789", "Ann", ""});
  queue.runUntilIdle();
  EXPECT_FALSE(manager->state().call.awaitingReauth);
  ASSERT_EQ(hub.connections.size(), connections + 1);
  EXPECT_NE(hub.last()->url.find("token=tok-fresh-0123456789&userNumber=4711&deviceUdid=deskA&pushToken=PUSH-1"),
            std::string::npos)
      << hub.last()->url;
  EXPECT_EQ(manager->callState(), CallState(Kind::ringing));
}

TEST_F(IncomingCallTest, WithoutCredentialsTheCallIsParkedAndReplayedUpTo45Seconds) {
  struct Row {
    double credentialsAfter;
    bool rings;
  };
  for (const Row row : {Row{45.0, true}, Row{46.0, false}}) {
    ManagerHarness h;
    h.manager->prepareSignalingForIncoming("4712", std::optional<std::string>("Bob"), true, "PUSH-1", "", false,
                                           false, true, false);
    EXPECT_EQ(h.fetches, Strings{"incoming-call"});
    EXPECT_EQ(h.manager->callState(), CallState(Kind::idle));
    EXPECT_FALSE(h.hub.last());
    // The same call again 5 s later keeps the first record's time.
    h.queue.advance(5.0);
    h.manager->prepareSignalingForIncoming("4712", std::optional<std::string>("Bob"), true, "PUSH-1", "", false,
                                           false, true, false);
    ASSERT_TRUE(h.manager->state().kept.deferredIncoming);
    h.queue.advance(row.credentialsAfter - 5.0);
    h.signIn();
    h.queue.runUntilIdle();
    EXPECT_FALSE(h.manager->state().kept.deferredIncoming) << row.credentialsAfter;
    EXPECT_EQ(h.manager->callState(), CallState(row.rings ? Kind::ringing : Kind::idle)) << row.credentialsAfter;
    EXPECT_EQ(h.hub.last() != nullptr, row.rings) << row.credentialsAfter;
  }
}

TEST_F(IncomingCallTest, AnotherCallReplacesTheParkedOne) {
  ring("PUSH-1", "4712");
  queue.advance(3.0);
  ring("PUSH-2", "4713");
  ASSERT_TRUE(manager->state().kept.deferredIncoming);
  EXPECT_EQ(manager->state().kept.deferredIncoming->pushId, "PUSH-2");
  signIn();
  queue.runUntilIdle();
  ASSERT_TRUE(session());
  EXPECT_EQ(session()->sessionId, "PUSH-2");
  EXPECT_EQ(manager->state().call.remoteUserNumber, "4713");
}

TEST_F(IncomingCallTest, AnEarlyAcceptRingsAndAcceptsInOneGoWhenCredentialsLand) {
  ring();
  manager->acceptIncomingFromPanel("4712", "Bob", true, "PUSH-1", true);
  EXPECT_EQ(fetches, (Strings{"incoming-call", "accept-incoming"}));
  ASSERT_TRUE(manager->state().kept.deferredIncoming);
  EXPECT_TRUE(manager->state().kept.deferredIncoming->acceptWhenReady);
  queue.advance(10.0);
  signIn();
  queue.runUntilIdle();
  EXPECT_EQ(manager->callState(), CallState(Kind::ringing));
  EXPECT_TRUE(manager->state().call.pendingAutoAccept);
  EXPECT_TRUE(manager->state().call.acceptWatchdogTimer);
  acceptSocket();
  sendIceServers();
  // The peer connection is ready: the accept runs.
  EXPECT_EQ(manager->callState(), CallState(Kind::connecting));
  EXPECT_EQ(myDeviceActions(), Strings{"acceptCall"});
}

TEST_F(IncomingCallTest, TheFallbackAcceptStartsACallAttemptOfItsOwn) {
  signIn();
  manager->acceptIncomingFromPanel("4712", "Bob", false, "PUSH-1", true);
  EXPECT_EQ(manager->callGeneration(), 1);
  EXPECT_EQ(manager->callState(), CallState(Kind::ringing));
  EXPECT_TRUE(manager->state().call.pendingAutoAccept);
  ASSERT_TRUE(hub.last());
  queue.runUntilIdle();
  EXPECT_TRUE(portsHave("open video Bob 4712 image= dark connecting"));
  EXPECT_TRUE(portsHave("floating start Bob avatar= video ringing=false"));
  EXPECT_FALSE(portsHave("inhibit Orvik Call In Progress"));
  // 20 s without an answer: the accept watchdog ends the call.
  queue.advance(NativeCallManager::kAcceptWatchdogSeconds);
  EXPECT_EQ(manager->callState(), CallState(Kind::ended));
  EXPECT_TRUE(logged("ACCEPT WATCHDOG: answer still not sent 20s after accept (accepted on panel before the call "
                     "socket existed)"));
}

TEST_F(IncomingCallTest, TheRingingCallersOfferIsStoredAndAcknowledged) {
  signIn();
  ringConnected();
  deliverOffer();
  const auto& call = manager->state().call;
  ASSERT_TRUE(call.pendingRemoteOffer);
  EXPECT_EQ(call.pendingRemoteOffer->from, "4712_phoneB");
  EXPECT_EQ(call.remoteDeviceUdid, "phoneB");
  const auto frames = sentEvents("call");
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0], (json{{"type", "offerReceived"}, {"to", "4712_phoneB"}, {"from", "4711_deskA"},
                             {"isAudio", true}, {"iceRestartV1", true}}));
  // Delivered again by the pending-call record: dropped.
  deliverOffer();
  EXPECT_EQ(sentEvents("call").size(), 1u);
  EXPECT_TRUE(logged("ignoring duplicate"));
}

TEST_F(IncomingCallTest, AStrangersOfferNeverTakesOverACallerThePageNamed) {
  signIn();
  ringConnected();
  deliverOffer("4799_evil");
  EXPECT_FALSE(manager->state().call.pendingRemoteOffer);
  EXPECT_EQ(manager->state().call.remoteUserNumber, "4712");
  EXPECT_EQ(session()->remoteUser.userNumber, "4712");
  EXPECT_EQ(callFrames(), Strings{});
  EXPECT_TRUE(logged("Offer from 4799 while busy with 4712 — ignoring it, sending nothing"));
}

TEST_F(IncomingCallTest, TheOfferCorrectsAGuessedCallerAndAsksThePageSafely) {
  signIn();
  manager->prepareSignalingForIncoming("4700", std::nullopt, true, "PUSH-1", "", false, false, true, true);
  acceptSocket();
  const std::string hostile = "47\");alert(1);//";
  deliverOffer(hostile + "_phoneB", offerText("4712_phoneB"));
  EXPECT_EQ(manager->state().call.remoteUserNumber, hostile);
  EXPECT_EQ(session()->remoteUser.userNumber, hostile);
  EXPECT_EQ(session()->remoteUser.name, hostile);
  const std::string expected = "if (typeof window.__orvikResolveCallerIdentity === 'function') "
                               "window.__orvikResolveCallerIdentity(\"47\\\");alert(1);//\");";
  EXPECT_EQ(std::count(page->scripts.begin(), page->scripts.end(), expected), 1) << ::testing::PrintToString(page->scripts);
  for (const auto& script : page->scripts) EXPECT_EQ(script.find("(\"47\");"), std::string::npos) << script;
  // Ringing: the panel and the audio screen show the offer's caller; the
  // panel waits for the page's name (no name came with a live offer).
  EXPECT_TRUE(portsHave("panel identity " + hostile + " " + hostile + " image="));
  EXPECT_TRUE(portsHave("audio screen identity " + hostile + " " + hostile + " image="));
  EXPECT_FALSE(portsHave("panel revealed"));

  // The page's answer is the final word.
  const auto mark = portsMark();
  manager->callerIdentityResolved(hostile, "Eve", std::optional<std::string>("https://e/eve.png"), true);
  queue.runUntilIdle();
  EXPECT_EQ(session()->remoteUser.name, "Eve");
  EXPECT_EQ(portsSince(mark), (Strings{"panel identity Eve " + hostile + " image=https://e/eve.png gold",
                                       "audio screen identity Eve " + hostile + " image=https://e/eve.png gold",
                                       "panel revealed"}));
}

TEST_F(IncomingCallTest, CallerIdentityFromThePageIsTakenOnlyForTheCallsCaller) {
  signIn();
  ring();
  queue.runUntilIdle();
  const auto mark = portsMark();
  manager->callerIdentityResolved("4799", "Eve", std::nullopt, false);
  manager->callerIdentityResolved("4712", "", std::nullopt, false);
  queue.runUntilIdle();
  EXPECT_EQ(session()->remoteUser.name, "Bob");
  EXPECT_EQ(portsSince(mark), Strings{});
}

TEST_F(IncomingCallTest, AGhostRingIsDismissedAfterItsGrace) {
  struct Row {
    const char* name;
    bool fromPush;
    bool freshCredentials;  // handed over again 6 s before the server's word
    double grace;
  };
  for (const Row& row : {Row{"push ring", true, false, 0.0}, Row{"page ring", false, false, 5.0},
                         Row{"page ring right after credentials", false, true, 9.0}}) {
    ManagerHarness h;
    h.signIn();
    h.manager->prepareSignalingForIncoming("4712", std::nullopt, true, "PUSH-1", "", row.fromPush, false, true,
                                           false);
    h.acceptSocket();
    h.queue.advance(3.0);
    if (row.freshCredentials) h.signIn();
    h.queue.advance(6.0);
    h.hub.last()->receive(
        socketio::encodeEvent("getPendingCall", json::array({{{"data", json::array()}}}), std::nullopt));
    h.queue.runUntilIdle();
    if (row.grace > 0) {
      h.queue.advance(row.grace - 0.1);
      EXPECT_EQ(h.manager->callState(), CallState(Kind::ringing)) << row.name;
      h.queue.advance(0.1);
    }
    EXPECT_EQ(h.manager->callState(), CallState(Kind::idle)) << row.name;
    EXPECT_EQ(h.callFrames(), Strings{}) << row.name;
  }
}

TEST_F(IncomingCallTest, AnOfferWithinTheGraceKeepsTheRing) {
  signIn();
  ringConnected();
  deliverNoPendingCall();
  queue.advance(2.0);
  deliverOffer();
  queue.advance(10.0);
  EXPECT_EQ(manager->callState(), CallState(Kind::ringing));
  EXPECT_TRUE(logged("Ghost-ring dismiss skipped"));
}

// The three things an answer needs, in every order, after the user accepted
// (on the call window, or on the panel before the peer connection was
// ready): the offer is applied once, one answer and one accept broadcast go
// out.
TEST_F(IncomingCallTest, EveryArrivalOrderAppliesTheOfferOnceWithOneAcceptBroadcast) {
  enum Event { peerReady, captureReady, offerStored };
  std::vector<Event> order = {peerReady, captureReady, offerStored};
  std::sort(order.begin(), order.end());
  for (const bool onPanel : {false, true}) {
    do {
      std::string name = onPanel ? "panel:" : "window:";
      for (auto event : order) name += event == peerReady ? " peer" : event == captureReady ? " capture" : " offer";
      ManagerHarness h;
      h.signIn();
      h.capture.holdCapture = true;
      h.manager->prepareSignalingForIncoming("4712", std::optional<std::string>("Bob"), true, "PUSH-1", "", false,
                                             false, true, false);
      h.acceptSocket();
      if (onPanel) {
        h.manager->acceptIncomingFromPanel("4712", "Bob", true, "PUSH-1", true);
      } else {
        h.manager->acceptCall();
      }
      h.queue.runUntilIdle();

      // The caller's offer, written by a fake peer of the same network.
      auto writer = std::make_shared<OfferWriter>();
      auto caller = h.network.makePeer("4712_phoneB");
      caller->setDelegate(writer);
      caller->build({{}, "all", false, true}, [&](BuildResult r) {
        if (r == BuildResult::built) caller->createOffer();
      });
      h.queue.runUntilIdle();
      ASSERT_TRUE(writer->offer) << name;

      for (auto event : order) {
        switch (event) {
          case peerReady: h.sendIceServers(); break;
          case captureReady:
            h.capture.holdCapture = false;
            h.capture.finishCapture();
            break;
          case offerStored:
            h.hub.last()->receive(socketio::encodeEvent(
                "call", json::array({{{"type", "offer"}, {"from", "4712_phoneB"}, {"to", "4711"}, {"isAudio", true},
                                      {"sdp", json::parse(*writer->offer)}}}),
                std::nullopt));
            break;
        }
        h.queue.runUntilIdle();
      }
      const auto count = [&](const std::string& command) {
        return std::count(h.peer->commands.begin(), h.peer->commands.end(), command);
      };
      EXPECT_EQ(count("setRemoteDescription"), 1) << name;
      EXPECT_EQ(count("createAnswer"), 1) << name;
      const auto frames = h.callFrames();
      EXPECT_EQ(std::count(frames.begin(), frames.end(), "answer 4712_phoneB 4711_deskA"), 1) << name;
      int broadcasts = 0;
      for (const auto& connection : h.hub.connections) {
        for (const auto& text : connection->sentPackets()) {
          if (text.find("\"sendToMyDevices\"") != std::string::npos) ++broadcasts;
        }
      }
      EXPECT_EQ(broadcasts, 1) << name;
      EXPECT_EQ(h.manager->callState(), CallState(Kind::connecting)) << name;
      EXPECT_TRUE(h.manager->state().call.localAnswerSent) << name;
      EXPECT_FALSE(h.manager->state().call.acceptWatchdogTimer) << name;
      // Nothing ends the call while ICE gets going.
      h.queue.advance(NativeCallManager::kAcceptWatchdogSeconds + 1);
      EXPECT_NE(h.manager->callState(), CallState(Kind::ended)) << name;
    } while (std::next_permutation(order.begin(), order.end()));
  }
}

TEST_F(IncomingCallTest, ADeniedMicrophoneEndsTheCallWithItsReason) {
  signIn();
  ringConnected();
  sendIceServers();
  authorization.answers[platform::CaptureDevice::microphone] = false;
  authorization.holdAnswers = true;
  manager->acceptCall();
  EXPECT_EQ(manager->callState(), CallState(Kind::connecting));
  // The system answers later, on a thread of its own.
  authorization.answerAll();
  EXPECT_EQ(manager->callState(), CallState(Kind::connecting));
  queue.runUntilIdle();
  EXPECT_EQ(manager->callState(), CallState(Kind::ended));
  EXPECT_EQ(authorization.asked, std::vector<platform::CaptureDevice>{platform::CaptureDevice::microphone});
  EXPECT_TRUE(alerts.shown.empty());
  queue.advance(5.0);
  EXPECT_TRUE(logged("■ END — microphone permission denied"));
}

TEST_F(IncomingCallTest, APermissionAnswerForAnEarlierCallTouchesNothing) {
  signIn();
  ringConnected();
  sendIceServers();
  authorization.holdAnswers = true;
  manager->acceptCall();
  manager->endCall();
  queue.advance(5.0);
  ring("PUSH-2");
  authorization.answerAll();
  queue.runUntilIdle();
  EXPECT_EQ(manager->callState(), CallState(Kind::ringing));
  EXPECT_FALSE(manager->state().call.acceptWatchdogTimer);
  EXPECT_FALSE(portsHave("start capture audio"));
}

TEST_F(IncomingCallTest, AcceptWithoutAMicrophoneEndsTheCallWithAnAlert) {
  signIn();
  ringConnected();
  capture.microphone = false;
  manager->acceptCall();
  EXPECT_EQ(manager->callState(), CallState(Kind::ended));
  ASSERT_EQ(alerts.shown.size(), 1u);
  EXPECT_EQ(alerts.shown[0].first, "No Microphone Found");
}

TEST_F(IncomingCallTest, AcceptOnAStalePanelOfACallEndedHereIsIgnored) {
  signIn();
  ring();
  manager->rejectCall();
  queue.advance(NativeCallManager::kRejectCleanupSeconds);
  const auto connections = hub.connections.size();
  queue.advance(10.0);
  const auto mark = portsMark();
  manager->acceptIncomingFromPanel("4712", "Bob", true, "PUSH-1", true);
  queue.runUntilIdle();
  EXPECT_EQ(manager->callState(), CallState(Kind::idle));
  EXPECT_EQ(hub.connections.size(), connections);
  EXPECT_EQ(portsSince(mark), (Strings{"dismiss panel", "close audio", "close video", "floating end"}));
}

TEST_F(IncomingCallTest, AVideoCallAnsweredWithoutACameraGoesOnWithTheCameraOff) {
  signIn();
  manager->prepareSignalingForIncoming("4712", std::optional<std::string>("Bob"), false, "PUSH-1", "", false, false,
                                       false, false);
  acceptSocket();
  sendIceServers();
  capture.camera = false;
  const auto mark = portsMark();
  manager->acceptIncomingFromPanel("4712", "Bob", false, "PUSH-1", false);
  queue.runUntilIdle();
  EXPECT_EQ(manager->callState(), CallState(Kind::connecting));
  ASSERT_EQ(alerts.shown.size(), 1u);
  EXPECT_EQ(alerts.shown[0], (std::pair<std::string, std::string>{
                                 "No Camera Found", "No camera is connected. The call will continue with audio only."}));
  const auto since = portsSince(mark);
  for (const char* line : {"open video Bob 4712 image= light connecting", "capture camera off",
                           "camera off in windows", "start capture video", "clear incoming",
                           "floating awaitingAccept false"}) {
    EXPECT_NE(std::find(since.begin(), since.end(), line), since.end()) << line;
  }
  EXPECT_EQ(session()->type, CallType::video);
}

// The camera's frames go into the source the connection made for the call,
// so the camera starts only once the connection is built, however early the
// call window's Accept came.
TEST_F(IncomingCallTest, AVideoCallAcceptedBeforeItsConnectionExistsStartsTheCameraIntoTheConnectionsSource) {
  signIn();
  manager->prepareSignalingForIncoming("4712", std::optional<std::string>("Bob"), false, "PUSH-1", "", false, false,
                                       false, false);
  acceptSocket();
  const auto mark = portsMark();
  manager->acceptCall();
  queue.runUntilIdle();
  EXPECT_EQ(manager->callState(), CallState(Kind::connecting));
  auto since = portsSince(mark);
  EXPECT_EQ(std::count(since.begin(), since.end(), "start capture video"), 0) << ::testing::PrintToString(since);

  sendIceServers();
  since = portsSince(mark);
  const auto attach = std::find_if(since.begin(), since.end(), [](const std::string& l) { return l.starts_with("attach video"); });
  const auto start = std::find(since.begin(), since.end(), "start capture video");
  ASSERT_NE(attach, since.end()) << ::testing::PrintToString(since);
  ASSERT_NE(start, since.end()) << ::testing::PrintToString(since);
  EXPECT_LT(attach, start);
  EXPECT_EQ(std::count(since.begin(), since.end(), "start capture video"), 1);
}

TEST_F(IncomingCallTest, WithoutACallSocketTheAcceptGoesThroughThePage) {
  signIn();
  ringConnected();
  signaling->disconnect();
  manager->acceptIncomingFromPanel("4712", "Bob", true, "PUSH-1", true);
  queue.runUntilIdle();
  const std::string script = "(function(){ if (window.__orvikBroadcastAccept) { "
                             "window.__orvikBroadcastAccept({ nativeUnavailable: true }); return true; } "
                             "return false; })();";
  EXPECT_EQ(std::count(page->scripts.begin(), page->scripts.end(), script), 1)
      << ::testing::PrintToString(page->scripts);
  // A second accept (the call window's) sends no second broadcast.
  manager->acceptCall();
  queue.runUntilIdle();
  EXPECT_EQ(std::count(page->scripts.begin(), page->scripts.end(), script), 1);
}

TEST_F(IncomingCallTest, DecliningAnswersBusyTellsMyDevicesAndThePageThenCleansUp) {
  signIn();
  ringConnected();
  deliverOffer();
  const auto mark = portsMark();
  manager->rejectCall();
  EXPECT_EQ(manager->callState(), CallState(Kind::rejected));
  queue.runUntilIdle();
  EXPECT_EQ(callFrames(), (Strings{"offerReceived 4712_phoneB 4711_deskA", "userBusy 4712 4711_deskA"}));
  EXPECT_EQ(myDeviceActions(), Strings{"rejectCall"});
  EXPECT_NE(std::find(page->scripts.begin(), page->scripts.end(),
                      "if (typeof window.__orvikBroadcastReject === 'function') window.__orvikBroadcastReject();"),
            page->scripts.end());
  EXPECT_EQ(portsSince(mark), (Strings{"stop tone", "timer Call rejected", "connected false", "close audio",
                                       "close video", "dismiss panel"}));
  EXPECT_TRUE(session());
  queue.advance(1.4);
  EXPECT_EQ(manager->callState(), CallState(Kind::rejected));
  queue.advance(0.1);
  EXPECT_EQ(manager->callState(), CallState(Kind::idle));
  EXPECT_TRUE(manager->wasRecentlyEndedIncoming("PUSH-1"));
  EXPECT_TRUE(logged("■ END — declined by me"));
}

TEST_F(IncomingCallTest, DecliningIsOnlyForARingingCall) {
  signIn();
  placeCall();
  manager->rejectCall();
  EXPECT_EQ(manager->callState(), CallState(Kind::calling));
  EXPECT_EQ(callFrames(), Strings{});
}

TEST_F(IncomingCallTest, MyOtherDevicesActOnlyOnTheCallThatRingsHere) {
  struct Row {
    const char* name;
    bool connected;  // this device answered the call
    std::optional<std::string> action;
    std::optional<std::string> pushId;
    bool dismissed;
    const char* reason;
  };
  const std::vector<Row> rows = {
      {"accepted elsewhere", false, "acceptCall", std::nullopt, true, "answered on another of my devices"},
      {"declined elsewhere", false, "rejectCall", std::nullopt, true, "declined on another of my devices"},
      {"ended elsewhere", false, "endCall", std::nullopt, true, "ended on another of my devices"},
      {"accepted elsewhere, this call", false, "acceptCall", "PUSH-1", true, "answered on another of my devices"},
      {"accepted elsewhere, another call", false, "acceptCall", "PUSH-9", false, nullptr},
      {"unknown action", false, "AcceptCall", std::nullopt, false, nullptr},
      {"no action", false, std::nullopt, std::nullopt, false, nullptr},
      {"an accept elsewhere during my answered call", true, "acceptCall", std::nullopt, false, nullptr},
      {"an end elsewhere during my answered call", true, "endCall", std::nullopt, false, nullptr},
  };
  for (const auto& row : rows) {
    ManagerHarness h;
    h.signIn();
    h.manager->prepareSignalingForIncoming("4712", std::nullopt, true, "PUSH-1", "", false, false, true, false);
    h.acceptSocket();
    if (row.connected) {
      h.sendIceServers();
      h.manager->acceptCall();
      h.queue.runUntilIdle();
    }
    const auto before = h.manager->callState();
    h.manager->handleSendToMyDevices(row.action, row.pushId);
    h.queue.runUntilIdle();
    if (row.dismissed) {
      EXPECT_EQ(h.manager->callState(), CallState(Kind::idle)) << row.name;
      EXPECT_TRUE(h.logged(std::string("■ END — ") + row.reason)) << row.name;
      EXPECT_EQ(h.callFrames(), Strings{}) << row.name;
    } else {
      EXPECT_EQ(h.manager->callState(), before) << row.name;
      EXPECT_FALSE(h.logged("■ END")) << row.name;
    }
  }
}

TEST_F(IncomingCallTest, TheSocketsNoticeFromMyOtherDeviceStopsTheRing) {
  signIn();
  ringConnected();
  hub.last()->receive(socketio::encodeEvent("sendToMyDevices", json::array({{{"type", "rejectCall"}}}), std::nullopt));
  queue.runUntilIdle();
  EXPECT_EQ(manager->callState(), CallState(Kind::idle));
  EXPECT_TRUE(logged("■ END — declined on another of my devices"));
}

}  // namespace
}  // namespace orvik::testing
