// Place → connected through the whole call manager: makeCall, the call
// socket to the local call server (tools/devservice), the ICE servers, the
// peer connection, capture, the device list and the offer, a scripted callee
// (this project's own signalling client and peer connection) that answers at
// once, candidates both ways, until the manager reports the call connected.
// For the direct (host) path on loopback and the relay-only path through a
// local TURN server. Prints the median and the worst of N calls.
//   build/bench/bench_call_connect [calls]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <nlohmann/json.hpp>

#include "calls/control/call_strings.h"
#include "calls/control/native_call_manager.h"
#include "calls/control/test_support/recording_call_ports.h"
#include "calls/control/test_support/scripted_callee.h"
#include "calls/media/test_support/loopback_call.h"
#include "calls/media/test_support/loopback_peer.h"
#include "calls/signaling/test_support/call_server.h"
#include "core/native_logger.h"
#include "platform/dispatch/glib_main_queue.h"
#include "platform/test_support/main_loop.h"
#include "platform/test_support/temp_dir.h"
#include "platform/user_defaults.h"

using namespace orvik;
using namespace orvik::testing;

namespace {

std::string iceServersJson(const std::vector<ICEServer>& servers) {
  auto list = nlohmann::json::array();
  for (const auto& server : servers) {
    list.push_back({{"urls", server.urls}, {"username", server.username}, {"credential", server.credential}});
  }
  return list.dump();
}

// `servers` empty: the call server's own list (host candidates carry the call).
std::vector<double> measure(const std::vector<ICEServer>& servers, bool allowAll, int calls) {
  std::vector<double> millis;
  CallServerOptions options;
  if (!servers.empty()) options.iceServersJson = iceServersJson(servers);
  std::string error;
  auto server = CallServer::start(options, error);
  if (!server) {
    std::fprintf(stderr, "call server: %s\n", error.c_str());
    return millis;
  }
  TempDir folder;
  platform::UserDefaults defaults(folder / "defaults.json");
  PortLog ports;
  RecordingCallWindows windows(ports);
  RecordingCallAlerts alerts(ports);
  FakeCallCapture capture(ports);
  RecordingCallTones tones(ports);
  FakeCallScreenShare share(ports);
  FakeDisplaySleepInhibitor displaySleep(ports);
  CallStrings strings([](const std::string&) {});
  auto peer = makeLoopbackPeer(allowAll);
  {
    NativeCallManager::Collaborators c{
        CallSignalingService::make(server->url(), socketio::soupTransportFactory(), [](std::string_view) {}), peer,
        tones, windows, alerts, capture, share, displaySleep, defaults};
    c.strings = &strings;
    c.log = [](const std::string&) {};
    auto manager = NativeCallManager::create(std::move(c));
    manager->setCredentials({"4711", "deskA", "tok-0123456789abcdef", "Ann", ""});
    const auto is = [&](CallState::Kind kind) { return manager->callState() == CallState(kind); };
    for (int i = 0; i < calls; ++i) {
      auto callee = ScriptedCallee::start(server->url(), "B", ScriptedCallee::OnOffer::answer, allowAll);
      if (!runMainLoopUntil([&] { return callee->isReady(); }, 10.0)) {
        std::fprintf(stderr, "call %d: the callee did not come online\n", i);
        continue;
      }
      const auto start = std::chrono::steady_clock::now();
      manager->makeCall(CallUser{"4712", "Bob", std::nullopt, "4712", false}, CallType::audio);
      const bool connected = runMainLoopUntil([&] { return is(CallState::Kind::connected); }, 40.0);
      const auto end = std::chrono::steady_clock::now();
      if (connected) {
        millis.push_back(std::chrono::duration<double, std::milli>(end - start).count());
      } else {
        std::fprintf(stderr, "call %d: not connected\n", i);
      }
      manager->endCall();
      runMainLoopUntil([&] { return is(CallState::Kind::idle); }, 10.0);
      callee.reset();
      drainMainLoop();
    }
  }
  drainMainLoop();
  releaseLoopbackPeer(peer);
  std::sort(millis.begin(), millis.end());
  return millis;
}

void report(const char* path, const std::vector<double>& millis) {
  if (millis.empty()) {
    std::printf("%-8s no call connected\n", path);
    return;
  }
  std::printf("%-8s calls=%zu median=%.1f ms worst=%.1f ms\n", path, millis.size(), millis[millis.size() / 2],
              millis.back());
}

}  // namespace

int main(int argc, char** argv) {
  const int calls = argc > 1 ? std::atoi(argv[1]) : 5;
  NativeLogger::shared().setPrintFunction([](const std::string&) {});
  platform::GlibMainQueue queue;
  platform::ScopedMainQueue main(queue);
  report("host", measure({}, /*allowAll=*/true, calls));
  if (auto turn = LocalTurnServer::start()) {
    report("relay", measure(turn->iceServers(), /*allowAll=*/false, calls));
  } else {
    std::printf("relay    skipped: turnserver did not start\n");
  }
  return 0;
}
