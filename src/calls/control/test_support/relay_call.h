// Two call engines of this project in one process, in a call through the
// local call server (tools/devservice) and a coturn relay on loopback: Ann
// (4711 on deskA) calls Bob (4712 on phoneB), each with its own manager,
// socket, relay-only WebRTC connection, page and recording ports. The relay
// belongs to the harness, which can cut it (its own process, killed by PID)
// and bring it back on the same port. For the ICE-recovery integration tests
// and the recovery benchmark.
//
// THREADING: main queue (the GLib main context); the test installs it.
#pragma once

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "calls/control/call_strings.h"
#include "calls/control/native_call_manager.h"
#include "calls/control/test_support/recording_call_ports.h"
#include "calls/media/call_peer_connection.h"
#include "calls/media/test_support/loopback_call.h"
#include "calls/signaling/test_support/call_server.h"
#include "platform/recording_page_script_sink.h"
#include "platform/test_support/main_loop.h"
#include "platform/test_support/temp_dir.h"
#include "platform/user_defaults.h"

namespace orvik::testing {

// One program's call engine.
struct RelayCallParty {
  RelayCallParty(const std::string& serverURL, const std::string& userNumber, const std::string& device)
      : userNumber(userNumber), device(device) {
    NativeCallManager::Collaborators c{
        CallSignalingService::make(serverURL, socketio::soupTransportFactory(), [](std::string_view) {}),
        peer, tones, windows, alerts, capture, share, displaySleep, defaults};
    c.strings = &strings;
    c.log = [this](const std::string& line) { lines.push_back(line); };
    c.fetchCredentials = [this](const std::string& reason) { credentialFetches.push_back(reason); };
    manager = NativeCallManager::create(std::move(c));
    manager->setWebView(page);
    signIn("tok-" + userNumber + "-0123456789");
  }
  ~RelayCallParty() {
    manager.reset();
    closeAndRelease(peer);
  }
  void signIn(const std::string& token) {
    manager->setCredentials({userNumber, device, token, "Party " + userNumber, ""});
  }
  CallState::Kind state() const { return manager->callState().kind(); }
  bool logged(const std::string& part) const {
    return std::any_of(lines.begin(), lines.end(), [&](const auto& line) { return line.find(part) != line.npos; });
  }
  bool portsHave(const std::string& line) const { return std::find(ports.begin(), ports.end(), line) != ports.end(); }
  bool isReconnecting() const { return static_cast<bool>(manager->state().call.iceDisconnectTimer); }
  CallTimerManager& timers() { return manager->timersForTesting(); }

  const std::string userNumber, device;
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
  // Relay and reflexive candidates only, as in the program: with a relay in
  // the ICE servers the connection is relay-only.
  std::shared_ptr<CallPeerConnection> peer = CallPeerConnection::create({}, loopbackHooks(false));
  std::shared_ptr<platform::RecordingPageScriptSink> page = std::make_shared<platform::RecordingPageScriptSink>();
  std::vector<std::string> lines;
  std::vector<std::string> credentialFetches;
  std::shared_ptr<NativeCallManager> manager;
};

class RelayCall {
 public:
  // Null (and `error` set) when coturn or the call server did not start.
  // The relay hands out ports from the range every relay of the tests uses:
  // tests that use it hold the "turn_relay_ports" lock (their names contain
  // "Relay").
  static std::unique_ptr<RelayCall> start(std::string& error) {
    auto call = std::unique_ptr<RelayCall>(new RelayCall());
    call->relay = LocalTurnServer::start();
    if (!call->relay) {
      error = "turnserver did not start";
      return nullptr;
    }
    auto list = nlohmann::json::array();
    for (const auto& server : call->relay->iceServers()) {
      list.push_back({{"urls", server.urls}, {"username", server.username}, {"credential", server.credential}});
    }
    CallServerOptions options;
    options.iceServersJson = list.dump();
    call->server = CallServer::start(options, error);
    if (!call->server) return nullptr;
    call->ann = std::make_unique<RelayCallParty>(call->server->url(), "4711", "deskA");
    call->bob = std::make_unique<RelayCallParty>(call->server->url(), "4712", "phoneB");
    return call;
  }
  ~RelayCall() {
    for (auto* party : {ann.get(), bob.get()}) {
      if (party && party->manager->isInCall()) party->manager->endCall();
    }
    runMainLoopUntil([this] { return ann->state() == CallState::Kind::idle && bob->state() == CallState::Kind::idle; },
                     10.0);
    ann.reset();
    bob.reset();
    drainMainLoop();
  }

  // Ann calls Bob, Bob's phone rings with her offer and he accepts; true once
  // both are connected. Empty text, or what went wrong.
  std::string connect(double timeoutSeconds = 40.0) {
    ann->manager->makeCall(CallUser{"4712", "Bob", std::nullopt, "4712", false}, CallType::audio);
    if (!awaitFrame("offer", "4711", 0)) return "Ann's offer never reached the server";
    bob->manager->prepareSignalingForIncoming("4711", std::optional<std::string>("Ann"), true, "PUSH-A1", "", false,
                                              false, true, false);
    if (!runMainLoopUntil([&] { return bob->manager->state().call.pendingRemoteOffer.has_value(); }, 20.0)) {
      return "Bob never stored Ann's offer";
    }
    bob->manager->acceptIncomingFromPanel("4711", "Ann", true, "PUSH-A1", true);
    if (!runMainLoopUntil([&] { return bothConnected(); }, timeoutSeconds)) return "the call never connected";
    return "";
  }
  bool bothConnected() const {
    return ann->state() == CallState::Kind::connected && bob->state() == CallState::Kind::connected &&
           !ann->isReconnecting() && !bob->isReconnecting();
  }
  // Whether both sides receive audio packets beyond what they had.
  bool audioFlows(double timeoutSeconds = 20.0) {
    const auto annBefore = audioPacketsReceived(*ann->peer), bobBefore = audioPacketsReceived(*bob->peer);
    return runMainLoopUntil(
        [&] { return audioPacketsReceived(*ann->peer) > annBefore && audioPacketsReceived(*bob->peer) > bobBefore; },
        timeoutSeconds);
  }
  // The server's first relayed call frame of `type` from `fromUser` at report
  // index `mark` or later.
  std::optional<nlohmann::json> awaitFrame(const std::string& type, const std::string& fromUser, std::size_t mark,
                                           double timeoutSeconds = 20.0) {
    return server->runMainLoopUntilFrame(fromUser, type, mark, timeoutSeconds);
  }

  std::unique_ptr<LocalTurnServer> relay;
  std::unique_ptr<CallServer> server;
  std::unique_ptr<RelayCallParty> ann, bob;

 private:
  RelayCall() = default;
};

}  // namespace orvik::testing
