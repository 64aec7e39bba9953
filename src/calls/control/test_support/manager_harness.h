// A NativeCallManager on virtual time with a recording fake for every port:
// signalling over a fake transport (the test plays the call server), a fake
// peer connection, and the windows, alerts, capture, tones, screen share and
// display-sleep fakes writing to one ordered list (`ports`).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "calls/control/call_strings.h"
#include "calls/control/native_call_manager.h"
#include "calls/control/test_support/recording_call_ports.h"
#include "calls/media/test_support/fake_peer_connection.h"
#include "calls/signaling/socketio/fake_transport.h"
#include "calls/signaling/socketio/packet_codec.h"
#include "platform/dispatch/virtual_queue.h"
#include "platform/fake_capture_authorization.h"
#include "platform/recording_page_script_sink.h"
#include "platform/test_support/temp_dir.h"
#include "platform/user_defaults.h"

namespace orvik::testing {

struct ManagerHarness {
  ManagerHarness() {
    NativeCallManager::Collaborators c{signaling, peer, tones, windows, alerts, capture, share, displaySleep, defaults};
    c.strings = &strings;
    c.pushToken = [this] { return pushToken; };
    c.fetchCredentials = [this](const std::string& reason) { fetches.push_back(reason); };
    c.log = [this](const std::string& line) { lines.push_back(line); };
    c.captureAuthorization = &authorization;
    manager = NativeCallManager::create(std::move(c));
    manager->setWebView(page);
  }

  void signIn() { manager->setCredentials({"4711", "deskA", "tok-0123456789abcdef", "Ann", "https://a/ann.png"}); }
  static CallUser bob() { return CallUser{"4712", "Bob", std::nullopt, "4712", false}; }

  // Places a call to Bob and lets the call server accept the socket.
  void placeCall(CallType type = CallType::audio) {
    manager->makeCall(bob(), type);
    acceptSocket();
  }
  void acceptSocket() {
    if (hub.last() && hub.last()->isLive()) hub.last()->acceptWith();
    queue.runUntilIdle();
  }
  // The call server sends its ICE configuration.
  void sendIceServers() {
    hub.last()->receive(socketio::encodeEvent(
        "getToken",
        nlohmann::json::array({{{"token", {{"iceServers", {{{"urls", "stun:127.0.0.1:3478"}}}},
                                           {"iceTransportPolicy", "all"}}}}}),
        std::nullopt));
    queue.runUntilIdle();
  }

  // Every "call" frame sent on every connection, as "type to from".
  std::vector<std::string> callFrames() const {
    std::vector<std::string> frames;
    for (const auto& connection : hub.connections) {
      for (const auto& text : connection->sentPackets()) {
        const auto engine = socketio::decodeEnginePacket(text);
        const auto packet = engine ? socketio::decodeSocketPacket(engine->payload) : std::nullopt;
        if (!packet || packet->type != socketio::SocketPacketType::event || packet->data[0] != "call") continue;
        const auto& frame = packet->data[1];
        frames.push_back(frame.value("type", "?") + " " + frame.value("to", "?") + " " + frame.value("from", "?"));
      }
    }
    return frames;
  }
  bool logged(const std::string& part) const {
    for (const auto& line : lines) {
      if (line.find(part) != std::string::npos) return true;
    }
    return false;
  }
  std::size_t portsMark() const { return ports.size(); }
  std::vector<std::string> portsSince(std::size_t mark) const { return {ports.begin() + mark, ports.end()}; }

  platform::VirtualQueue queue;
  platform::ScopedMainQueue main{queue};
  platform::ScopedClock clock{queue.clock()};
  TempDir folder;
  platform::UserDefaults defaults{folder / "defaults.json"};
  PortLog ports;
  RecordingCallWindows windows{ports};
  RecordingCallAlerts alerts{ports};
  FakeCallCapture capture{ports};
  RecordingCallTones tones{ports};
  FakeCallScreenShare share{ports};
  FakeDisplaySleepInhibitor displaySleep{ports};
  std::vector<std::string> lines;
  CallStrings strings{[](const std::string&) {}};
  socketio::FakeTransportHub hub;
  std::shared_ptr<CallSignalingService> signaling =
      CallSignalingService::make("https://calls.example", hub.factory(), [](std::string_view) {});
  FakePeerNetwork network;
  std::shared_ptr<FakePeerConnection> peer = network.makePeer("4711_deskA");
  std::shared_ptr<platform::RecordingPageScriptSink> page = std::make_shared<platform::RecordingPageScriptSink>();
  std::string pushToken;
  std::vector<std::string> fetches;
  platform::FakeCaptureAuthorization authorization;
  std::shared_ptr<NativeCallManager> manager;
};

}  // namespace orvik::testing
