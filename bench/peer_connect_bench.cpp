// Connect time of a call: from the offer being created to both sides
// connected, for the direct (host) path on loopback and the relay-only path
// through a local TURN server; and the recovery of a relay-only call whose
// relay was cut and came back: from the ICE-restart offer being asked for to
// both sides connected again on the same connection. Prints the median and
// the worst of N calls (N/3, at least 1, recoveries: each waits for WebRTC to
// notice the cut).
//   build/bench/bench_peer_connect [calls]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "calls/media/test_support/loopback_call.h"
#include "core/native_logger.h"

using namespace orvik;

namespace {

std::vector<double> measure(const std::vector<ICEServer>& servers, bool allowAll, int calls) {
  std::vector<double> millis;
  for (int i = 0; i < calls; ++i) {
    platform::VirtualQueue main;
    platform::ScopedMainQueue scoped(main);
    testing::LoopbackCall call(main);
    const std::string error = call.connect(servers, allowAll);
    const auto end = std::chrono::steady_clock::now();
    if (!error.empty()) {
      std::fprintf(stderr, "call %d: %s\n", i, error.c_str());
      continue;
    }
    millis.push_back(std::chrono::duration<double, std::milli>(end - call.offerRequestedAt).count());
  }
  std::sort(millis.begin(), millis.end());
  return millis;
}

std::vector<double> measureRecovery(testing::LocalTurnServer& turn, int calls) {
  std::vector<double> millis;
  for (int i = 0; i < calls; ++i) {
    platform::VirtualQueue main;
    platform::ScopedMainQueue scoped(main);
    testing::LoopbackCall call(main);
    std::string error = call.connect(turn.iceServers(), /*allowAll=*/false);
    if (error.empty()) {
      turn.stop();
      const bool noticed = call.pumpUntil(
          [&] {
            return call.callerEvents->saw(PeerConnectionState::disconnected) &&
                   call.calleeEvents->saw(PeerConnectionState::disconnected);
          },
          std::chrono::seconds(60));
      if (!noticed) error = "the cut was not noticed";
      if (!turn.restart()) error = "turnserver did not come back";
    }
    const auto start = std::chrono::steady_clock::now();
    if (error.empty()) error = call.restartIce();
    if (error.empty() && !call.waitConnected(std::chrono::seconds(60))) error = "not connected after the restart";
    if (!error.empty()) {
      std::fprintf(stderr, "recovery %d: %s\n", i, error.c_str());
      continue;
    }
    millis.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
  }
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
  const int calls = argc > 1 ? std::atoi(argv[1]) : 10;
  NativeLogger::shared().setPrintFunction([](const std::string&) {});
  report("host", measure({}, /*allowAll=*/true, calls));
  if (auto turn = testing::LocalTurnServer::start()) {
    report("relay", measure(turn->iceServers(), /*allowAll=*/false, calls));
    report("restart", measureRecovery(*turn, std::max(1, calls / 3)));
  } else {
    std::printf("relay    skipped: turnserver did not start\n");
  }
  return 0;
}
